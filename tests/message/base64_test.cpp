// Base64 encoding against Python's base64 module for every length up to 10,000 bytes, whole
// inputs fed at once and in awkward pieces, the attachment line layout, and the decoder.

#include "message/coders/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "message/message_error.h"
#include "support/test_support.h"

namespace tovrel::message {
namespace {

constexpr std::size_t kMaxLength = 10000;

// Python's encodings of every prefix of one random buffer, one line per length (0..kMaxLength).
class Base64ReferenceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_ = test::RandomBytes(kMaxLength + 20000, 4648);
    test::TempDir dir;
    test::WriteFile(dir.File("data"), data_);
    const test::ProcessResult r = test::RunPython(
        "import base64, sys\n"
        "d = open(sys.argv[1], 'rb').read()\n"
        "out = [base64.b64encode(d[:n]).decode() for n in range(int(sys.argv[2]) + 1)]\n"
        "out.append(base64.b64encode(d).decode())\n"
        "sys.stdout.write('\\n'.join('x' + s for s in out))\n",
        {dir.File("data"), std::to_string(kMaxLength)});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    expected_.clear();
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) expected_.push_back(line.substr(1));
    ASSERT_EQ(expected_.size(), kMaxLength + 2);
  }
  static std::string data_;
  static std::vector<std::string> expected_;
};
std::string Base64ReferenceTest::data_;
std::vector<std::string> Base64ReferenceTest::expected_;

TEST_F(Base64ReferenceTest, EveryLengthFedAtOnce) {
  Base64Encoder encoder;
  for (std::size_t n = 0; n <= kMaxLength; ++n) {
    std::string out;
    encoder.Feed(std::string_view(data_).substr(0, n), out);
    encoder.FinishInput(out);
    ASSERT_EQ(out, expected_[n]) << "length " << n;
  }
}

TEST_F(Base64ReferenceTest, AppendBase64EveryLength) {
  for (std::size_t n = 0; n <= kMaxLength; ++n) {
    std::string out = "keep";
    AppendBase64(std::string_view(data_).substr(0, n), out);
    ASSERT_EQ(out, "keep" + expected_[n]) << "length " << n;
  }
}

TEST_F(Base64ReferenceTest, EveryKernelEveryLength) {
  for (const Base64Kernel& kernel : Base64Kernels()) {
    for (std::size_t n = 0; n <= kMaxLength; ++n) {
      std::string out(4 * ((n + 2) / 3), '\0');
      const auto* in = reinterpret_cast<const unsigned char*>(data_.data());
      kernel.encode(in, n, n + n % 5, out.data());  // reading past the end or not
      std::string padded = out;  // the kernels leave the zero-completed group unpadded
      std::fill(padded.end() - (3 - n % 3) % 3, padded.end(), '=');
      ASSERT_EQ(padded, expected_[n]) << kernel.name << " length " << n;
    }
  }
}

TEST_F(Base64ReferenceTest, EveryLengthThroughFeedAndFinishInput) {
  Base64Encoder encoder;
  for (std::size_t n = 0; n <= kMaxLength; n += 7) {
    std::string fed = encoder.Feed(std::string_view(data_).substr(0, n));
    std::string finished = encoder.FinishInput();
    std::string joined;
    if (!fed.empty()) joined += fed.substr(2);
    if (n > 0) {
      ASSERT_EQ(finished.substr(0, 2), "0;");
      joined += finished.substr(2);
    } else {
      EXPECT_EQ(finished, "");  // nothing held: no entry at all
    }
    ASSERT_EQ(joined, expected_[n]) << "length " << n;
  }
}

TEST_F(Base64ReferenceTest, PiecesOfAnySizeAndOddBlockSizes) {
  const std::string& whole = expected_.back();
  for (std::uint32_t block : {3u, 4u, 5u, 57u, 100u, 4096u, 8191u}) {
    for (std::size_t piece : {1u, 2u, 57u, 4095u, 4096u, 4097u, 30000u}) {
      Base64Encoder encoder;
      encoder.SetBlockSize(block);
      std::string out;
      for (std::size_t at = 0; at < data_.size(); at += piece) {
        encoder.Feed(std::string_view(data_).substr(at, piece), out);
      }
      encoder.FinishInput(out);
      ASSERT_EQ(out, whole) << "block " << block << " piece " << piece;
    }
  }
}

TEST(Base64Test, AttachmentLinesOf57Bytes) {
  const std::string data = test::RandomBytes(58, 1);
  Base64Encoder encoder;
  encoder.set_append_line_break(true);
  encoder.set_discard_notices(true);
  std::string out;
  for (std::size_t at = 0; at < data.size(); at += 57) {
    std::string piece = encoder.Feed(std::string_view(data).substr(at, 57));
    piece += encoder.FinishInput();
    out += piece.substr(2);
  }
  ASSERT_EQ(out.size(), 76u + 2 + 4 + 2);
  EXPECT_EQ(out.substr(76, 2), "\r\n");
  EXPECT_EQ(out.substr(78 + 2, 4), "==\r\n");
  EXPECT_EQ(out.substr(0, 76) + out.substr(78, 4), EncodeBase64Text(data));
}

// The attachment writer's way: lines made all at once, the same as one Feed and FinishInput per
// piece, also for pieces that fill the block and for a short last piece.
TEST(Base64Test, FeedEachFinishedMatchesPieceByPiece) {
  const std::string data = test::RandomBytes(57 * 300 + 13, 2);
  for (std::size_t piece : {1u, 2u, 57u, 4095u, 4096u, 5000u}) {
    Base64Encoder one_by_one;
    Base64Encoder at_once;
    std::string expected;
    std::string out = "keep";
    for (Base64Encoder* encoder : {&one_by_one, &at_once}) encoder->set_append_line_break(true);
    for (std::size_t at = 0; at < data.size(); at += piece) {
      one_by_one.Feed(std::string_view(data).substr(at, piece), expected);
      one_by_one.FinishInput(expected);
    }
    at_once.FeedEachFinished(data, piece, out);
    ASSERT_EQ(out, "keep" + expected) << "piece " << piece;
    EXPECT_EQ(at_once.bytes_emitted(), one_by_one.bytes_emitted());
  }
}

TEST(Base64Test, EncodeBase64TextShortInputs) {
  EXPECT_EQ(EncodeBase64Text(""), "");
  EXPECT_EQ(EncodeBase64Text("a"), "YQ==");
  EXPECT_EQ(EncodeBase64Text("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64Text("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64Text(std::string("\0\xff", 2)), "AP8=");
}

TEST(Base64Test, DecoderRoundTripsAcrossLinesAndBlocks) {
  const std::string data = test::RandomBytes(20000, 99);
  std::string text;
  for (std::size_t at = 0; at < data.size(); at += 57) {
    text += EncodeBase64Text(std::string_view(data).substr(at, 57)) + "\r\n";
  }
  for (std::size_t piece : {1u, 3u, 77u, 5000u}) {
    Base64Decoder decoder;
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += piece) {
      decoder.Feed(std::string_view(text).substr(at, piece), out);
    }
    decoder.FinishInput(out);
    ASSERT_EQ(out, data) << "piece " << piece;
  }
}

TEST(Base64Test, DecoderShortFinalGroupsAndBadCharacters) {
  Base64Decoder decoder;
  EXPECT_EQ(decoder.Feed("YQ"), "");
  EXPECT_EQ(decoder.FinishInput(), "0;a");
  EXPECT_EQ(decoder.Feed("YWI="), "");
  EXPECT_EQ(decoder.FinishInput(), "0;ab");
  EXPECT_EQ(decoder.FinishInput(), "");  // nothing held
  Base64Decoder bad;
  bad.Feed("YW*j");
  try {
    bad.FinishInput();
    FAIL() << "no exception";
  } catch (const TableNotFound& e) {
    EXPECT_STREQ(e.what(), "Coding table entry not found.");
  }
}

}  // namespace
}  // namespace tovrel::message
