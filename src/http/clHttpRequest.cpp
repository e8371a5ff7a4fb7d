#include "http/clHttpRequest.h"

#include <algorithm>

#include "http/clStreams.h"
#include "http/clUpdateBracket.h"
#include "rtl/PropertyStreaming.h"

namespace {
const char kNotPrepared[] = "RequestBuilder is not initialized, call Prepare before";
}

TclHttpRequestBuilder::TclHttpRequestBuilder(rtl::Component* owner) : rtl::Component(owner) {
  header_ = std::make_unique<TclHttpRequestHeader>(this);
}

TclHttpRequestBuilder::~TclHttpRequestBuilder() {
  destroying_ = true;
  try {
    ClearItems();
  } catch (...) {
    // Items are gone whatever a change handler did; nothing may escape here.
  }
  header_.reset();
}

template <class F>
void TclHttpRequestBuilder::InUpdate(F&& body) {
  http_detail::WithinBracket([this] { BeginUpdate(); }, [this] { EndUpdate(); }, body);
}

void TclHttpRequestBuilder::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) Changed();
}

void TclHttpRequestBuilder::Changed() {
  bodyText_.Clear();
  if (!destroying_ && OnChanged) OnChanged(this);
}

void TclHttpRequestBuilder::DoGetDataStream(TclHttpRequestItem* item,
                                            std::unique_ptr<rtl::Stream>& stream) {
  if (OnGetDataStream) OnGetDataStream(this, item, stream);
}

void TclHttpRequestBuilder::DoGetFormNumber(TclHtmlParser* parser, int& formNumber) {
  if (OnGetFormNumber) OnGetFormNumber(this, parser, formNumber);
}

void TclHttpRequestBuilder::SetRequestType(TclRequestType value) {
  if (requestType_ == value) return;
  InUpdate([&] {
    requestType_ = value;
    if (!Loading()) header_->SetContentType(ContentTypeOf(value));
  });
}

std::string TclHttpRequestBuilder::ContentTypeOf(TclRequestType type) const {
  switch (type) {
    case rtFormData:
      return "application/x-www-form-urlencoded";
    case rtMultiPartData:
      return "multipart/form-data;boundary=";
    default:
      return std::string();
  }
}

TclRequestType TclHttpRequestBuilder::DerivedRequestType() const {
  bool anyFile = std::any_of(items_.begin(), items_.end(), [](const TclHttpRequestItem* item) {
    return dynamic_cast<const TclSubmitFileRequestItem*>(item) != nullptr;
  });
  if (anyFile) return rtMultiPartData;
  bool allFields = !items_.empty() &&
                   std::all_of(items_.begin(), items_.end(), [](const TclHttpRequestItem* item) {
                     return dynamic_cast<const TclFormFieldRequestItem*>(item) != nullptr;
                   });
  return allFields ? rtFormData : rtUnknown;
}

void TclHttpRequestBuilder::RegisterItem(TclHttpRequestItem* item) {
  InUpdate([&] {
    items_.push_back(item);
    if (!Loading()) SetRequestType(DerivedRequestType());
  });
}

void TclHttpRequestBuilder::UnregisterItem(TclHttpRequestItem* item) {
  InUpdate([&] {
    items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
    // While loading, the stored request type stands, also when the items
    // that were there before the load leave the list.
    if (!destroying_ && !Loading()) SetRequestType(DerivedRequestType());
  });
}

TclHttpRequestItem* TclHttpRequestBuilder::AddItem(const TclHttpRequestItemClass& itemClass) {
  TclHttpRequestItem* item = nullptr;
  InUpdate([&] { item = itemClass.create(this); });
  return item;
}

TclHttpRequestItem* TclHttpRequestBuilder::Items(int index) const {
  if (index < 0 || index >= ItemCount()) rtl::RaiseListIndexError(index);
  return items_[static_cast<size_t>(index)];
}

void TclHttpRequestBuilder::ClearItems() {
  InUpdate([&] {
    // Each item leaves the list in its destructor.
    while (!items_.empty()) delete items_.back();
  });
}

void TclHttpRequestBuilder::Clear() {
  boundary_.clear();
  InUpdate([&] {
    ClearItems();
    header_->Clear();
    requestType_ = rtUnknown;
  });
}

void TclHttpRequestBuilder::Assign(const rtl::Persistent& source) {
  const auto* builder = dynamic_cast<const TclHttpRequestBuilder*>(&source);
  if (!builder) {
    rtl::Component::Assign(source);
    return;
  }
  if (builder == this) return;
  InUpdate([&] {
    Clear();
    for (const TclHttpRequestItem* sourceItem : builder->items_) {
      AddItem(sourceItem->ItemClass())->Assign(*sourceItem);
    }
    header_->Assign(*builder->header_);
    SetRequestType(builder->requestType_);
  });
}

std::string TclHttpRequestBuilder::MakeBoundary(const rtl::SystemTime& t) {
  std::string digits = rtl::Format("%.2X%.2X%.2X%.2X%.2X%.2X", t.wMonth, t.wDay, t.wHour, t.wMinute,
                                   t.wSecond, t.wMilliseconds);
  return std::string(29, '-') + digits.substr(0, 12);
}

void TclHttpRequestBuilder::CheckPrepared() const {
  if (boundary_.empty()) throw EclRequestBuilderError(kNotPrepared);
}

void TclHttpRequestBuilder::Prepare() {
  const std::string previous = boundary_;
  boundary_ = MakeBoundary(rtl::DateTimeToSystemTime(rtl::Now()));
  InUpdate([&] {
    std::int64_t size = 0;
    try {
      size = GetBodySize();
    } catch (...) {
      boundary_ = previous;
      throw;
    }
    header_->SetContentLength(size);
    if (requestType_ == rtMultiPartData)
      header_->SetContentType(ContentTypeOf(rtMultiPartData) + boundary_.substr(2));
  });
}

std::int64_t TclHttpRequestBuilder::GetBodySize() {
  CheckPrepared();
  std::int64_t size = 0;
  for (TclHttpRequestItem* item : items_) size += item->GetDataSize();
  const auto n = static_cast<std::int64_t>(items_.size());
  const auto b = static_cast<std::int64_t>(boundary_.size());
  switch (requestType_) {
    case rtMultiPartData:
      size += n > 0 ? (b + 4) * n + b + 4 : b + 6;
      break;
    case rtFormData:
      size += n > 0 ? n - 1 : 0;
      break;
    default:
      break;
  }
  return size;
}

std::unique_ptr<rtl::Stream> TclHttpRequestBuilder::GetBodyStream() {
  CheckPrepared();
  auto body = std::make_unique<TclMultiStream>();
  for (size_t i = 0; i < items_.size(); ++i) {
    std::string separator;
    if (requestType_ == rtMultiPartData) {
      separator = i == 0 ? boundary_ + "\r\n" : "\r\n" + boundary_ + "\r\n";
    } else if (requestType_ == rtFormData && i > 0) {
      separator = "&";
    }
    if (!separator.empty()) body->AddStream(std::make_unique<rtl::StringStream>(separator));
    body->AddStream(items_[i]->GetDataStream());
  }
  if (requestType_ == rtMultiPartData)
    body->AddStream(std::make_unique<rtl::StringStream>("\r\n" + boundary_ + "--\r\n"));
  return body;
}

const rtl::StringList& TclHttpRequestBuilder::GetBodyText() {
  CheckPrepared();
  if (bodyText_.Count() > 0) return bodyText_;
  std::string data;
  {
    std::unique_ptr<rtl::Stream> body = GetBodyStream();
    body->SetPosition(0);
    data = body->ReadRemaining();
  }
  data.resize(std::min(data.size(), data.find('\0')));
  bodyText_.BeginUpdate();
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      bodyText_.Add(data.substr(start));
      break;
    }
    bodyText_.Add(data.substr(start, end - start));
    if (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n') ++end;
    start = end + 1;
  }
  bodyText_.EndUpdate();
  return bodyText_;
}

rtl::Json TclHttpRequestBuilder::WriteItems() {
  rtl::Json list = rtl::Json::array();
  for (TclHttpRequestItem* item : items_) {
    rtl::Json entry = rtl::Json::array({item->ItemClass().name});
    TclItemWriter writer(entry);
    item->WriteData(writer);
    list.push_back(std::move(entry));
  }
  return list;
}

void TclHttpRequestBuilder::ReadItems(const rtl::Json& json) {
  if (!json.is_array()) rtl::Properties::RaiseInvalidValue("Items");
  // Everything is read into detached items first, so a bad description is
  // rejected before the current items are touched.
  std::vector<std::unique_ptr<TclHttpRequestItem>> loaded;
  for (const auto& entry : json) {
    if (!entry.is_array() || entry.empty() || !entry[0].is_string())
      rtl::Properties::RaiseInvalidValue("Items");
    const std::string name = entry[0].get<std::string>();
    const TclHttpRequestItemClass* itemClass = FindRequestItemClass(name);
    if (!itemClass) throw rtl::EReadError(rtl::Format("Class %s not found", name.c_str()));
    loaded.emplace_back(itemClass->create(nullptr));
    TclItemReader reader(entry, 1);
    loaded.back()->ReadData(reader);
    if (!reader.AtEnd()) rtl::Properties::RaiseInvalidValue("Items");
  }
  InUpdate([&] {
    ClearItems();
    for (auto& item : loaded) item.release()->SetBuilder(this);
  });
}

void TclHttpRequestBuilder::DefineProperties(rtl::Properties& properties) {
  properties.Object("Header", header_.get());
  properties
      .Enum<TclRequestType>(
          "RequestType", [this] { return requestType_; },
          [this](TclRequestType v) { SetRequestType(v); },
          {"rtUnknown", "rtFormData", "rtMultiPartData"})
      .Default(std::string("rtUnknown"));
  properties
      .Custom(
          "Items", [this] { return WriteItems(); }, [this](const rtl::Json& j) { ReadItems(j); })
      .StoredWhen([this] { return !items_.empty(); });
}
