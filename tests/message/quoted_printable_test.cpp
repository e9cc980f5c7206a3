// Quoted-printable: random byte strings decode back with Python's quopri, every line keeps the
// rules (escapes never split, soft breaks within 76 characters, no blank before a line end), and
// the line-by-line way the message writer drives the encoder.

#include "message/coders/quoted_printable.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace tovrel::message {
namespace {

std::string EncodeWhole(std::string_view data, std::size_t piece = 0, bool wrap = false) {
  QuotedPrintableEncoder encoder;
  encoder.set_wrap_long_lines(wrap);
  std::string out;
  if (piece == 0) piece = data.size() + 1;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    encoder.Feed(data.substr(at, piece), out);
  }
  encoder.FinishInput(out);
  return out;
}

// What the message writer does for one body line.
std::string EncodeLine(QuotedPrintableEncoder& encoder, const std::string& line) {
  std::string fed = encoder.Feed(line + "\r\n");
  std::string finished = encoder.FinishInput();
  return (fed.empty() ? "" : fed.substr(2)) + (finished.empty() ? "" : finished.substr(2));
}

void CheckLineRules(const std::string& encoded, bool hard_lines_short) {
  std::size_t start = 0;
  while (start < encoded.size()) {
    std::size_t end = encoded.find("\r\n", start);
    const bool last = end == std::string::npos;
    if (last) end = encoded.size();
    const std::string line = encoded.substr(start, end - start);
    const bool soft = !line.empty() && line.back() == '=';
    if (soft || hard_lines_short) {
      EXPECT_LE(line.size(), 76u) << line;
    }
    for (std::size_t i = 0; i < line.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      const bool printable = c >= 32 && c <= 126;
      const bool gateway_special =
          std::string_view("!\"#$@[\\]^`{|}~").find(c) != std::string::npos;
      ASSERT_TRUE(printable && !gateway_special) << "raw byte " << int(c);
      if (c == '=' && !(soft && i + 1 == line.size())) {
        ASSERT_LE(i + 3, line.size()) << "escape split: " << line;
        EXPECT_NE(std::string("0123456789ABCDEF").find(line[i + 1]), std::string::npos);
        EXPECT_NE(std::string("0123456789ABCDEF").find(line[i + 2]), std::string::npos);
      }
    }
    if (!line.empty()) {
      EXPECT_NE(line.back(), ' ') << line;
    }
    start = end + 2;
  }
}

TEST(QuotedPrintableTest, RandomBytesDecodeWithQuopri) {
  test::TempDir dir;
  std::vector<std::string> inputs;
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    std::string data = test::RandomBytes(seed * 523 % 9000, seed);
    // Give some inputs text-like content with real line breaks and blanks before them.
    if (seed % 2 == 0) {
      for (std::size_t i = 0; i < data.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        data[i] = c % 7 == 0 ? ' ' : c % 11 == 0 ? '\r' : c % 13 == 0 ? '\n' : 'a' + c % 26;
        if (c % 17 == 0 && i + 1 < data.size()) data.replace(i, 2, "\r\n");
      }
    }
    inputs.push_back(data);
  }
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const std::size_t piece = k % 3 == 0 ? 4095 : k % 3 == 1 ? 1 : 0;
    const std::string encoded = EncodeWhole(inputs[k], piece);
    CheckLineRules(encoded, false);
    // Wrapping keeps every line within 76 characters, however long the input's lines are.
    const std::string wrapped = EncodeWhole(inputs[k], piece, true);
    CheckLineRules(wrapped, true);
    test::WriteFile(dir.File("in" + std::to_string(k)), inputs[k]);
    test::WriteFile(dir.File("qp" + std::to_string(k)), encoded);
    test::WriteFile(dir.File("qpw" + std::to_string(k)), wrapped);
  }
  const test::ProcessResult r = test::RunPython(
      "import quopri, sys\n"
      "d = sys.argv[1]\n"
      "bad = [(f, k) for k in range(int(sys.argv[2])) for f in ('qp', 'qpw')\n"
      "       if quopri.decodestring(open(d + '/%s%d' % (f, k), 'rb').read())\n"
      "          != open(d + '/in%d' % k, 'rb').read()]\n"
      "print(bad)\n",
      {dir.path(), std::to_string(inputs.size())});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "[]\n");
}

TEST(QuotedPrintableTest, EscapesAndLiterals) {
  QuotedPrintableEncoder encoder;
  EXPECT_EQ(EncodeLine(encoder, "a=b"), "a=3Db\r\n");
  EXPECT_EQ(EncodeLine(encoder, "ends in space "), "ends in space=20\r\n");
  EXPECT_EQ(EncodeLine(encoder, "tab\there"), "tab=09here\r\n");
  EXPECT_EQ(EncodeLine(encoder, ""), "\r\n");
  EXPECT_EQ(EncodeLine(encoder, "caf\xe9 ~ @ x.y"), "caf=E9 =7E =40 x.y\r\n");
  EXPECT_EQ(EncodeLine(encoder, "!\"#$[\\]^`{|}"), "=21=22=23=24=5B=5C=5D=5E=60=7B=7C=7D\r\n");
  EXPECT_EQ(EncodeLine(encoder, "lone\nlf"), "lone=0Alf\r\n");
}

TEST(QuotedPrintableTest, WriterLinesAreNeverSoftBroken) {
  QuotedPrintableEncoder encoder;
  const std::string line(200, 'p');
  EXPECT_EQ(EncodeLine(encoder, line), line + "\r\n");
  const std::string long_line(5000, 'q');
  const std::string encoded = EncodeLine(encoder, long_line);
  // Only the part that filled a whole block before the line end arrived is soft-broken.
  std::string joined = encoded;
  for (std::size_t p; (p = joined.find("=\r\n")) != std::string::npos;) joined.erase(p, 3);
  EXPECT_EQ(joined, long_line + "\r\n");
}

TEST(QuotedPrintableTest, SoftBreaksWithoutLineEnd) {
  EXPECT_EQ(EncodeWhole(std::string(80, 'a')),
            std::string(75, 'a') + "=\r\n" + std::string(5, 'a'));
  // An escape straddling column 75 moves to the next line whole.
  const std::string encoded = EncodeWhole(std::string(73, 'a') + "\xff" + "bbbb");
  EXPECT_EQ(encoded, std::string(73, 'a') + "=\r\n=FFbbbb");
}

TEST(QuotedPrintableTest, CarriageReturnsAcrossBlocksAndAtTheEnd) {
  EXPECT_EQ(EncodeWhole("abc\r"), "abc=0D");
  EXPECT_EQ(EncodeWhole("a\rb"), "a=0Db");
  // A CR that ends a full block pairs with the LF that starts the next input.
  QuotedPrintableEncoder encoder;
  std::string out;
  encoder.Feed(std::string(4095, 'x') + "\r", out);
  encoder.Feed("\nnext", out);
  encoder.FinishInput(out);
  EXPECT_EQ(out.find("=0D"), std::string::npos);
  EXPECT_NE(out.find("x\r\nnext"), std::string::npos);
  EXPECT_EQ(encoder.block_size(), 4096u);  // restored after the finish
  EXPECT_EQ(EncodeLine(encoder, "again"), "again\r\n");
}

TEST(QuotedPrintableTest, TheSmallestBlockStillPairsCarriageReturns) {
  // Found by fuzzing: with one-byte blocks the CR held for its LF filled the block, and the next
  // byte fed made the encoder code that block again and again.
  const std::string input = "\r\r\n,\xff@[a\rb\r\n\r";
  const std::string expected = EncodeWhole(input);
  for (const std::uint32_t size : {1u, 2u}) {
    QuotedPrintableEncoder encoder;
    encoder.SetBlockSize(size);
    std::string out;
    for (const char c : input) encoder.Feed(std::string_view(&c, 1), out);
    encoder.FinishInput(out);
    EXPECT_EQ(out, expected) << size;
  }
}

TEST(QuotedPrintableTest, DecoderHandlesEscapesSoftBreaksAndJunk) {
  QuotedPrintableDecoder decoder;
  decoder.Feed("caf=E9 =3D=\r\nx =ZZ =");
  EXPECT_EQ(decoder.FinishInput(), "0;caf\xe9 =x =ZZ ");
  std::string out;
  decoder.Feed("=4", out);  // an escape across two pieces
  decoder.Feed("1", out);
  decoder.FinishInput(out);
  EXPECT_EQ(out, "A");
}

}  // namespace
}  // namespace tovrel::message
