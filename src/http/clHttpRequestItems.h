// The body items of a request builder: form fields, files, text, XML and
// caller-supplied binary data, and the process-wide registry that recreates
// stored items from their class names. Items live on their builder's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"
#include "rtl/PropertyStreaming.h"
#include "rtl/Streams.h"

class TclHttpRequestBuilder;
class TclHttpRequestItem;

// The class reference of an item: its name and how to construct one.
// The name must live as long as the process (a string literal).
struct TclHttpRequestItemClass {
  const char* name;
  TclHttpRequestItem* (*create)(TclHttpRequestBuilder* builder);
};

// Registers an item class under its name (a later registration of the same
// name replaces the earlier one). The five item classes of this module are
// registered before the first lookup.
void RegisterRequestItemClass(const TclHttpRequestItemClass& itemClass);
// The registered class of that name, or null.
const TclHttpRequestItemClass* FindRequestItemClass(const std::string& name);

// Reads an item's stored values one after the other.
class TclItemReader {
 public:
  explicit TclItemReader(const rtl::Json& values, size_t start) : values_(values), index_(start) {}
  std::string ReadString();
  bool ReadBoolean();
  bool AtEnd() const { return index_ >= values_.size(); }

 private:
  const rtl::Json& Next();
  const rtl::Json& values_;
  size_t index_;
};

// Appends an item's stored values one after the other.
class TclItemWriter {
 public:
  explicit TclItemWriter(rtl::Json& values) : values_(values) {}
  void WriteString(const std::string& value) { values_.push_back(value); }
  void WriteBoolean(bool value) { values_.push_back(value); }

 private:
  rtl::Json& values_;
};

class TclHttpRequestItem : public rtl::Persistent {
 public:
  // Unregisters the item from its builder.
  ~TclHttpRequestItem() override;
  std::string ClassName() const override { return ItemClass().name; }

  virtual const TclHttpRequestItemClass& ItemClass() const = 0;

  TclHttpRequestBuilder* Builder() const { return builder_; }
  // Moves the item to another builder's list, which then owns it; with null
  // the item leaves its list and belongs to the caller again.
  void SetBuilder(TclHttpRequestBuilder* builder);

  // Copies the fields of a source item of a kind that carries them; any other
  // item copies nothing; a source that is not an item is refused.
  void Assign(const rtl::Persistent& source) override;

  virtual void ReadData(TclItemReader& reader);
  virtual void WriteData(TclItemWriter& writer);

  // A new stream over the item's data, owned by the caller.
  virtual std::unique_ptr<rtl::Stream> GetDataStream() = 0;
  virtual std::int64_t GetDataSize() = 0;

 protected:
  // Items are built without builder and registered once fully constructed
  // (the builder derives its request type from the item's class), through
  // their class reference or the builder's AddItem.
  TclHttpRequestItem() = default;
  template <class T>
  static TclHttpRequestItem* CreateFor(TclHttpRequestBuilder* builder) {
    auto item = std::make_unique<T>();
    item->SetBuilder(builder);
    return item.release();
  }
  // Runs one empty update bracket of the builder (nothing without builder).
  void Changed();
  template <class T>
  void SetField(T& field, const T& value) {
    if (field == value) return;
    field = value;
    Changed();
  }
  virtual void AssignFields(const TclHttpRequestItem& source);
  std::int64_t SizeOfDataStream();

 private:
  TclHttpRequestBuilder* builder_ = nullptr;
};

// Data supplied by the builder's OnGetDataStream handler; empty without one.
class TclBinaryRequestItem : public TclHttpRequestItem {
 public:
  TclBinaryRequestItem() = default;
  static const TclHttpRequestItemClass& ClassInfo();
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }
  std::unique_ptr<rtl::Stream> GetDataStream() override;
  std::int64_t GetDataSize() override { return SizeOfDataStream(); }
};

class TclTextRequestItem : public TclHttpRequestItem {
 public:
  TclTextRequestItem() = default;
  static const TclHttpRequestItemClass& ClassInfo();
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }

  const std::string& Text() const { return text_; }
  void SetText(const std::string& value) { SetField(text_, value); }

  void ReadData(TclItemReader& reader) override;
  void WriteData(TclItemWriter& writer) override;
  std::unique_ptr<rtl::Stream> GetDataStream() override;
  std::int64_t GetDataSize() override { return static_cast<std::int64_t>(text_.size()); }

 protected:
  void AssignFields(const TclHttpRequestItem& source) override;

 private:
  std::string text_;
};

class TclXmlRequestItem : public TclTextRequestItem {
 public:
  TclXmlRequestItem() = default;
  static const TclHttpRequestItemClass& ClassInfo();
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }
};

class TclFormFieldRequestItem : public TclHttpRequestItem {
 public:
  TclFormFieldRequestItem() = default;
  static const TclHttpRequestItemClass& ClassInfo();
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }

  bool UrlEncode() const { return urlEncode_; }
  void SetUrlEncode(bool value) { SetField(urlEncode_, value); }
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& value) { SetField(fieldName_, value); }
  const std::string& FieldValue() const { return fieldValue_; }
  void SetFieldValue(const std::string& value) { SetField(fieldValue_, value); }

  // The field as the builder's request type writes it (empty outside form and
  // multipart requests).
  std::string FieldText() const;

  void ReadData(TclItemReader& reader) override;
  void WriteData(TclItemWriter& writer) override;
  std::unique_ptr<rtl::Stream> GetDataStream() override;
  std::int64_t GetDataSize() override { return static_cast<std::int64_t>(FieldText().size()); }

 protected:
  void AssignFields(const TclHttpRequestItem& source) override;

 private:
  bool urlEncode_ = true;
  std::string fieldName_;
  std::string fieldValue_;
};

class TclSubmitFileRequestItem : public TclHttpRequestItem {
 public:
  TclSubmitFileRequestItem() = default;
  static const TclHttpRequestItemClass& ClassInfo();
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value) { SetField(fileName_, value); }
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& value) { SetField(fieldName_, value); }
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(const std::string& value) { SetField(contentType_, value); }

  // The part header written before the file's bytes.
  std::string PartHeader() const;

  void ReadData(TclItemReader& reader) override;
  void WriteData(TclItemWriter& writer) override;
  // Outside a multipart request: an empty stream. Otherwise the part header
  // followed by the file; a file that cannot be opened raises EFOpenError.
  std::unique_ptr<rtl::Stream> GetDataStream() override;
  std::int64_t GetDataSize() override { return SizeOfDataStream(); }

 protected:
  void AssignFields(const TclHttpRequestItem& source) override;

 private:
  std::string fileName_;
  std::string fieldName_ = "FileName";
  std::string contentType_ = "application/octet-stream";
};

// Form field encoding: the 18 reserved characters and bytes from 128 become
// "%XX", a blank becomes "+", everything else is copied.
std::string UrlEncodeField(const std::string& text);
