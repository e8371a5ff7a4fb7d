// The concrete actions: one class per blocking call of the internet client
// library. Text arguments that are empty are passed as no text at all; calls
// that take a context value get the connection. Threads and ownership as in
// InternetAction.h.
#pragma once

#include <string>

#include "inet/InternetAction.h"

// The root handle. Proxy and bypass list are stored without surrounding blanks.
class TclInternetOpenAction final : public TclInternetResourceAction {
 public:
  TclInternetOpenAction(TclInternetConnection* connection, const std::string& agent,
                        DWORD accessType, const std::string& proxy, const std::string& proxyBypass,
                        DWORD flags);
  ~TclInternetOpenAction() override { Release(); }
  void Execute() override;

  const std::string& Agent() const { return agent_; }
  DWORD AccessType() const { return accessType_; }
  const std::string& Proxy() const { return proxy_; }
  const std::string& ProxyBypass() const { return proxyBypass_; }
  DWORD Flags() const { return flags_; }

 private:
  std::string agent_;
  DWORD accessType_;
  std::string proxy_;
  std::string proxyBypass_;
  DWORD flags_;
};

class TclConnectAction final : public TclInternetResourceAction {
 public:
  TclConnectAction(TclInternetConnection* connection, HINTERNET parentHandle,
                   const std::string& serverName, INTERNET_PORT port, const std::string& userName,
                   const std::string& password, DWORD service, DWORD flags);
  ~TclConnectAction() override { Release(); }
  void Execute() override;

  const std::string& ServerName() const { return serverName_; }
  INTERNET_PORT Port() const { return port_; }

 private:
  std::string serverName_;
  INTERNET_PORT port_;
  std::string userName_;
  std::string password_;
  DWORD service_;
  DWORD flags_;
};

// Finds one file on an FTP server; FindData holds what was found.
class TclFtpFindFirstFileAction final : public TclInternetResourceAction {
 public:
  TclFtpFindFirstFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                            HINTERNET connectHandle, const std::string& searchFile, DWORD flags);
  ~TclFtpFindFirstFileAction() override { Release(); }
  void Execute() override;
  bool WorksUnder(HINTERNET handle) const override {
    return TclInternetAction::WorksUnder(handle) || (handle != nullptr && handle == connectHandle_);
  }

  const WIN32_FIND_DATAA& FindData() const { return findData_; }

 private:
  HINTERNET connectHandle_;
  std::string searchFile_;
  DWORD flags_;
  WIN32_FIND_DATAA findData_{};
};

class TclFtpOpenFileAction final : public TclInternetResourceAction {
 public:
  TclFtpOpenFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                       HINTERNET connectHandle, const std::string& fileName, DWORD access,
                       DWORD flags);
  ~TclFtpOpenFileAction() override { Release(); }
  void Execute() override;
  bool WorksUnder(HINTERNET handle) const override {
    return TclInternetAction::WorksUnder(handle) || (handle != nullptr && handle == connectHandle_);
  }

  const std::string& FileName() const { return fileName_; }

 private:
  HINTERNET connectHandle_;
  std::string fileName_;
  DWORD access_;
  DWORD flags_;
};

class TclHttpOpenRequestAction final : public TclInternetResourceAction {
 public:
  TclHttpOpenRequestAction(TclInternetConnection* connection, HINTERNET parentHandle,
                           HINTERNET connectHandle, const std::string& verb,
                           const std::string& objectName, const std::string& version,
                           const std::string& referrer, LPCSTR* acceptTypes, DWORD flags);
  ~TclHttpOpenRequestAction() override { Release(); }
  void Execute() override;
  bool WorksUnder(HINTERNET handle) const override {
    return TclInternetAction::WorksUnder(handle) || (handle != nullptr && handle == connectHandle_);
  }

  const std::string& Verb() const { return verb_; }
  const std::string& ObjectName() const { return objectName_; }

 private:
  HINTERNET connectHandle_;
  std::string verb_;
  std::string objectName_;
  std::string version_;
  std::string referrer_;
  LPCSTR* acceptTypes_;
  DWORD flags_;
};

// Sends a request; produces no handle.
class TclHttpSendRequestAction final : public TclInternetAction {
 public:
  TclHttpSendRequestAction(TclInternetConnection* connection, HINTERNET parentHandle,
                           HINTERNET requestHandle, const std::string& headers, LPVOID optional,
                           DWORD optionalLength);
  ~TclHttpSendRequestAction() override { Unregister(); }
  void Execute() override;
  bool WorksUnder(HINTERNET handle) const override {
    return TclInternetAction::WorksUnder(handle) || (handle != nullptr && handle == requestHandle_);
  }

 private:
  HINTERNET requestHandle_;
  std::string headers_;
  LPVOID optional_;
  DWORD optionalLength_;
};

// Reads up to BytesToRead bytes into Buffer; the caller sets BytesToRead before
// each fire and reads BytesRead afterwards (0 = end of data).
class TclInternetReadFileAction final : public TclInternetAction {
 public:
  TclInternetReadFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                            HINTERNET fileHandle, void* buffer);
  ~TclInternetReadFileAction() override { Unregister(); }
  void Execute() override;
  bool WorksUnder(HINTERNET handle) const override {
    return TclInternetAction::WorksUnder(handle) || (handle != nullptr && handle == fileHandle_);
  }

  DWORD BytesToRead() const { return bytesToRead_; }
  void SetBytesToRead(DWORD value) { bytesToRead_ = value; }
  DWORD BytesRead() const { return bytesRead_; }

 private:
  HINTERNET fileHandle_;
  void* buffer_;
  DWORD bytesToRead_ = 0;
  DWORD bytesRead_ = 0;
};
