#include "http/clEncoder.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "rtl/PropertyStreaming.h"

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::int64_t kBlock =
    48 * 1024;  // a multiple of 3, so Base64 groups never straddle blocks

// Buffered byte-wise access to the source, reading until the stream delivers 0.
class Input {
 public:
  explicit Input(rtl::Stream& source) : source_(source), buffer_(static_cast<size_t>(kBlock)) {}

  int Next() {
    if (!Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_++]);
  }
  int Peek() {
    if (!Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  // Appends up to count bytes to out; fewer only at the end of the source.
  std::int64_t Take(std::int64_t count, std::string& out) {
    std::int64_t taken = 0;
    while (taken < count && Fill()) {
      size_t n = std::min<size_t>(static_cast<size_t>(count - taken), end_ - pos_);
      out.append(buffer_.data() + pos_, n);
      pos_ += n;
      taken += static_cast<std::int64_t>(n);
    }
    return taken;
  }

 private:
  bool Fill() {
    if (pos_ < end_) return true;
    if (eof_) return false;
    std::int64_t n = source_.Read(buffer_.data(), kBlock);
    pos_ = 0;
    end_ = n > 0 ? static_cast<size_t>(n) : 0;
    if (end_ == 0) eof_ = true;
    return end_ > 0;
  }

  rtl::Stream& source_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

char UUChar(unsigned value) {
  return value == 0 ? '`' : static_cast<char>(value + 32);
}

void AppendBase64(const unsigned char* data, size_t size, std::string& out) {
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += kBase64Alphabet[v & 63];
  }
  if (size - i == 1) {
    unsigned v = data[i] << 16;
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += "==";
  } else if (size - i == 2) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8);
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += '=';
  }
}

}  // namespace

// Collects output and hands it to the destination in large blocks.
class TclEncoder::Output {
 public:
  explicit Output(rtl::Stream& destination) : destination_(destination) {}
  std::string& Buffer() { return buffer_; }
  void MaybeFlush() {
    if (buffer_.size() >= static_cast<size_t>(kBlock)) Flush();
  }
  void Flush() {
    destination_.WriteBuffer(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
    buffer_.clear();
  }

 private:
  rtl::Stream& destination_;
  std::string buffer_;
};

TclEncoder::TclEncoder(rtl::Component* owner) : rtl::Component(owner) {}

void TclEncoder::SetMethod(TclEncodeMethod value) {
  method_ = value;
  SetCharsPerLine(charsPerLine_);
}

void TclEncoder::SetCharsPerLine(int value) {
  switch (method_) {
    case cmMIMEQuotedPrintable:
      charsPerLine_ = std::clamp(value, 4, 76);
      break;
    case cmUUEncode:
      charsPerLine_ = std::clamp(value, 3, 84);
      break;
    case cmMIMEBase64: {
      if (value < 76) {
        charsPerLine_ = 76;
        break;
      }
      // 4 x round(value / 4 + 0.25), halves to even, computed in quarters.
      std::int64_t quarters = static_cast<std::int64_t>(value) + 1;
      std::int64_t q = quarters / 4;
      std::int64_t r = quarters % 4;
      if (r > 2 || (r == 2 && q % 2 != 0)) ++q;
      charsPerLine_ = static_cast<int>(std::min<std::int64_t>(4 * q, INT_MAX / 4 * 4));
      break;
    }
    default:
      break;  // cmNone (and forced values) keep the property as it is
  }
}

std::int64_t TclEncoder::LineBytes(std::int64_t sourceSize) const {
  if (singleLine_) return std::max<std::int64_t>(sourceSize, 1);
  return static_cast<std::int64_t>(charsPerLine_) * 3 / 4;
}

void TclEncoder::Encode(rtl::Stream& source, rtl::Stream& destination, TclEncodeMethod method) {
  const std::int64_t size = source.Size();
  if (size == 0) return;
  firstLine_ = true;
  DoProgress(0);
  SetMethod(method);
  Output out(destination);
  switch (method_) {
    case cmNone: {
      Input in(source);
      while (in.Take(kBlock, out.Buffer()) > 0) out.Flush();
      break;
    }
    case cmMIMEQuotedPrintable:
      destination.SetSize(0);
      destination.SetPosition(0);
      EncodeQuotedPrintable(source, out);
      break;
    case cmMIMEBase64:
      EncodeBase64(source, out);
      break;
    case cmUUEncode:
      EncodeUU(source, out);
      break;
    default:
      throw EclEncoderError("Unsupported format.");
  }
  out.Flush();
  DoProgress(static_cast<int>(source.Position() * 100 / size));
}

void TclEncoder::EncodeQuotedPrintable(rtl::Stream& source, Output& out) {
  Input in(source);
  // A line holds at least one character, so 4 and 5 characters per line still
  // make progress (one character or escape, then the soft break).
  const int full = std::max(charsPerLine_ - 6, 0);
  std::string& buffer = out.Buffer();
  int count = 0;
  for (int b = in.Next(); b >= 0; b = in.Next()) {
    if (b == '\r' && in.Peek() == '\n') {
      in.Next();
      buffer += "\r\n";
      count = 0;
      continue;
    }
    if ((b >= 32 && b <= 60) || (b >= 62 && b <= 126)) {
      buffer += static_cast<char>(b);
      count += 1;
    } else {
      buffer += '=';
      buffer += kHexDigits[b >> 4];
      buffer += kHexDigits[b & 15];
      count += 3;
    }
    // The line is ended as soon as it is full, so a source that ends exactly
    // then ends with the soft break.
    if (!singleLine_ && count > full) {
      if (!stringMode_) buffer += "=\r\n";
      count = 0;
    }
    out.MaybeFlush();
  }
}

void TclEncoder::EncodeBase64(rtl::Stream& source, Output& out) {
  Input in(source);
  const std::int64_t lineBytes = LineBytes(source.Size());
  std::string chunk;
  for (;;) {
    std::int64_t left = lineBytes;
    bool started = false;
    while (left > 0) {
      chunk.clear();
      std::int64_t n = in.Take(std::min(left, kBlock), chunk);
      if (n == 0) break;
      if (!started) {
        if (!firstLine_) out.Buffer() += "\r\n";
        firstLine_ = false;
        started = true;
      }
      AppendBase64(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size(),
                   out.Buffer());
      out.MaybeFlush();
      left -= n;
    }
    if (left > 0) break;  // the source ended inside (or at the start of) this line
  }
}

void TclEncoder::EncodeUU(rtl::Stream& source, Output& out) {
  Input in(source);
  const std::int64_t lineBytes = static_cast<std::int64_t>(charsPerLine_) * 3 / 4;
  std::string line;
  std::string& buffer = out.Buffer();
  for (;;) {
    line.clear();
    std::int64_t n = in.Take(lineBytes, line);
    const auto* d = reinterpret_cast<const unsigned char*>(line.data());
    buffer += UUChar(static_cast<unsigned>(n));
    size_t i = 0;
    for (; i + 3 <= line.size(); i += 3) {
      buffer += UUChar(d[i] >> 2);
      buffer += UUChar(((d[i] & 3) << 4) | (d[i + 1] >> 4));
      buffer += UUChar(((d[i + 1] & 15) << 2) | (d[i + 2] >> 6));
      buffer += UUChar(d[i + 2] & 63);
    }
    if (line.size() - i == 2) {
      buffer += UUChar(d[i] >> 2);
      buffer += UUChar(((d[i] & 3) << 4) | (d[i + 1] >> 4));
      buffer += UUChar((d[i + 1] & 15) << 2);
    } else if (line.size() - i == 1) {
      buffer += UUChar(d[i] >> 2);
      buffer += UUChar((d[i] & 3) << 4);
    }
    buffer += "\r\n";
    firstLine_ = false;
    out.MaybeFlush();
    if (n < lineBytes) break;
  }
  buffer += "`\r\n";
}

void TclEncoder::EncodeString(const std::string& source, std::string& destination,
                              TclEncodeMethod method, bool singleLine) {
  // Resets the flags on every way out.
  struct Flags {
    TclEncoder& e;
    Flags(TclEncoder& encoder, bool single) : e(encoder) {
      e.singleLine_ = single;
      e.stringMode_ = true;
    }
    ~Flags() {
      e.singleLine_ = false;
      e.stringMode_ = false;
    }
  };
  rtl::MemoryStream in(source);
  rtl::MemoryStream out;
  Flags flags(*this, singleLine);
  in.SetPosition(0);
  Encode(in, out, method);
  destination = out.Data();
}

std::string TclEncoder::EncodeString(const std::string& source, TclEncodeMethod method,
                                     bool singleLine) {
  std::string result;
  EncodeString(source, result, method, singleLine);
  return result;
}

void TclEncoder::DefineProperties(rtl::Properties& properties) {
  properties.Enum<TclEncodeMethod>(
      "Method", [this] { return method_; }, [this](TclEncodeMethod v) { SetMethod(v); },
      {"cmNone", "cmMIMEQuotedPrintable", "cmMIMEBase64", "cmUUEncode"});
  properties.Value<int>(
      "CharsPerLine", [this] { return charsPerLine_; }, [this](int v) { SetCharsPerLine(v); });
}

void TclEncoder::DoProgress(int percent) {
  if (OnProgress) OnProgress(this, percent);
}
