// TclEncoder: encodes a stream or a text as quoted-printable, Base64 or
// uuencoded text with a configurable line length, reporting progress. A
// component of the thread that created it; not safe for concurrent use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rtl/Component.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

enum TclEncodeMethod : std::uint8_t { cmNone, cmMIMEQuotedPrintable, cmMIMEBase64, cmUUEncode };

class EclEncoderError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TclEncoder;
using TclEncoderProgressEvent = std::function<void(TclEncoder* sender, int percent)>;

class TclEncoder : public rtl::Component {
 public:
  explicit TclEncoder(rtl::Component* owner = nullptr);
  std::string ClassName() const override { return "TclEncoder"; }

  TclEncodeMethod Method() const { return method_; }
  // Stores the method, then re-applies CharsPerLine so it is clamped for it.
  void SetMethod(TclEncodeMethod value);

  int CharsPerLine() const { return charsPerLine_; }
  // Ignored under cmNone; clamped to 4..76 for quoted-printable and 3..84 for
  // uuencode; for Base64 at least 76 and always a multiple of 4.
  void SetCharsPerLine(int value);

  // Encodes the source from its current position to its end into the
  // destination. An empty source writes nothing and reports no progress;
  // otherwise progress 0 and then 100 are reported. Method persists after the
  // call. Quoted-printable empties the destination first; the other methods
  // write at the destination's position.
  void Encode(rtl::Stream& source, rtl::Stream& destination, TclEncodeMethod method);

  // Encodes a text. With singleLine, no line breaks are produced (Base64 and
  // quoted-printable); quoted-printable never writes soft line breaks here.
  // Uuencode keeps its line structure even then: its count character cannot
  // express lines longer than 63 bytes.
  void EncodeString(const std::string& source, std::string& destination, TclEncodeMethod method,
                    bool singleLine = false);
  std::string EncodeString(const std::string& source, TclEncodeMethod method,
                           bool singleLine = false);

  void DefineProperties(rtl::Properties& properties) override;

  TclEncoderProgressEvent OnProgress;

 protected:
  virtual void DoProgress(int percent);

 private:
  class Output;
  void EncodeQuotedPrintable(rtl::Stream& source, Output& out);
  void EncodeBase64(rtl::Stream& source, Output& out);
  void EncodeUU(rtl::Stream& source, Output& out);
  std::int64_t LineBytes(std::int64_t sourceSize) const;

  TclEncodeMethod method_ = cmNone;
  int charsPerLine_ = 76;
  bool firstLine_ = false;
  bool singleLine_ = false;
  bool stringMode_ = false;
};
