#include "rtl/StringList.h"

#include <algorithm>
#include <strings.h>

#include "rtl/Exceptions.h"

namespace rtl {

StringList::StringList(std::initializer_list<std::string> items) : items_(items) {}

const std::string& StringList::Strings(int index) const {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  return items_[static_cast<size_t>(index)];
}

void StringList::SetStrings(int index, const std::string& value) {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  Changing();
  items_[static_cast<size_t>(index)] = value;
  Changed();
}

int StringList::Add(const std::string& value) {
  Changing();
  items_.push_back(value);
  Changed();
  return Count() - 1;
}

void StringList::AddStrings(const StringList& other) {
  BeginUpdate();
  for (const auto& s : other.items_) Add(s);
  EndUpdate();
}

void StringList::Insert(int index, const std::string& value) {
  if (index < 0 || index > Count()) RaiseListIndexError(index);
  Changing();
  items_.insert(items_.begin() + index, value);
  Changed();
}

void StringList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void StringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

void StringList::Exchange(int a, int b) {
  if (a < 0 || a >= Count()) RaiseListIndexError(a);
  if (b < 0 || b >= Count()) RaiseListIndexError(b);
  Changing();
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  Changed();
}

void StringList::Sort() {
  Changing();
  std::stable_sort(items_.begin(), items_.end(), [this](const std::string& a, const std::string& b) {
    return caseSensitive_ ? a < b : strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  Changed();
}

bool StringList::SameText(const std::string& a, const std::string& b) const {
  return caseSensitive_ ? a == b : (a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0);
}

int StringList::IndexOf(const std::string& value) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(items_[static_cast<size_t>(i)], value)) return i;
  }
  return -1;
}

int StringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(Names(i), name) && items_[static_cast<size_t>(i)].find('=') != std::string::npos) {
      return i;
    }
  }
  return -1;
}

std::string StringList::Names(int index) const {
  const std::string& s = Strings(index);
  auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string StringList::ValueFromIndex(int index) const {
  const std::string& s = Strings(index);
  auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string StringList::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void StringList::SetValues(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i < 0) {
    Add(name + "=" + value);
  } else {
    SetStrings(i, name + "=" + value);
  }
}

std::string StringList::Text() const {
  std::string result;
  for (const auto& s : items_) {
    result += s;
    result += lineBreak_;
  }
  return result;
}

void StringList::SetText(const std::string& text) {
  BeginUpdate();
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(text.substr(start));
      break;
    }
    Add(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  EndUpdate();
}

std::string StringList::DelimitedText() const {
  std::string result;
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& s = items_[i];
    if (i > 0) result += delimiter_;
    bool quote = s.empty();
    for (char c : s) {
      if (c == delimiter_ || c == '"' || static_cast<unsigned char>(c) <= ' ') quote = true;
    }
    if (!quote) {
      result += s;
      continue;
    }
    result += '"';
    for (char c : s) {
      if (c == '"') result += '"';
      result += c;
    }
    result += '"';
  }
  return result;
}

void StringList::SetDelimitedText(const std::string& text) {
  BeginUpdate();
  Clear();
  size_t i = 0;
  const size_t n = text.size();
  auto skipBlanks = [&] {
    while (i < n && static_cast<unsigned char>(text[i]) <= ' ' && text[i] != delimiter_) ++i;
  };
  skipBlanks();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      while (i < n && text[i] != delimiter_ && static_cast<unsigned char>(text[i]) > ' ') {
        item += text[i++];
      }
    }
    Add(item);
    skipBlanks();
    if (i < n && text[i] == delimiter_) {
      ++i;
      skipBlanks();
      if (i >= n) Add("");
    }
  }
  EndUpdate();
}

std::string StringList::CommaText() const {
  StringList copy;
  copy.items_ = items_;
  copy.delimiter_ = ',';
  return copy.DelimitedText();
}

void StringList::SetCommaText(const std::string& text) {
  char saved = delimiter_;
  delimiter_ = ',';
  SetDelimitedText(text);
  delimiter_ = saved;
}

void StringList::BeginUpdate() {
  if (updateCount_ == 0) Changing();
  ++updateCount_;
}

void StringList::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  if (updateCount_ == 0) Changed();
}

void StringList::Changing() {
  if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void StringList::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

void StringList::Assign(const Persistent& source) {
  if (const auto* list = dynamic_cast<const StringList*>(&source)) {
    BeginUpdate();
    items_ = list->items_;
    EndUpdate();
    return;
  }
  Persistent::Assign(source);
}

}  // namespace rtl
