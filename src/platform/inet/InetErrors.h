// Error numbers of the internet client library: the message table, the one table
// that turns libcurl results into internet error numbers, and the per-thread text
// of the server's last response. Free functions; any thread.
#pragma once

#include <curl/curl.h>

#include <string>

#include "platform/inet/InetClient.h"

namespace inet {

// What a transfer observed besides its libcurl result; it refines the mapping.
struct TransferFacts {
  bool cancelled = false;          // the call's handle (or an ancestor) was closed
  bool connected = false;          // a connection to the peer was established
  bool certDateProblem = false;    // the verifier refused a certificate date
  bool certAuthorityProblem = false;  // the verifier refused the issuer chain
  bool clientCertRequested = false;   // the server asked for a client certificate
  bool ftpReplySeen = false;          // an FTP server reply explains the failure
  long connectCode = 0;               // proxy's CONNECT answer, 0 when none
};

// The internet error number for a failed libcurl result.
DWORD MapCurlError(CURLcode code, const TransferFacts& facts);

// Sets the thread's last error and returns FALSE, for one-line failure returns.
BOOL Fail(DWORD code);

// The server's last response on this thread (InternetGetLastResponseInfoA).
void SetLastResponse(DWORD code, std::string text);
DWORD LastResponseCode();
const std::string& LastResponseText();

}  // namespace inet
