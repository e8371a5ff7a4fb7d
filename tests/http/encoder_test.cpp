#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "http/clEncoder.h"
#include "rtl/PropertyStreaming.h"
#include "support/TempDir.h"

namespace {

using testing_support::RandomBytes;

// Base64 of one line by OpenSSL, the independent reference.
std::string OpenSslBase64(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// Lines of lineBytes input bytes each, joined by CR LF, nothing after the last.
std::string ReferenceBase64(const std::string& data, size_t lineBytes) {
  std::string result;
  for (size_t at = 0; at < data.size(); at += lineBytes) {
    if (at > 0) result += "\r\n";
    result += OpenSslBase64(data.substr(at, lineBytes));
  }
  return result;
}

std::string EncodeStream(TclEncoder& encoder, const std::string& data, TclEncodeMethod method) {
  rtl::MemoryStream in(data);
  rtl::MemoryStream out;
  encoder.Encode(in, out, method);
  return out.Data();
}

// Decodes our uuencode body (count character, then groups without filler)
// by the rules alone; fails the test on anything malformed.
std::string DecodeUU(const std::string& text, size_t& lines) {
  std::string result;
  lines = 0;
  size_t at = 0;
  auto value = [](char c) { return c == '`' ? 0u : static_cast<unsigned>(c - 32) & 63u; };
  for (;;) {
    size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) return result;
    std::string line = text.substr(at, end - at);
    at = end + 2;
    ++lines;
    size_t n = value(line[0]);
    if (line == "`" && at == text.size()) return result;  // the terminating line
    size_t expectedChars = 1 + (n / 3) * 4 + (n % 3 == 0 ? 0 : n % 3 + 1);
    EXPECT_EQ(line.size(), expectedChars) << "line " << lines;
    for (size_t i = 1; i + 1 < line.size(); i += 4) {
      unsigned v0 = value(line[i]), v1 = value(line[i + 1]);
      unsigned v2 = i + 2 < line.size() ? value(line[i + 2]) : 0;
      unsigned v3 = i + 3 < line.size() ? value(line[i + 3]) : 0;
      unsigned v = (v0 << 18) | (v1 << 12) | (v2 << 6) | v3;
      size_t take = std::min<size_t>(3, n - (i - 1) / 4 * 3);
      for (size_t k = 0; k < take; ++k) result += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
    }
  }
}

class EncoderTest : public ::testing::Test {
 protected:
  TclEncoder encoder;
};

TEST_F(EncoderTest, CharsPerLineIsClampedForEachMethod) {
  encoder.SetMethod(cmMIMEBase64);
  encoder.SetCharsPerLine(50);
  EXPECT_EQ(encoder.CharsPerLine(), 76);
  for (int v : {77, 79, 81}) {
    encoder.SetCharsPerLine(v);
    EXPECT_EQ(encoder.CharsPerLine(), 80) << v;
  }
  for (int v : {82, 84}) {
    encoder.SetCharsPerLine(v);
    EXPECT_EQ(encoder.CharsPerLine(), 84) << v;
  }
  for (int v : {85, 87, 89}) {
    encoder.SetCharsPerLine(v);
    EXPECT_EQ(encoder.CharsPerLine(), 88) << v;
  }
  encoder.SetCharsPerLine(2147483647);
  EXPECT_EQ(encoder.CharsPerLine() % 4, 0);
  EXPECT_GT(encoder.CharsPerLine(), 2147483000);

  encoder.SetMethod(cmUUEncode);  // re-clamps the huge value
  EXPECT_EQ(encoder.CharsPerLine(), 84);
  encoder.SetCharsPerLine(100);
  EXPECT_EQ(encoder.CharsPerLine(), 84);
  encoder.SetCharsPerLine(1);
  EXPECT_EQ(encoder.CharsPerLine(), 3);

  encoder.SetMethod(cmMIMEQuotedPrintable);
  encoder.SetCharsPerLine(2);
  EXPECT_EQ(encoder.CharsPerLine(), 4);
  encoder.SetCharsPerLine(200);
  EXPECT_EQ(encoder.CharsPerLine(), 76);

  encoder.SetMethod(cmNone);
  encoder.SetCharsPerLine(5);
  EXPECT_EQ(encoder.CharsPerLine(), 76);
  encoder.SetMethod(cmMIMEBase64);
  encoder.SetCharsPerLine(60);
  encoder.SetMethod(cmMIMEQuotedPrintable);
  EXPECT_EQ(encoder.CharsPerLine(), 76);
}

TEST_F(EncoderTest, ProgressIsReportedAsZeroThenHundredAndNeverForEmptySource) {
  std::vector<int> events;
  encoder.OnProgress = [&](TclEncoder* sender, int percent) {
    EXPECT_EQ(sender, &encoder);
    events.push_back(percent);
  };
  rtl::MemoryStream empty;
  rtl::MemoryStream out("kept");
  out.SetPosition(4);
  encoder.Encode(empty, out, cmMIMEQuotedPrintable);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(out.Data(), "kept");
  EXPECT_EQ(encoder.Method(), cmNone) << "an empty source changes nothing";

  EncodeStream(encoder, RandomBytes(1000, 1), cmUUEncode);
  EXPECT_EQ(events, (std::vector<int>{0, 100}));
  EXPECT_EQ(encoder.Method(), cmUUEncode) << "the method persists after Encode";
}

TEST_F(EncoderTest, NoneCopiesBytesAndBase64AppendsAtDestinationPosition) {
  std::string data = RandomBytes(70000, 2);
  EXPECT_EQ(EncodeStream(encoder, data, cmNone), data);
  rtl::MemoryStream in("abc");
  rtl::MemoryStream out("xyz");
  out.SetPosition(3);
  encoder.Encode(in, out, cmMIMEBase64);
  EXPECT_EQ(out.Data(), "xyzYWJj");
}

TEST_F(EncoderTest, ForcedUnknownMethodIsRejected) {
  rtl::MemoryStream in("abc");
  rtl::MemoryStream out;
  try {
    encoder.Encode(in, out, static_cast<TclEncodeMethod>(7));
    FAIL() << "no exception";
  } catch (const EclEncoderError& e) {
    EXPECT_EQ(e.Message(), "Unsupported format.");
  }
}

TEST_F(EncoderTest, Base64MatchesOpenSslOnRandomDataOfManySizes) {
  const std::vector<size_t> sizes = {1,   2,    3,    4,     56,    57,    58,    113,    114,
                                     115, 1000, 4095, 65536, 49151, 49152, 49153, 100003, 300000};
  for (int charsPerLine : {76, 80, 132}) {
    for (size_t size : sizes) {
      std::string data = RandomBytes(size, static_cast<unsigned>(size + charsPerLine));
      encoder.SetMethod(cmMIMEBase64);
      encoder.SetCharsPerLine(charsPerLine);
      std::string ours = EncodeStream(encoder, data, cmMIMEBase64);
      ASSERT_EQ(ours, ReferenceBase64(data, static_cast<size_t>(charsPerLine) * 3 / 4))
          << "size " << size << " chars per line " << charsPerLine;
    }
  }
}

TEST_F(EncoderTest, Base64LineBreaksFollowCharsPerLine) {
  std::string out57 = EncodeStream(encoder, std::string(57, 'x'), cmMIMEBase64);
  EXPECT_EQ(out57.size(), 76u);
  EXPECT_EQ(out57.find('\r'), std::string::npos);
  std::string out58 = EncodeStream(encoder, std::string(58, 'x'), cmMIMEBase64);
  ASSERT_EQ(out58.size(), 76u + 2 + 4);
  EXPECT_EQ(out58.substr(76, 2), "\r\n");
  EXPECT_EQ(out58.substr(78), "eA==");
  std::string out114 = EncodeStream(encoder, std::string(114, 'x'), cmMIMEBase64);
  EXPECT_EQ(out114.size(), 76u * 2 + 2) << "no CR LF after the last line";
}

TEST_F(EncoderTest, Base64MatchesCoreutilsForWrappedOutput) {
  testing_support::TempDir dir;
  std::string data = RandomBytes(200000, 77);
  testing_support::WriteFile(dir.File("in.bin"), data);
  std::string command = "base64 -w 76 '" + dir.File("in.bin") + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string expected;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) expected.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0);
  // coreutils ends every line with LF; ours separates lines with CR LF.
  ASSERT_FALSE(expected.empty());
  expected.pop_back();
  std::string converted;
  for (char c : expected) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  EXPECT_EQ(EncodeStream(encoder, data, cmMIMEBase64), converted);
}

TEST_F(EncoderTest, EncodeStringSingleLineBase64IsOneLine) {
  std::string text = RandomBytes(700, 5);
  std::string out = encoder.EncodeString(text, cmMIMEBase64, true);
  EXPECT_EQ(out, OpenSslBase64(text));
  EXPECT_EQ(encoder.EncodeString("", cmMIMEBase64, true), "");
  EXPECT_EQ(encoder.EncodeString("user:pass", cmMIMEBase64, true), "dXNlcjpwYXNz");
  // Without the flag the same text is broken into lines again.
  EXPECT_NE(encoder.EncodeString(text, cmMIMEBase64, false).find("\r\n"), std::string::npos);
}

TEST_F(EncoderTest, QuotedPrintableEscapesByTheRules) {
  EXPECT_EQ(encoder.EncodeString("a=b", cmMIMEQuotedPrintable), "a=3Db");
  EXPECT_EQ(encoder.EncodeString("\t", cmMIMEQuotedPrintable), "=09");
  EXPECT_EQ(encoder.EncodeString("a\nb", cmMIMEQuotedPrintable), "a=0Ab");
  EXPECT_EQ(encoder.EncodeString("a\r\nb", cmMIMEQuotedPrintable), "a\r\nb");
  EXPECT_EQ(encoder.EncodeString("a\rb", cmMIMEQuotedPrintable), "a=0Db");
  EXPECT_EQ(encoder.EncodeString("a\r\r\nb", cmMIMEQuotedPrintable), "a=0D\r\nb");
  EXPECT_EQ(encoder.EncodeString("end\r", cmMIMEQuotedPrintable), "end=0D");
  EXPECT_EQ(encoder.EncodeString(std::string("\x7f\x80\xff ~!", 6), cmMIMEQuotedPrintable),
            "=7F=80=FF ~!");
  EXPECT_EQ(encoder.EncodeString(std::string("\0", 1), cmMIMEQuotedPrintable), "=00");
  EXPECT_EQ(encoder.EncodeString("trailing  \r\n", cmMIMEQuotedPrintable), "trailing  \r\n");
}

TEST_F(EncoderTest, QuotedPrintableSoftBreaksAtTheLineLimit) {
  std::string out = EncodeStream(encoder, std::string(100, 'a'), cmMIMEQuotedPrintable);
  EXPECT_EQ(out, std::string(71, 'a') + "=\r\n" + std::string(29, 'a'));
  // The source ends exactly as the line becomes full.
  EXPECT_EQ(EncodeStream(encoder, std::string(71, 'a'), cmMIMEQuotedPrintable),
            std::string(71, 'a') + "=\r\n");
  EXPECT_EQ(EncodeStream(encoder, std::string(70, 'a'), cmMIMEQuotedPrintable),
            std::string(70, 'a'));
  // Escapes count three: a line may hold up to CharsPerLine - 3 characters.
  std::string escapes = EncodeStream(encoder, std::string(30, '='), cmMIMEQuotedPrintable);
  std::string line;
  for (int i = 0; i < 24; ++i) line += "=3D";
  EXPECT_EQ(escapes, line + "=\r\n" + "=3D=3D=3D=3D=3D=3D");
  // A hard line break restarts the count.
  std::string text = std::string(60, 'b') + "\r\n" + std::string(60, 'c');
  EXPECT_EQ(EncodeStream(encoder, text, cmMIMEQuotedPrintable), text);
}

TEST_F(EncoderTest, QuotedPrintableEmptiesTheDestinationFirst) {
  rtl::MemoryStream in("x=y");
  rtl::MemoryStream out("old content that must go");
  encoder.Encode(in, out, cmMIMEQuotedPrintable);
  EXPECT_EQ(out.Data(), "x=3Dy");
}

TEST_F(EncoderTest, QuotedPrintableLinesStayWithinEveryAllowedLength) {
  std::string data = RandomBytes(20000, 9);
  for (int cpl = 4; cpl <= 76; ++cpl) {
    encoder.SetMethod(cmMIMEQuotedPrintable);
    encoder.SetCharsPerLine(cpl);
    std::string out = EncodeStream(encoder, data, cmMIMEQuotedPrintable);
    // Decode by the rules: soft breaks vanish, CR LF pairs of the data stay.
    std::string decoded;
    size_t at = 0;
    while (at < out.size()) {
      size_t end = out.find("\r\n", at);
      std::string lineText =
          out.substr(at, end == std::string::npos ? std::string::npos : end - at);
      // Every "=" of the data is escaped, so a trailing "=" is a soft break.
      bool soft = !lineText.empty() && lineText.back() == '=';
      ASSERT_LE(lineText.size(), static_cast<size_t>(std::max(cpl, 4))) << "cpl " << cpl;
      if (soft) lineText.pop_back();
      for (size_t i = 0; i < lineText.size(); ++i) {
        if (lineText[i] == '=') {
          decoded += static_cast<char>(std::stoi(lineText.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          decoded += lineText[i];
        }
      }
      if (end == std::string::npos) break;
      if (!soft) decoded += "\r\n";
      at = end + 2;
    }
    ASSERT_EQ(decoded, data) << "cpl " << cpl;
  }
}

TEST_F(EncoderTest, QuotedPrintableStringModeNeverWritesSoftBreaks) {
  std::string out = encoder.EncodeString(std::string(300, 'q'), cmMIMEQuotedPrintable, false);
  EXPECT_EQ(out, std::string(300, 'q'));
}

TEST_F(EncoderTest, UUEncodeMatchesTheRulesExamples) {
  EXPECT_EQ(encoder.EncodeString("abc", cmUUEncode), "#86)C\r\n`\r\n");
  EXPECT_EQ(encoder.EncodeString("a", cmUUEncode), "!80\r\n`\r\n");
  EXPECT_EQ(encoder.EncodeString("ab", cmUUEncode), "\"86(\r\n`\r\n");
  std::string exact = EncodeStream(encoder, std::string(45 + 12, '\0'), cmUUEncode);
  // 57 zero bytes (one full line), an empty line, the terminating line.
  EXPECT_EQ(exact, "Y" + std::string(76, '`') + "\r\n`\r\n`\r\n");
}

TEST_F(EncoderTest, UUEncodeRoundTripsRandomDataOfManySizes) {
  for (int cpl : {3, 60, 76, 84}) {
    for (size_t size : {1u, 2u, 3u, 56u, 57u, 58u, 62u, 63u, 64u, 1000u, 65537u, 250000u}) {
      std::string data = RandomBytes(size, static_cast<unsigned>(size * 7 + cpl));
      encoder.SetMethod(cmUUEncode);
      encoder.SetCharsPerLine(cpl);
      std::string out = EncodeStream(encoder, data, cmUUEncode);
      size_t lineBytes = static_cast<size_t>(cpl) * 3 / 4;
      size_t lines = 0;
      ASSERT_EQ(DecodeUU(out, lines), data) << "size " << size << " cpl " << cpl;
      EXPECT_EQ(lines, size / lineBytes + 2) << "data lines plus the terminating line";
    }
  }
}

TEST_F(EncoderTest, UUEncodeStringKeepsLinesEvenWhenSingleLineIsAsked) {
  std::string data = RandomBytes(500, 3);
  std::string out = encoder.EncodeString(data, cmUUEncode, true);
  size_t lines = 0;
  EXPECT_EQ(DecodeUU(out, lines), data);
}

TEST_F(EncoderTest, SettingsRoundTripThroughPropertyStreaming) {
  encoder.SetMethod(cmUUEncode);
  encoder.SetCharsPerLine(60);
  rtl::Json json = rtl::WriteComponent(encoder);
  EXPECT_EQ(json.dump(), R"({"Method":"cmUUEncode","CharsPerLine":60})");
  TclEncoder copy;
  rtl::ReadComponent(copy, json);
  EXPECT_EQ(copy.Method(), cmUUEncode);
  EXPECT_EQ(copy.CharsPerLine(), 60);
}

}  // namespace
