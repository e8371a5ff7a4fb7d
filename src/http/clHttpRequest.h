// TclHttpRequestBuilder: composes the body of an HTTP request from an ordered
// list of body items, derives the request type and content type from the
// kinds of items, makes the multipart boundary, computes the content length
// and owns the request header. It never sends anything itself: the download
// item hands copies of its header lines and body text to its workers.
//
// Owned by the component that created it and used on that thread only (the
// thread that sets up and starts downloads); not safe for concurrent use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/clHttpRequestHeader.h"
#include "http/clHttpRequestItems.h"
#include "rtl/Component.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "rtl/StringList.h"

class TclHtmlParser;

enum TclRequestType : std::uint8_t { rtUnknown, rtFormData, rtMultiPartData };

class EclRequestBuilderError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

using TclOnGetDataStream = std::function<void(
    TclHttpRequestBuilder* sender, TclHttpRequestItem* item, std::unique_ptr<rtl::Stream>& stream)>;
using TclOnGetFormNumber =
    std::function<void(TclHttpRequestBuilder* sender, TclHtmlParser* parser, int& formNumber)>;
using TclNotifyEvent = std::function<void(TclHttpRequestBuilder* sender)>;

class TclHttpRequestBuilder : public rtl::Component {
 public:
  explicit TclHttpRequestBuilder(rtl::Component* owner = nullptr);
  ~TclHttpRequestBuilder() override;
  std::string ClassName() const override { return "TclHttpRequestBuilder"; }

  TclHttpRequestHeader& Header() { return *header_; }
  // Copies the given header's values into the owned one.
  void SetHeader(const TclHttpRequestHeader& value) { header_->Assign(value); }

  TclRequestType RequestType() const { return requestType_; }
  void SetRequestType(TclRequestType value);

  // Empty until Prepare; the builder counts as prepared when it is not.
  const std::string& Boundary() const { return boundary_; }

  // A nestable bracket; closing the outermost one runs Changed.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  // A new item of the given class, appended to the list and owned by it.
  TclHttpRequestItem* AddItem(const TclHttpRequestItemClass& itemClass);
  template <class T>
  T* AddItem() {
    return static_cast<T*>(AddItem(T::ClassInfo()));
  }
  int ItemCount() const { return static_cast<int>(items_.size()); }
  TclHttpRequestItem* Items(int index) const;
  // Frees the items from the last to the first.
  void ClearItems();

  // Unprepared again, without items, with a cleared header and rtUnknown.
  void Clear();
  // Copies items, header and request type of another builder (not the
  // boundary: the copy must be prepared again).
  void Assign(const rtl::Persistent& source) override;

  // Makes a new boundary and sets the header's Content-Length (and, for
  // multipart requests, the boundary of its Content-Type). Should the body's
  // size fail (a file that cannot be opened), the previous boundary is put
  // back and the error propagates.
  void Prepare();
  // EclRequestBuilderError "RequestBuilder is not initialized, call Prepare
  // before" while unprepared.
  void CheckPrepared() const;

  // The number of bytes GetBodyStream yields.
  std::int64_t GetBodySize();
  // A new read-only stream over the body, owned by the caller.
  std::unique_ptr<rtl::Stream> GetBodyStream();
  // The body split into lines (CR LF, CR or LF; up to the first 0 byte),
  // owned by the builder and valid until the next change.
  const rtl::StringList& GetBodyText();

  // The 41-character boundary for a local time: 29 hyphens, then the first 12
  // hexadecimal digits of month, day, hour, minute, second and millisecond.
  static std::string MakeBoundary(const rtl::SystemTime& localTime);

  void DefineProperties(rtl::Properties& properties) override;

  TclNotifyEvent OnChanged;
  TclOnGetDataStream OnGetDataStream;
  // Published for callers that build a request from a form of a parsed page;
  // the builder itself never raises it.
  TclOnGetFormNumber OnGetFormNumber;

  // Hooks of the items: registration in the list.
  void RegisterItem(TclHttpRequestItem* item);
  void UnregisterItem(TclHttpRequestItem* item);

  // Raises OnGetDataStream for a binary item.
  virtual void DoGetDataStream(TclHttpRequestItem* item, std::unique_ptr<rtl::Stream>& stream);
  virtual void DoGetFormNumber(TclHtmlParser* parser, int& formNumber);

 protected:
  // Drops the cached body text, then raises OnChanged. Not raised while the
  // builder is being destroyed (an event from a destructor could only crash).
  virtual void Changed();

 private:
  template <class F>
  void InUpdate(F&& body);
  TclRequestType DerivedRequestType() const;
  std::string ContentTypeOf(TclRequestType type) const;
  rtl::Json WriteItems();
  void ReadItems(const rtl::Json& json);

  std::unique_ptr<TclHttpRequestHeader> header_;
  std::vector<TclHttpRequestItem*> items_;  // owned; freed by ClearItems
  rtl::StringList bodyText_;
  TclRequestType requestType_ = rtUnknown;
  std::string boundary_;
  int updateCount_ = 0;
  bool destroying_ = false;
};
