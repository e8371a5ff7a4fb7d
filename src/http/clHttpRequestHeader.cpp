#include "http/clHttpRequestHeader.h"

#include "http/clEncoder.h"
#include "http/clHttpRequest.h"
#include "http/clUpdateBracket.h"
#include "rtl/PropertyStreaming.h"

TclHttpRequestHeader::TclHttpRequestHeader(TclHttpRequestBuilder* owner) : owner_(owner) {
  extraFields_.OnChange = [this](rtl::StringList*) { Changed(); };
  Clear();
}

TclHttpRequestHeader::~TclHttpRequestHeader() {
  extraFields_.OnChange = nullptr;
}

void TclHttpRequestHeader::BeginUpdate() {
  if (owner_) owner_->BeginUpdate();
}

void TclHttpRequestHeader::EndUpdate() {
  lines_.Clear();
  if (owner_) owner_->EndUpdate();
}

template <class F>
void TclHttpRequestHeader::InUpdate(F&& body) {
  http_detail::WithinBracket([this] { BeginUpdate(); }, [this] { EndUpdate(); }, body);
}

void TclHttpRequestHeader::Changed() {
  BeginUpdate();
  EndUpdate();
}

void TclHttpRequestHeader::SetText(std::string& field, const std::string& value) {
  if (field == value) return;
  field = value;
  Changed();
}

void TclHttpRequestHeader::SetContentLength(std::int64_t value) {
  if (contentLength_ == value) return;
  contentLength_ = value;
  Changed();
}

void TclHttpRequestHeader::SetAuthenticationType(TclAuthenticationType value) {
  if (authenticationType_ == value) return;
  authenticationType_ = value;
  Changed();
}

void TclHttpRequestHeader::SetExtraFields(const rtl::StringList& value) {
  extraFields_.Assign(value);
}

void TclHttpRequestHeader::Clear() {
  InUpdate([this] {
    SetAccept("text/html, */*");
    SetAcceptCharSet("");
    SetAcceptEncoding("");
    SetAcceptLanguage("en-us");
    SetConnection("Keep-Alive");
    SetContentEncoding("");
    SetContentLanguage("");
    SetContentLength(0);
    SetContentType("");
    SetContentVersion("");
    extraFields_.Clear();
    SetReferer("");
    SetUserAgent("");
    SetProxyUser("");
    SetProxyPassword("");
    SetAuthenticationType(atBasic);
  });
}

void TclHttpRequestHeader::Assign(const rtl::Persistent& source) {
  InUpdate([&] {
    const auto* header = dynamic_cast<const TclHttpRequestHeader*>(&source);
    if (!header) {
      rtl::Persistent::Assign(source);
      return;
    }
    SetAccept(header->accept_);
    SetAcceptCharSet(header->acceptCharSet_);
    SetAcceptEncoding(header->acceptEncoding_);
    SetAcceptLanguage(header->acceptLanguage_);
    SetConnection(header->connection_);
    SetContentEncoding(header->contentEncoding_);
    SetContentLanguage(header->contentLanguage_);
    SetContentLength(header->contentLength_);
    SetContentType(header->contentType_);
    SetContentVersion(header->contentVersion_);
    SetExtraFields(header->extraFields_);
    SetReferer(header->referer_);
    SetUserAgent(header->userAgent_);
    SetAuthenticationType(header->authenticationType_);
  });
}

const rtl::StringList& TclHttpRequestHeader::GetHeaderLines() {
  if (owner_) owner_->CheckPrepared();
  if (lines_.Count() == 0) BuildLines();
  return lines_;
}

void TclHttpRequestHeader::BuildLines() {
  auto add = [this](const char* prefix, const std::string& value) {
    if (!value.empty()) lines_.Add(prefix + value);
  };
  lines_.BeginUpdate();
  add("Accept: ", accept_);
  add("Accept-Charset: ", acceptCharSet_);
  add("Accept-Encoding: ", acceptEncoding_);
  add("Accept-Language: ", acceptLanguage_);
  add("Referer: ", referer_);
  add("User-Agent: ", userAgent_);
  add("Connection: ", connection_);
  add("Content-Version: ", contentVersion_);
  add("Content-Encoding: ", contentEncoding_);
  add("Content-Language: ", contentLanguage_);
  add("Content-Type: ", contentType_);
  if (contentLength_ > 0) lines_.Add("Content-Length: " + std::to_string(contentLength_));
  if (authenticationType_ == atBasic && (!proxyUser_.empty() || !proxyPassword_.empty())) {
    std::string credentials =
        proxyUser_.empty() ? proxyPassword_ : proxyUser_ + ":" + proxyPassword_;
    TclEncoder encoder;
    lines_.Add("Proxy-Authorization: Basic " +
               encoder.EncodeString(credentials, cmMIMEBase64, true));
  }
  for (const auto& line : extraFields_.Items()) lines_.Add(line);
  lines_.EndUpdate();
}

void TclHttpRequestHeader::DefineProperties(rtl::Properties& properties) {
  auto text = [&](const char* name, std::string TclHttpRequestHeader::*field,
                  void (TclHttpRequestHeader::*setter)(const std::string&)) {
    properties.Value<std::string>(
        name, [this, field] { return this->*field; },
        [this, setter](const std::string& v) { (this->*setter)(v); });
  };
  text("Accept", &TclHttpRequestHeader::accept_, &TclHttpRequestHeader::SetAccept);
  text("AcceptCharSet", &TclHttpRequestHeader::acceptCharSet_,
       &TclHttpRequestHeader::SetAcceptCharSet);
  text("AcceptEncoding", &TclHttpRequestHeader::acceptEncoding_,
       &TclHttpRequestHeader::SetAcceptEncoding);
  text("AcceptLanguage", &TclHttpRequestHeader::acceptLanguage_,
       &TclHttpRequestHeader::SetAcceptLanguage);
  text("Connection", &TclHttpRequestHeader::connection_, &TclHttpRequestHeader::SetConnection);
  text("ContentEncoding", &TclHttpRequestHeader::contentEncoding_,
       &TclHttpRequestHeader::SetContentEncoding);
  text("ContentLanguage", &TclHttpRequestHeader::contentLanguage_,
       &TclHttpRequestHeader::SetContentLanguage);
  properties.Value<std::int64_t>(
      "ContentLength", [this] { return contentLength_; },
      [this](std::int64_t v) { SetContentLength(v); });
  text("ContentType", &TclHttpRequestHeader::contentType_, &TclHttpRequestHeader::SetContentType);
  text("ContentVersion", &TclHttpRequestHeader::contentVersion_,
       &TclHttpRequestHeader::SetContentVersion);
  // Always written, an empty list too: the property has no stored default.
  properties.Strings("ExtraFields", &extraFields_).StoredWhen([] { return true; });
  text("Referer", &TclHttpRequestHeader::referer_, &TclHttpRequestHeader::SetReferer);
  text("UserAgent", &TclHttpRequestHeader::userAgent_, &TclHttpRequestHeader::SetUserAgent);
  text("ProxyUser", &TclHttpRequestHeader::proxyUser_, &TclHttpRequestHeader::SetProxyUser);
  text("ProxyPassword", &TclHttpRequestHeader::proxyPassword_,
       &TclHttpRequestHeader::SetProxyPassword);
  properties
      .Enum<TclAuthenticationType>(
          "AuthenticationType", [this] { return authenticationType_; },
          [this](TclAuthenticationType v) { SetAuthenticationType(v); }, {"atBasic", "atDigest"})
      .Default(std::string("atBasic"));
}
