#include "inet/InternetActions.h"

#include "inet/clWinInet.h"

namespace {

LPCSTR NoneIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// Blanks are spaces and every control character, as in header values.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

DWORD_PTR ContextOf(TclInternetConnection* connection) { return reinterpret_cast<DWORD_PTR>(connection); }

}  // namespace

TclInternetOpenAction::TclInternetOpenAction(TclInternetConnection* connection, const std::string& agent,
                                             DWORD accessType, const std::string& proxy,
                                             const std::string& proxyBypass, DWORD flags)
    : TclInternetResourceAction(connection, nullptr),
      agent_(agent),
      accessType_(accessType),
      proxy_(Trimmed(proxy)),
      proxyBypass_(Trimmed(proxyBypass)),
      flags_(flags) {
  Register();
}

void TclInternetOpenAction::Execute() {
  SetHandle(nullptr);
  SetHandle(clWinInet::InternetOpenA(agent_.c_str(), accessType_, NoneIfEmpty(proxy_), NoneIfEmpty(proxyBypass_),
                                     flags_));
  TclInternetResourceAction::Execute();
}

TclConnectAction::TclConnectAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                   const std::string& serverName, INTERNET_PORT port, const std::string& userName,
                                   const std::string& password, DWORD service, DWORD flags)
    : TclInternetResourceAction(connection, parentHandle),
      serverName_(serverName),
      port_(port),
      userName_(userName),
      password_(password),
      service_(service),
      flags_(flags) {
  Register();
}

void TclConnectAction::Execute() {
  SetHandle(nullptr);
  SetHandle(clWinInet::InternetConnectA(ParentHandle(), serverName_.c_str(), port_, NoneIfEmpty(userName_),
                                        NoneIfEmpty(password_), service_, flags_, ContextOf(Connection())));
  TclInternetResourceAction::Execute();
}

TclFtpFindFirstFileAction::TclFtpFindFirstFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                                     HINTERNET connectHandle, const std::string& searchFile,
                                                     DWORD flags)
    : TclInternetResourceAction(connection, parentHandle),
      connectHandle_(connectHandle),
      searchFile_(searchFile),
      flags_(flags) {
  Register();
}

void TclFtpFindFirstFileAction::Execute() {
  SetHandle(nullptr);
  SetHandle(clWinInet::FtpFindFirstFileA(connectHandle_, searchFile_.c_str(), &findData_, flags_,
                                         ContextOf(Connection())));
  TclInternetResourceAction::Execute();
}

TclFtpOpenFileAction::TclFtpOpenFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                           HINTERNET connectHandle, const std::string& fileName, DWORD access,
                                           DWORD flags)
    : TclInternetResourceAction(connection, parentHandle),
      connectHandle_(connectHandle),
      fileName_(fileName),
      access_(access),
      flags_(flags) {
  Register();
}

void TclFtpOpenFileAction::Execute() {
  SetHandle(nullptr);
  SetHandle(clWinInet::FtpOpenFileA(connectHandle_, fileName_.c_str(), access_, flags_, ContextOf(Connection())));
  TclInternetResourceAction::Execute();
}

TclHttpOpenRequestAction::TclHttpOpenRequestAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                                   HINTERNET connectHandle, const std::string& verb,
                                                   const std::string& objectName, const std::string& version,
                                                   const std::string& referrer, LPCSTR* acceptTypes, DWORD flags)
    : TclInternetResourceAction(connection, parentHandle),
      connectHandle_(connectHandle),
      verb_(verb),
      objectName_(objectName),
      version_(version),
      referrer_(referrer),
      acceptTypes_(acceptTypes),
      flags_(flags) {
  Register();
}

void TclHttpOpenRequestAction::Execute() {
  SetHandle(nullptr);
  SetHandle(clWinInet::HttpOpenRequestA(connectHandle_, NoneIfEmpty(verb_), objectName_.c_str(),
                                        NoneIfEmpty(version_), NoneIfEmpty(referrer_), acceptTypes_, flags_,
                                        ContextOf(Connection())));
  TclInternetResourceAction::Execute();
}

TclHttpSendRequestAction::TclHttpSendRequestAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                                   HINTERNET requestHandle, const std::string& headers,
                                                   LPVOID optional, DWORD optionalLength)
    : TclInternetAction(connection, parentHandle),
      requestHandle_(requestHandle),
      headers_(headers),
      optional_(optional),
      optionalLength_(optionalLength) {
  Register();
}

void TclHttpSendRequestAction::Execute() {
  if (!clWinInet::HttpSendRequestA(requestHandle_, NoneIfEmpty(headers_), static_cast<DWORD>(headers_.size()),
                                   optional_, optionalLength_)) {
    TclInternetAction::Execute();
  }
}

TclInternetReadFileAction::TclInternetReadFileAction(TclInternetConnection* connection, HINTERNET parentHandle,
                                                     HINTERNET fileHandle, void* buffer)
    : TclInternetAction(connection, parentHandle), fileHandle_(fileHandle), buffer_(buffer) {
  Register();
}

void TclInternetReadFileAction::Execute() {
  bytesRead_ = 0;
  if (!clWinInet::InternetReadFile(fileHandle_, buffer_, bytesToRead_, &bytesRead_)) {
    TclInternetAction::Execute();
  }
}
