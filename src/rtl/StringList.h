// An ordered list of strings with name=value access, text conversion, update
// brackets and change events. Owned by whoever created it; single-threaded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rtl/Component.h"

namespace rtl {

class StringList : public Persistent {
 public:
  using Notify = std::function<void(StringList* sender)>;

  StringList() = default;
  StringList(std::initializer_list<std::string> items);

  std::string ClassName() const override { return "TStringList"; }

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, const std::string& value);
  const std::string& operator[](int index) const { return Strings(index); }

  int Add(const std::string& value);
  void AddStrings(const StringList& other);
  void Insert(int index, const std::string& value);
  void Delete(int index);
  void Clear();
  void Exchange(int a, int b);
  void Sort();

  // Case-insensitive unless CaseSensitive is set, as lists of names usually are.
  int IndexOf(const std::string& value) const;
  int IndexOfName(const std::string& name) const;
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value) { caseSensitive_ = value; }

  // "Name=Value" lines.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(const std::string& name) const;
  // An empty value removes the line, as name=value lists behave.
  void SetValues(const std::string& name, const std::string& value);

  // Lines joined by LineBreak, each followed by it (the last one too).
  std::string Text() const;
  // Splits at CR LF, LF or CR.
  void SetText(const std::string& text);
  const std::string& LineBreak() const { return lineBreak_; }
  void SetLineBreak(std::string value) { lineBreak_ = std::move(value); }

  // Items separated by Delimiter, quoted with '"' when they hold the delimiter,
  // blanks or quotes.
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& text);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char value) { delimiter_ = value; }
  std::string CommaText() const;
  void SetCommaText(const std::string& text);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  const std::vector<std::string>& Items() const { return items_; }
  bool Equals(const StringList& other) const { return items_ == other.items_; }

  void Assign(const Persistent& source) override;

  Notify OnChange;
  Notify OnChanging;

 protected:
  virtual void Changing();
  virtual void Changed();

 private:
  bool SameText(const std::string& a, const std::string& b) const;

  std::vector<std::string> items_;
  int updateCount_ = 0;
  bool caseSensitive_ = false;
  char delimiter_ = ',';
  std::string lineBreak_ = "\r\n";
};

}  // namespace rtl
