// TclHttpRequestHeader: the request-header fields a request builder sends,
// turned into an ordered list of "Name: value" lines that is cached until the
// next change. Owned by its builder (a header may also stand alone, without
// owner) and used on the builder's thread only; download workers receive
// copies of the lines, never the header.
#pragma once

#include <cstdint>
#include <string>

#include "base/clTypes.h"
#include "rtl/Component.h"
#include "rtl/StringList.h"

class TclHttpRequestBuilder;

class TclHttpRequestHeader : public rtl::Persistent {
 public:
  // Starts with the values of Clear and an empty cache.
  explicit TclHttpRequestHeader(TclHttpRequestBuilder* owner = nullptr);
  ~TclHttpRequestHeader() override;
  std::string ClassName() const override { return "TclHttpRequestHeader"; }

  TclHttpRequestBuilder* Owner() const { return owner_; }

  const std::string& Accept() const { return accept_; }
  void SetAccept(const std::string& value) { SetText(accept_, value); }
  const std::string& AcceptCharSet() const { return acceptCharSet_; }
  void SetAcceptCharSet(const std::string& value) { SetText(acceptCharSet_, value); }
  const std::string& AcceptEncoding() const { return acceptEncoding_; }
  void SetAcceptEncoding(const std::string& value) { SetText(acceptEncoding_, value); }
  const std::string& AcceptLanguage() const { return acceptLanguage_; }
  void SetAcceptLanguage(const std::string& value) { SetText(acceptLanguage_, value); }
  const std::string& Connection() const { return connection_; }
  void SetConnection(const std::string& value) { SetText(connection_, value); }
  const std::string& ContentEncoding() const { return contentEncoding_; }
  void SetContentEncoding(const std::string& value) { SetText(contentEncoding_, value); }
  const std::string& ContentLanguage() const { return contentLanguage_; }
  void SetContentLanguage(const std::string& value) { SetText(contentLanguage_, value); }
  // 64-bit, like every byte count of the system; a line only when above 0.
  std::int64_t ContentLength() const { return contentLength_; }
  void SetContentLength(std::int64_t value);
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(const std::string& value) { SetText(contentType_, value); }
  const std::string& ContentVersion() const { return contentVersion_; }
  void SetContentVersion(const std::string& value) { SetText(contentVersion_, value); }
  // Lines added unchanged after the standard ones. Editing the list in place
  // counts as a change of the header.
  rtl::StringList& ExtraFields() { return extraFields_; }
  const rtl::StringList& ExtraFields() const { return extraFields_; }
  void SetExtraFields(const rtl::StringList& value);
  const std::string& Referer() const { return referer_; }
  void SetReferer(const std::string& value) { SetText(referer_, value); }
  const std::string& UserAgent() const { return userAgent_; }
  void SetUserAgent(const std::string& value) { SetText(userAgent_, value); }
  const std::string& ProxyUser() const { return proxyUser_; }
  void SetProxyUser(const std::string& value) { SetText(proxyUser_, value); }
  const std::string& ProxyPassword() const { return proxyPassword_; }
  void SetProxyPassword(const std::string& value) { SetText(proxyPassword_, value); }
  TclAuthenticationType AuthenticationType() const { return authenticationType_; }
  void SetAuthenticationType(TclAuthenticationType value);

  // Every property back to its initial value, in one update bracket.
  void Clear();
  // Copies everything but the proxy credentials from another header; any other
  // source is refused with "Cannot assign a %s to a %s".
  void Assign(const rtl::Persistent& source) override;

  // The header lines, built on first request after a change. The list belongs
  // to the header and stays valid (and the same object) until the next change.
  // With an owner that has not been prepared, raises EclRequestBuilderError.
  const rtl::StringList& GetHeaderLines();

  void DefineProperties(rtl::Properties& properties) override;

 protected:
  // An empty update bracket: the cache is dropped and the owner notified.
  virtual void Changed();

 private:
  void SetText(std::string& field, const std::string& value);
  void BeginUpdate();
  void EndUpdate();
  template <class F>
  void InUpdate(F&& body);
  void BuildLines();

  TclHttpRequestBuilder* owner_;
  rtl::StringList lines_;
  rtl::StringList extraFields_;
  std::string accept_;
  std::string acceptCharSet_;
  std::string acceptEncoding_;
  std::string acceptLanguage_;
  std::string connection_;
  std::string contentEncoding_;
  std::string contentLanguage_;
  std::int64_t contentLength_ = 0;
  std::string contentType_;
  std::string contentVersion_;
  std::string referer_;
  std::string userAgent_;
  std::string proxyUser_;
  std::string proxyPassword_;
  TclAuthenticationType authenticationType_ = atBasic;
};
