#include "support/CertificateAuthority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "support/TempDir.h"

namespace testing_support {
namespace {

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) throw std::runtime_error("cannot generate a key");
  return key;
}

std::string KeyPem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(size));
  BIO_free(bio);
  return pem;
}

std::string CertPem(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(size));
  BIO_free(bio);
  return pem;
}

EVP_PKEY* KeyFromPem(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

X509* CertFromPem(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return cert;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) throw std::runtime_error("bad certificate extension " + value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// Builds and signs one certificate; issuer null means self-signed.
X509* MakeCertificate(EVP_PKEY* key, const std::string& name, long serial, int notBeforeDays,
                      int notAfterDays, bool isCa, const std::vector<std::string>& dnsNames,
                      const std::vector<std::string>& ipAddresses, X509* issuer,
                      EVP_PKEY* issuerKey) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), static_cast<long>(notBeforeDays) * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(notAfterDays) * 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* subject = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : subject);
  X509* extensionIssuer = issuer ? issuer : cert;
  if (isCa) {
    AddExtension(cert, extensionIssuer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, extensionIssuer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert, extensionIssuer, NID_basic_constraints, "CA:FALSE");
    AddExtension(cert, extensionIssuer, NID_ext_key_usage, "serverAuth,clientAuth");
  }
  AddExtension(cert, extensionIssuer, NID_subject_key_identifier, "hash");
  std::string alternativeNames;
  for (const std::string& dns : dnsNames) {
    alternativeNames += (alternativeNames.empty() ? "" : ",") + std::string("DNS:") + dns;
  }
  for (const std::string& ip : ipAddresses) {
    alternativeNames += (alternativeNames.empty() ? "" : ",") + std::string("IP:") + ip;
  }
  if (!alternativeNames.empty()) {
    AddExtension(cert, extensionIssuer, NID_subject_alt_name, alternativeNames);
  }
  X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256());
  return cert;
}

IssuedCertificate Save(const std::string& folder, const std::string& name, X509* cert,
                       EVP_PKEY* key) {
  IssuedCertificate issued;
  issued.certFile = folder + "/" + name + ".crt";
  issued.keyFile = folder + "/" + name + ".key";
  std::string certPem = CertPem(cert);
  std::string keyPem = KeyPem(key);
  WriteFile(issued.certFile, certPem);
  WriteFile(issued.keyFile, keyPem);
  issued.pem = certPem + keyPem;
  return issued;
}

}  // namespace

CertificateAuthority::CertificateAuthority(const std::string& folder) : folder_(folder) {
  EVP_PKEY* key = NewKey();
  X509* cert = MakeCertificate(key, "Loopback Test CA", 1, -1, 365, true, {}, {}, nullptr, nullptr);
  caKeyPem_ = KeyPem(key);
  caCertPem_ = CertPem(cert);
  caFile_ = folder_ + "/ca.crt";
  WriteFile(caFile_, caCertPem_);
  X509_free(cert);
  EVP_PKEY_free(key);
}

IssuedCertificate CertificateAuthority::Issue(const std::string& name,
                                              const std::vector<std::string>& dnsNames,
                                              const std::vector<std::string>& ipAddresses,
                                              int notBeforeDays, int notAfterDays) {
  EVP_PKEY* caKey = KeyFromPem(caKeyPem_);
  X509* caCert = CertFromPem(caCertPem_);
  EVP_PKEY* key = NewKey();
  X509* cert = MakeCertificate(key, name, ++serial_, notBeforeDays, notAfterDays, false, dnsNames,
                               ipAddresses, caCert, caKey);
  IssuedCertificate issued = Save(folder_, name, cert, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  X509_free(caCert);
  EVP_PKEY_free(caKey);
  return issued;
}

IssuedCertificate CertificateAuthority::SelfSigned(const std::string& name,
                                                   const std::vector<std::string>& dnsNames,
                                                   const std::vector<std::string>& ipAddresses) {
  EVP_PKEY* key = NewKey();
  X509* cert = MakeCertificate(key, name, ++serial_, -1, 30, false, dnsNames, ipAddresses, nullptr,
                               nullptr);
  IssuedCertificate issued = Save(folder_, name, cert, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return issued;
}

}  // namespace testing_support
