#include "http/clHttpRequestItems.h"

#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "http/clHttpRequest.h"
#include "http/clStreams.h"
#include "http/clUpdateBracket.h"
#include "rtl/Exceptions.h"

namespace {

// Process-wide: builders on any thread may look classes up. Entries are never
// changed or freed once made, so a returned entry stays valid and unchanged
// while another thread registers a replacement.
struct Registry {
  std::mutex mutex;
  std::deque<TclHttpRequestItemClass> entries;
  std::map<std::string, const TclHttpRequestItemClass*> classes;

  Registry() {
    for (const auto* c : {&TclBinaryRequestItem::ClassInfo(), &TclTextRequestItem::ClassInfo(),
                          &TclXmlRequestItem::ClassInfo(), &TclFormFieldRequestItem::ClassInfo(),
                          &TclSubmitFileRequestItem::ClassInfo()}) {
      Add(*c);
    }
  }
  void Add(const TclHttpRequestItemClass& itemClass) {
    const TclHttpRequestItemClass*& slot = classes[itemClass.name];
    if (slot && slot->create == itemClass.create && std::strcmp(slot->name, itemClass.name) == 0)
      return;
    entries.push_back(itemClass);
    slot = &entries.back();
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterRequestItemClass(const TclHttpRequestItemClass& itemClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.Add(itemClass);
}

const TclHttpRequestItemClass* FindRequestItemClass(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.classes.find(name);
  return it == r.classes.end() ? nullptr : it->second;
}

const rtl::Json& TclItemReader::Next() {
  if (!values_.is_array() || index_ >= values_.size()) rtl::Properties::RaiseInvalidValue("Items");
  return values_[index_++];
}

std::string TclItemReader::ReadString() {
  const rtl::Json& v = Next();
  if (!v.is_string()) rtl::Properties::RaiseInvalidValue("Items");
  return v.get<std::string>();
}

bool TclItemReader::ReadBoolean() {
  const rtl::Json& v = Next();
  if (!v.is_boolean()) rtl::Properties::RaiseInvalidValue("Items");
  return v.get<bool>();
}

std::string UrlEncodeField(const std::string& text) {
  static const std::string reserved = "+&*%<>\"#{}|\\^~[]'=";
  static const char hex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 128 || reserved.find(c) != std::string::npos) {
      result += '%';
      result += hex[b >> 4];
      result += hex[b & 15];
    } else if (c == ' ') {
      result += '+';
    } else {
      result += c;
    }
  }
  return result;
}

// Item base.

TclHttpRequestItem::~TclHttpRequestItem() {
  // Destruction leaves the list; an exception from a change handler must not
  // escape a destructor, and the item is gone from the list either way.
  if (!builder_) return;
  TclHttpRequestBuilder* builder = builder_;
  builder_ = nullptr;
  try {
    builder->UnregisterItem(this);
  } catch (...) {
  }
}

void TclHttpRequestItem::SetBuilder(TclHttpRequestBuilder* builder) {
  if (builder_ == builder) return;
  if (builder_) {
    TclHttpRequestBuilder* old = builder_;
    builder_ = nullptr;
    old->UnregisterItem(this);
  }
  builder_ = builder;
  if (builder_) builder_->RegisterItem(this);
}

void TclHttpRequestItem::Changed() {
  if (!builder_) return;
  builder_->BeginUpdate();
  builder_->EndUpdate();
}

void TclHttpRequestItem::Assign(const rtl::Persistent& source) {
  const auto* item = dynamic_cast<const TclHttpRequestItem*>(&source);
  if (!item) {
    rtl::Persistent::Assign(source);
    return;
  }
  TclHttpRequestBuilder* builder = builder_;
  http_detail::WithinBracket(
      [builder] {
        if (builder) builder->BeginUpdate();
      },
      [builder] {
        if (builder) builder->EndUpdate();
      },
      [&] { AssignFields(*item); });
}

void TclHttpRequestItem::AssignFields(const TclHttpRequestItem&) {}
void TclHttpRequestItem::ReadData(TclItemReader&) {}
void TclHttpRequestItem::WriteData(TclItemWriter&) {}

std::int64_t TclHttpRequestItem::SizeOfDataStream() {
  std::unique_ptr<rtl::Stream> stream = GetDataStream();
  return stream->Size();
}

// Binary items.

const TclHttpRequestItemClass& TclBinaryRequestItem::ClassInfo() {
  static const TclHttpRequestItemClass info{"TclBinaryRequestItem",
                                            &CreateFor<TclBinaryRequestItem>};
  return info;
}

std::unique_ptr<rtl::Stream> TclBinaryRequestItem::GetDataStream() {
  std::unique_ptr<rtl::Stream> stream;
  if (Builder()) Builder()->DoGetDataStream(this, stream);
  if (!stream) stream = std::make_unique<TclNullStream>();
  stream->SetPosition(0);
  return stream;
}

// Text and XML items.

const TclHttpRequestItemClass& TclTextRequestItem::ClassInfo() {
  static const TclHttpRequestItemClass info{"TclTextRequestItem", &CreateFor<TclTextRequestItem>};
  return info;
}

const TclHttpRequestItemClass& TclXmlRequestItem::ClassInfo() {
  static const TclHttpRequestItemClass info{"TclXmlRequestItem", &CreateFor<TclXmlRequestItem>};
  return info;
}

void TclTextRequestItem::AssignFields(const TclHttpRequestItem& source) {
  if (const auto* text = dynamic_cast<const TclTextRequestItem*>(&source)) SetText(text->Text());
}

void TclTextRequestItem::ReadData(TclItemReader& reader) {
  SetText(reader.ReadString());
}
void TclTextRequestItem::WriteData(TclItemWriter& writer) {
  writer.WriteString(text_);
}

std::unique_ptr<rtl::Stream> TclTextRequestItem::GetDataStream() {
  return std::make_unique<rtl::StringStream>(text_);
}

// Form field items.

const TclHttpRequestItemClass& TclFormFieldRequestItem::ClassInfo() {
  static const TclHttpRequestItemClass info{"TclFormFieldRequestItem",
                                            &CreateFor<TclFormFieldRequestItem>};
  return info;
}

std::string TclFormFieldRequestItem::FieldText() const {
  if (!Builder()) return std::string();
  switch (Builder()->RequestType()) {
    case rtFormData: {
      auto encode = [this](const std::string& s) { return urlEncode_ ? UrlEncodeField(s) : s; };
      return encode(fieldName_) + "=" + encode(fieldValue_);
    }
    case rtMultiPartData:
      return "Content-Disposition: form-data; name=\"" + fieldName_ + "\"\r\n\r\n" + fieldValue_;
    default:
      return std::string();
  }
}

void TclFormFieldRequestItem::AssignFields(const TclHttpRequestItem& source) {
  if (const auto* field = dynamic_cast<const TclFormFieldRequestItem*>(&source)) {
    SetUrlEncode(field->UrlEncode());
    SetFieldName(field->FieldName());
    SetFieldValue(field->FieldValue());
  }
}

void TclFormFieldRequestItem::ReadData(TclItemReader& reader) {
  SetFieldName(reader.ReadString());
  SetFieldValue(reader.ReadString());
  SetUrlEncode(reader.ReadBoolean());
}

void TclFormFieldRequestItem::WriteData(TclItemWriter& writer) {
  writer.WriteString(fieldName_);
  writer.WriteString(fieldValue_);
  writer.WriteBoolean(urlEncode_);
}

std::unique_ptr<rtl::Stream> TclFormFieldRequestItem::GetDataStream() {
  return std::make_unique<rtl::StringStream>(FieldText());
}

// File items.

const TclHttpRequestItemClass& TclSubmitFileRequestItem::ClassInfo() {
  static const TclHttpRequestItemClass info{"TclSubmitFileRequestItem",
                                            &CreateFor<TclSubmitFileRequestItem>};
  return info;
}

std::string TclSubmitFileRequestItem::PartHeader() const {
  return "Content-Disposition: form-data; name=\"" + fieldName_ + "\"; filename=\"" + fileName_ +
         "\"\r\nContent-Type: " + contentType_ + "\r\n\r\n";
}

void TclSubmitFileRequestItem::AssignFields(const TclHttpRequestItem& source) {
  if (const auto* file = dynamic_cast<const TclSubmitFileRequestItem*>(&source)) {
    SetFileName(file->FileName());
    SetFieldName(file->FieldName());
    SetContentType(file->ContentType());
  }
}

void TclSubmitFileRequestItem::ReadData(TclItemReader& reader) {
  SetFieldName(reader.ReadString());
  SetFileName(reader.ReadString());
  SetContentType(reader.ReadString());
}

void TclSubmitFileRequestItem::WriteData(TclItemWriter& writer) {
  writer.WriteString(fieldName_);
  writer.WriteString(fileName_);
  writer.WriteString(contentType_);
}

std::unique_ptr<rtl::Stream> TclSubmitFileRequestItem::GetDataStream() {
  if (!Builder() || Builder()->RequestType() != rtMultiPartData)
    return std::make_unique<TclNullStream>();
  auto multi = std::make_unique<TclMultiStream>();
  multi->AddStream(std::make_unique<rtl::StringStream>(PartHeader()));
  multi->AddStream(std::make_unique<rtl::FileStream>(fileName_, rtl::FileStream::fmOpenRead));
  return multi;
}
