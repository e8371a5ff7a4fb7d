// Encoding never crashes, whatever the data, method and line length; Base64
// output decodes back to the input with OpenSSL's decoder, and the line
// limits of quoted-printable hold.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/clEncoder.h"

namespace {

std::string OpenSslDecode(const std::string& base64) {
  std::string joined;
  for (char c : base64) {
    if (c != '\r' && c != '\n') joined += c;
  }
  if (joined.size() % 4 != 0) __builtin_trap();
  std::string out(joined.size() / 4 * 3 + 1, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(joined.data()),
                          static_cast<int>(joined.size()));
  if (n < 0) __builtin_trap();
  // EVP_DecodeBlock counts the bytes of "=" padding as data.
  size_t padding = 0;
  if (!joined.empty() && joined.back() == '=') ++padding;
  if (joined.size() > 1 && joined[joined.size() - 2] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const auto method = static_cast<TclEncodeMethod>(data[0] % 4);
  const int charsPerLine = data[1];
  const bool singleLine = data[2] & 1;
  const std::string input(reinterpret_cast<const char*>(data + 3), size - 3);

  TclEncoder encoder;
  encoder.SetMethod(method);
  encoder.SetCharsPerLine(charsPerLine);
  std::string out;
  if (data[2] & 2) {
    out = encoder.EncodeString(input, method, singleLine);
  } else {
    rtl::MemoryStream source(input);
    rtl::MemoryStream destination;
    encoder.Encode(source, destination, method);
    out = destination.Data();
  }
  if (input.empty() && !out.empty()) __builtin_trap();
  switch (method) {
    case cmNone:
      if (out != input) __builtin_trap();
      break;
    case cmMIMEBase64:
      if (OpenSslDecode(out) != input) __builtin_trap();
      break;
    case cmMIMEQuotedPrintable: {
      size_t lineStart = 0;
      for (size_t i = 0; i <= out.size(); ++i) {
        if (i == out.size() || out[i] == '\r') {
          if (i - lineStart > static_cast<size_t>(encoder.CharsPerLine()) && !(data[2] & 2))
            __builtin_trap();
          lineStart = i + 2;
        }
      }
      break;
    }
    case cmUUEncode:
      if (!input.empty() && out.compare(out.size() - 3, 3, "`\r\n") != 0) __builtin_trap();
      break;
  }
  return 0;
}
