// Character references of HTML text and attribute values, decoded to UTF-8
// (the system's 8-bit code page on this platform). Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace html {

// Appends the UTF-8 form of a code point; anything that is not a Unicode
// scalar value becomes U+FFFD.
void AppendUtf8(std::uint32_t codePoint, std::string& out);

// Decodes every character reference of a text. In attribute values a named
// reference without ";" followed by a letter, digit or "=" stays as written,
// as browsers keep it (so "?a=1&copy=2" in a URL survives).
std::string DecodeCharacterReferences(std::string_view text, bool inAttribute);

}  // namespace html
