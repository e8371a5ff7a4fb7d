// Handle objects that carry a transfer: HTTP requests, FTP files and FTP finds.
//
// Threads: used by the thread inside an entry point for the handle; see
// InetObject.h for closing from other threads.
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

#include "platform/inet/HttpHeaders.h"
#include "platform/inet/InetObject.h"
#include "platform/inet/RootObject.h"
#include "platform/inet/Transfer.h"

namespace inet {

// Request, file and find objects share the read path and its sticky failure.
class TransferObject : public InetObject {
 public:
  TransferObject(ObjectKind kind, std::shared_ptr<InetObject> connect, DWORD_PTR context,
                 Transfer::Protocol protocol)
      : InetObject(kind, std::move(connect), context), transfer(*this, protocol) {}

  ConnectObject& Connect() { return static_cast<ConnectObject&>(*Parent()); }

  Transfer transfer;
  bool started = false;   // a send (or open) succeeded; reads may follow
  DWORD failure = 0;      // a failed read is final for this handle
};

class RequestObject : public TransferObject {
 public:
  RequestObject(std::shared_ptr<InetObject> connect, DWORD_PTR context)
      : TransferObject(ObjectKind::kRequest, std::move(connect), context,
                       Transfer::Protocol::kHttp) {}
  ~RequestObject() override {
    if (headerList != nullptr) curl_slist_free_all(headerList);
  }

  bool Secure() const { return (flags & INTERNET_FLAG_SECURE) != 0; }

  std::string verb;
  std::string objectName;
  std::string version;
  std::string referrer;
  DWORD flags = 0;
  DWORD securityFlags = 0;  // SECURITY_FLAG_IGNORE_* set by the caller
  std::string clientCertPem;
  bool clientCertDecided = false;  // the caller set a certificate, or chose none
  RequestHeaders headers;
  std::string body;
  curl_slist* headerList = nullptr;
};

class FtpObject : public TransferObject {
 public:
  FtpObject(ObjectKind kind, std::shared_ptr<InetObject> connect, DWORD_PTR context)
      : TransferObject(kind, std::move(connect), context, Transfer::Protocol::kFtp) {}

  std::string path;
  WIN32_FIND_DATAA found{};
  // An opened file's RETR waits for the first read, so that a position set
  // before it goes out as the restart offset (REST).
  bool retrPending = false;
  bool ascii = false;
  std::uint64_t resumeFrom = 0;
};

// Starts the RETR of an opened FTP file from its resume offset.
BOOL StartFtpRetrieve(FtpObject& file);

// Pool key of the transfers of a connect handle, plus what the request adds.
std::string ConnectionKey(const ConnectObject& connect, const std::string& scheme,
                          const std::string& proxy, const HandleSettings& settings,
                          DWORD securityFlags, const std::string& clientCertPem,
                          bool clientCertDecided = true);

// Maps a failed transfer to the thread's last error (and last response text).
BOOL FailTransfer(Transfer& transfer, Transfer::Outcome outcome);

}  // namespace inet
