#include "platform/inet/TlsPolicy.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace inet {
namespace {

int PolicyIndex() {
  static int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TlsPolicy* PolicyOf(SSL* ssl) {
  if (ssl == nullptr) {
    return nullptr;
  }
  return static_cast<TlsPolicy*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), PolicyIndex()));
}

bool IsDateError(int error) {
  return error == X509_V_ERR_CERT_NOT_YET_VALID || error == X509_V_ERR_CERT_HAS_EXPIRED;
}

bool IsAuthorityError(int error) {
  return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
         error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
         error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
         error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
         error == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE || error == X509_V_ERR_CERT_UNTRUSTED;
}

int VerifyCertificate(int preverified, X509_STORE_CTX* store) {
  if (preverified) {
    return 1;
  }
  auto* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  TlsPolicy* policy = PolicyOf(ssl);
  if (policy == nullptr) {
    return 0;
  }
  int error = X509_STORE_CTX_get_error(store);
  if (IsDateError(error)) {
    if (policy->ignoreFlags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) {
      X509_STORE_CTX_set_error(store, X509_V_OK);
      return 1;
    }
    policy->seen.dateProblem = true;
    return 0;
  }
  if (IsAuthorityError(error)) {
    if (policy->ignoreFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) {
      X509_STORE_CTX_set_error(store, X509_V_OK);
      return 1;
    }
    policy->seen.authorityProblem = true;
    return 0;
  }
  return 0;
}

// Called when the server asks for a client certificate and none is configured:
// remember it; send none when the caller chose none, else stop the handshake.
int NoClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
  TlsPolicy* policy = PolicyOf(ssl);
  if (policy == nullptr) return 0;
  policy->seen.clientCertRequested = true;
  return policy->refuseCertificateRequest ? -1 : 0;
}

}  // namespace

CURLcode InstallTlsPolicy(CURL*, void* sslContext, void* policyPointer) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  auto* policy = static_cast<TlsPolicy*>(policyPointer);
  SSL_CTX_set_ex_data(context, PolicyIndex(), policy);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, VerifyCertificate);
  if (!policy->haveClientCert) {
    SSL_CTX_set_client_cert_cb(context, NoClientCertificate);
  }
  return CURLE_OK;
}

}  // namespace inet
