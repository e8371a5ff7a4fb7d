// A test certificate authority made at test time with OpenSSL: a CA certificate,
// and certificates it issues (valid, expired, for another host name, self-signed,
// client certificates), written as PEM files into a folder.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct IssuedCertificate {
  std::string certFile;
  std::string keyFile;
  std::string pem;  // certificate followed by its private key
};

class CertificateAuthority {
 public:
  // Creates the CA key and certificate in folder.
  explicit CertificateAuthority(const std::string& folder);

  const std::string& CaFile() const { return caFile_; }

  // A certificate for the given DNS names / IP addresses, valid from notBeforeDays
  // to notAfterDays relative to now (negative = in the past).
  IssuedCertificate Issue(const std::string& name, const std::vector<std::string>& dnsNames,
                          const std::vector<std::string>& ipAddresses, int notBeforeDays = -1,
                          int notAfterDays = 30);
  // A certificate signed by its own key, not by this CA.
  IssuedCertificate SelfSigned(const std::string& name, const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ipAddresses);

 private:
  std::string folder_;
  std::string caFile_;
  std::string caKeyPem_;
  std::string caCertPem_;
  long serial_ = 100;
};

}  // namespace testing_support
