#include "html/clHtmlEntities.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace html {
namespace {

struct Entity {
  const char* name;
  std::uint32_t codePoint;
};

// Latin-1 names, U+00A0 to U+00FF in order; browsers accept these without ";".
const char* const kLatin1[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

// Also accepted without ";".
const Entity kLegacyOther[] = {{"amp", '&'},   {"lt", '<'},  {"gt", '>'}, {"quot", '"'},
                               {"AMP", '&'},   {"LT", '<'},  {"GT", '>'}, {"QUOT", '"'},
                               {"COPY", 0xA9}, {"REG", 0xAE}};

// Accepted only with ";".
const Entity kWithSemicolon[] = {
    {"apos", '\''},     {"euro", 0x20AC},   {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"sbquo", 0x201A},  {"bdquo", 0x201E},  {"bull", 0x2022},
    {"trade", 0x2122},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"larr", 0x2190},   {"uarr", 0x2191},
    {"rarr", 0x2192},   {"darr", 0x2193},   {"harr", 0x2194},   {"minus", 0x2212},
    {"infin", 0x221E},  {"ne", 0x2260},     {"le", 0x2264},     {"ge", 0x2265},
    {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009}, {"zwnj", 0x200C},
    {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},    {"OElig", 0x152},
    {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161},  {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"hearts", 0x2665},
    {"nbsp", 0xA0},     {"alpha", 0x3B1},   {"beta", 0x3B2},    {"gamma", 0x3B3},
    {"delta", 0x3B4},   {"pi", 0x3C0},      {"Alpha", 0x391},   {"Beta", 0x392},
    {"Gamma", 0x393},   {"Delta", 0x394},   {"Pi", 0x3A0},
};

// Numeric references to the C1 controls mean the Windows-1252 characters.
const std::uint16_t kWindows1252[32] = {
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

bool IsAlnum(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The longest known name at the start of text; legacy tells whether it may
// stand without ";".
bool MatchNamed(std::string_view text, size_t& length, std::uint32_t& codePoint, bool& legacy) {
  length = 0;
  auto consider = [&](const char* name, std::uint32_t cp, bool isLegacy) {
    size_t n = std::strlen(name);
    if (n > length && text.substr(0, n) == name) {
      length = n;
      codePoint = cp;
      legacy = isLegacy;
    }
  };
  for (int i = 0; i < 96; ++i) consider(kLatin1[i], 0xA0 + static_cast<std::uint32_t>(i), true);
  for (const auto& e : kLegacyOther) consider(e.name, e.codePoint, true);
  for (const auto& e : kWithSemicolon) {
    // Only the form with ";" counts for these names.
    size_t n = std::strlen(e.name);
    if (n + 1 > length && text.size() > n && text.substr(0, n) == e.name && text[n] == ';') {
      length = n;
      codePoint = e.codePoint;
      legacy = false;
    }
  }
  return length > 0;
}

}  // namespace

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string DecodeCharacterReferences(std::string_view text, bool inAttribute) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, amp - i));
    i = amp + 1;
    if (i < text.size() && text[i] == '#') {
      size_t j = i + 1;
      bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
      if (hex) ++j;
      size_t digitsStart = j;
      std::uint32_t value = 0;
      while (j < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[j]))
                                     : std::isdigit(static_cast<unsigned char>(text[j])))) {
        char c = text[j];
        std::uint32_t d = std::isdigit(static_cast<unsigned char>(c))
                              ? static_cast<std::uint32_t>(c - '0')
                              : static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
        value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + d,
                                        0x110000);  // saturates: no overflow
        ++j;
      }
      if (j == digitsStart) {  // "&#" without digits stays as written
        out += '&';
        continue;
      }
      if (j < text.size() && text[j] == ';') ++j;
      if (value == 0) value = 0xFFFD;
      if (value >= 0x80 && value <= 0x9F) value = kWindows1252[value - 0x80];
      AppendUtf8(value, out);
      i = j;
      continue;
    }
    size_t length = 0;
    std::uint32_t cp = 0;
    bool legacy = false;
    if (!MatchNamed(text.substr(i), length, cp, legacy)) {
      out += '&';
      continue;
    }
    bool semicolon = i + length < text.size() && text[i + length] == ';';
    if (!semicolon) {
      char next = i + length < text.size() ? text[i + length] : '\0';
      if (!legacy || (inAttribute && (IsAlnum(next) || next == '='))) {
        out += '&';
        continue;
      }
    }
    AppendUtf8(cp, out);
    i += length + (semicolon ? 1 : 0);
  }
  return out;
}

}  // namespace html
