// Certificate checks with fine control: each ignore flag lifts only its own
// problem, and what the verifier saw is kept so that a failure can be named
// (date, authority, host name, client certificate wanted).
//
// Threads: a policy belongs to one pooled multi handle, which one transfer at a time
// borrows; the verifier runs inside that transfer's calls, on its thread.
#pragma once

#include <curl/curl.h>

#include "platform/inet/InetClient.h"

namespace inet {

struct TlsObservations {
  bool dateProblem = false;       // refused: not yet valid or expired
  bool authorityProblem = false;  // refused: unknown or untrusted issuer chain
  bool clientCertRequested = false;
};

struct TlsPolicy {
  DWORD ignoreFlags = 0;  // SECURITY_FLAG_IGNORE_* bits
  bool haveClientCert = false;
  // No decision about a client certificate yet: a server asking for one stops the
  // handshake, so the caller can choose one (or choose none) and send again.
  bool refuseCertificateRequest = false;
  TlsObservations seen;  // reset by the transfer before each send
};

// CURLOPT_SSL_CTX_FUNCTION; the user pointer is the TlsPolicy.
CURLcode InstallTlsPolicy(CURL* easy, void* sslContext, void* policy);

}  // namespace inet
