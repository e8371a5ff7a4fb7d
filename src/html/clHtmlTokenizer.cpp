#include "html/clHtmlTokenizer.h"

#include <cctype>
#include <unordered_set>

#include "html/clHtmlEntities.h"

namespace html {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsAlpha(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool IsRawText(const std::string& name) {
  return name == "script" || name == "style" || name == "xmp" || name == "iframe" ||
         name == "noembed" || name == "noframes";
}
bool IsEscapableRawText(const std::string& name) {
  return name == "textarea" || name == "title";
}

}  // namespace

bool Tokenizer::Next(Token& token) {
  // A loop, not recursion: a page of a million comments must not exhaust the stack.
  for (;;) {
    token = Token();
    if (pos_ >= s_.size()) return false;
    if (!rawEnd_.empty()) {
      if (ReadRawText(token)) return true;
      continue;
    }
    if (StartsMarkup(pos_)) {
      // Markup that yields no token (comment, declaration, a tag cut off by
      // the end) is skipped; ReadTag always moves past it.
      if (ReadTag(token)) return true;
      continue;
    }
    // Text up to the next "<" that starts markup; any other "<" is text.
    size_t start = pos_;
    size_t at = pos_ + 1;
    while ((at = s_.find('<', at)) != std::string_view::npos && !StartsMarkup(at)) ++at;
    if (at == std::string_view::npos) at = s_.size();
    token.kind = Token::Text;
    token.position = start;
    token.length = at - start;
    token.text = DecodeCharacterReferences(s_.substr(start, at - start), false);
    pos_ = at;
    return true;
  }
}

bool Tokenizer::StartsMarkup(size_t at) const {
  if (at >= s_.size() || s_[at] != '<') return false;
  char next = at + 1 < s_.size() ? s_[at + 1] : '\0';
  return IsAlpha(next) || next == '/' || next == '!' || next == '?';
}

bool Tokenizer::ReadRawText(Token& token) {
  size_t start = pos_;
  size_t at = start;
  size_t end = s_.size();
  while (!plaintext_ && (at = s_.find("</", at)) != std::string_view::npos) {
    size_t n = rawEnd_.size();
    bool match = at + 2 + n <= s_.size();
    for (size_t k = 0; match && k < n; ++k) match = Lower(s_[at + 2 + k]) == rawEnd_[k];
    if (match) {
      char after = at + 2 + n < s_.size() ? s_[at + 2 + n] : '\0';
      if (IsSpace(after) || after == '/' || after == '>') {
        end = at;
        break;
      }
    }
    at += 2;
  }
  bool hidden = rawEnd_ == "script" || rawEnd_ == "style";
  bool decode = rawDecodes_;
  rawEnd_.clear();
  pos_ = end;
  if (end == start) return false;  // empty content: the end tag comes next
  token.kind = Token::Text;
  token.position = start;
  token.length = end - start;
  std::string_view raw = s_.substr(start, end - start);
  token.text = decode ? DecodeCharacterReferences(raw, false) : std::string(raw);
  token.scriptOrStyle = hidden;
  return true;
}

void Tokenizer::SkipComment() {
  // pos_ is just after "<!--". "<!-->" and "<!--->" end at once.
  if (pos_ < s_.size() && s_[pos_] == '>') {
    ++pos_;
    return;
  }
  if (pos_ + 1 < s_.size() && s_[pos_] == '-' && s_[pos_ + 1] == '>') {
    pos_ += 2;
    return;
  }
  for (size_t at = pos_; at < s_.size(); ++at) {
    if (s_.compare(at, 3, "-->") == 0) {
      pos_ = at + 3;
      return;
    }
    if (s_.compare(at, 4, "--!>") == 0) {
      pos_ = at + 4;
      return;
    }
  }
  pos_ = s_.size();
}

void Tokenizer::SkipBogusComment() {
  size_t end = s_.find('>', pos_);
  pos_ = end == std::string_view::npos ? s_.size() : end + 1;
}

bool Tokenizer::ReadTag(Token& token) {
  const size_t start = pos_;
  const size_t n = s_.size();
  char next = start + 1 < n ? s_[start + 1] : '\0';
  if (next == '!') {
    if (s_.compare(start + 2, 2, "--") == 0) {
      pos_ = start + 4;
      SkipComment();
    } else {
      pos_ = start + 2;
      SkipBogusComment();
    }
    return false;
  }
  if (next == '?') {
    pos_ = start + 1;
    SkipBogusComment();
    return false;
  }
  bool endTag = next == '/';
  size_t i = start + (endTag ? 2 : 1);
  if (endTag) {
    if (i < n && s_[i] == '>') {  // "</>" is dropped
      pos_ = i + 1;
      return false;
    }
    if (i >= n || !IsAlpha(s_[i])) {
      pos_ = i;
      SkipBogusComment();
      return false;
    }
  }
  std::string name;
  while (i < n && !IsSpace(s_[i]) && s_[i] != '/' && s_[i] != '>') name += Lower(s_[i++]);

  std::vector<std::pair<std::string, std::string>> attributes;
  std::unordered_set<std::string> seen;
  bool selfClosing = false;
  bool closed = false;
  while (i < n) {
    while (i < n && IsSpace(s_[i])) ++i;
    if (i >= n) break;
    if (s_[i] == '>') {
      closed = true;
      ++i;
      break;
    }
    if (s_[i] == '/') {
      ++i;
      if (i < n && s_[i] == '>') {
        selfClosing = true;
        closed = true;
        ++i;
        break;
      }
      continue;
    }
    // Attribute name; a leading "=" belongs to the name.
    std::string attrName(1, Lower(s_[i++]));
    while (i < n && !IsSpace(s_[i]) && s_[i] != '/' && s_[i] != '>' && s_[i] != '=')
      attrName += Lower(s_[i++]);
    while (i < n && IsSpace(s_[i])) ++i;
    std::string value;
    if (i < n && s_[i] == '=') {
      ++i;
      while (i < n && IsSpace(s_[i])) ++i;
      if (i < n && (s_[i] == '"' || s_[i] == '\'')) {
        char quote = s_[i++];
        size_t close = s_.find(quote, i);
        if (close == std::string_view::npos) {
          i = n;  // unterminated: the tag runs to the end and is dropped
          break;
        }
        value = DecodeCharacterReferences(s_.substr(i, close - i), true);
        i = close + 1;
      } else {
        size_t vstart = i;
        while (i < n && !IsSpace(s_[i]) && s_[i] != '>') ++i;
        value = DecodeCharacterReferences(s_.substr(vstart, i - vstart), true);
      }
    }
    if (seen.insert(attrName).second)
      attributes.emplace_back(std::move(attrName), std::move(value));
  }
  pos_ = i;
  if (!closed) {
    // A tag cut off by the end of the text is dropped, as browsers drop it.
    pos_ = n;
    return false;
  }
  token.kind = endTag ? Token::EndTag : Token::StartTag;
  token.name = std::move(name);
  token.position = start;
  token.length = i - start;
  token.selfClosing = selfClosing;
  if (!endTag) {
    token.attributes = std::move(attributes);
    if (IsRawText(token.name) || IsEscapableRawText(token.name)) {
      rawEnd_ = token.name;
      rawDecodes_ = IsEscapableRawText(token.name);
    } else if (token.name == "plaintext") {
      // Everything after it is text, with no end tag that could close it.
      rawEnd_ = token.name;
      rawDecodes_ = false;
      plaintext_ = true;
    }
  }
  return true;
}

}  // namespace html
