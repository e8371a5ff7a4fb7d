// Splits an HTML text into start tags, end tags and text the way browsers
// read markup: quoted and unquoted attribute values, comments and other
// markup declarations skipped, character references decoded, and the content
// of script, style and the other raw-text elements taken as text up to their
// own end tag. Never fails: malformed markup is read as browsers read it, and
// every call makes progress. Pure: owns nothing but its position in the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace html {

struct Token {
  enum Kind { StartTag, EndTag, Text };
  Kind kind = Text;
  std::string name;                                             // lower-case tag name
  std::vector<std::pair<std::string, std::string>> attributes;  // first of each name only
  bool selfClosing = false;
  std::string text;            // decoded text (Text tokens)
  bool scriptOrStyle = false;  // Text inside script or style: not shown to the reader
  size_t position = 0;         // offset of "<" (tags) or of the text's first byte
  size_t length = 0;           // bytes of the source the token spans
};

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view source) : s_(source) {}
  // The next token; false at the end of the text.
  bool Next(Token& token);

 private:
  bool StartsMarkup(size_t at) const;
  bool ReadTag(Token& token);
  void SkipComment();
  void SkipBogusComment();
  bool ReadRawText(Token& token);

  std::string_view s_;
  size_t pos_ = 0;
  std::string rawEnd_;       // name of the raw-text element we are inside, if any
  bool rawDecodes_ = false;  // textarea and title decode references, script does not
  bool plaintext_ = false;   // after <plaintext> everything is text
};

}  // namespace html
