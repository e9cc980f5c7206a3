// UU and XX encoding checked with sharutils' uudecode (XX by mapping its alphabet onto UU's
// first), plus the line layout and the receive-side decoders.

#include "message/coders/uu_xx.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace tovrel::message {
namespace {

std::string EncodeFile(UUEncoder& encoder, std::string_view data, std::size_t piece) {
  std::string out;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    encoder.Feed(data.substr(at, piece), out);
  }
  encoder.FinishInput(out);
  return out;
}

std::string Uudecode(const std::string& encoded) {
  test::TempDir dir;
  const test::ProcessResult r = test::RunProcess({"uudecode", "-o", dir.File("out")}, encoded);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return test::ReadFile(dir.File("out"));
}

// Rewrites XX text as UU text, character by character, leaving begin/end lines alone.
std::string XxToUu(const std::string& xx) {
  const std::string xx_table = kXXTable;
  const std::string uu_table = kUUTable;
  std::string out;
  std::size_t start = 0;
  while (start < xx.size()) {
    std::size_t end = xx.find("\r\n", start);
    std::string line = xx.substr(start, end - start);
    if (line.rfind("begin ", 0) != 0 && line != "end") {
      for (char& c : line) c = uu_table[xx_table.find(c)];
    }
    out += line + "\r\n";
    start = end + 2;
  }
  return out;
}

TEST(UUEncoderTest, RandomFilesDecodeWithUudecode) {
  for (std::size_t length : {0u, 1u, 2u, 3u, 60u, 61u, 62u, 122u, 1000u, 65536u}) {
    const std::string data = test::RandomBytes(length, static_cast<std::uint32_t>(length));
    UUEncoder encoder;
    encoder.set_file_name("f.bin");
    const std::string encoded = EncodeFile(encoder, data, length % 7 + 1);
    ASSERT_EQ(encoded.rfind("begin 644 f.bin\r\n", 0), 0u);
    EXPECT_EQ(encoded.substr(encoded.size() - 8), "`\r\nend\r\n");
    EXPECT_EQ(Uudecode(encoded), data) << "length " << length;
  }
}

TEST(XXEncoderTest, RandomFilesDecodeWithUudecodeAfterMapping) {
  for (std::size_t length : {0u, 5u, 61u, 62u, 4096u, 10001u}) {
    const std::string data = test::RandomBytes(length, 77 + static_cast<std::uint32_t>(length));
    XXEncoder encoder;
    encoder.set_file_name("x.dat");
    const std::string encoded = EncodeFile(encoder, data, 1000);
    EXPECT_EQ(encoded.substr(encoded.size() - 8), "+\r\nend\r\n");
    EXPECT_EQ(Uudecode(XxToUu(encoded)), data) << "length " << length;
  }
}

TEST(UUEncoderTest, LineLayout) {
  UUEncoder encoder;
  encoder.set_file_name("a.txt");
  const std::string three = EncodeFile(encoder, "abc", 3);
  EXPECT_EQ(three, "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n");

  UUEncoder full;
  const std::string sixty_two = EncodeFile(full, std::string(62, 'z'), 62);
  const std::size_t first_end = sixty_two.find("\r\n");
  const std::size_t second_end = sixty_two.find("\r\n", first_end + 2);
  const std::string data_line = sixty_two.substr(first_end + 2, second_end - first_end - 2);
  EXPECT_EQ(data_line.size(), 85u);
  EXPECT_EQ(data_line[0], ']');
  EXPECT_EQ(sixty_two[second_end + 2], '!');

  XXEncoder xx;
  const std::string xx_out = EncodeFile(xx, std::string(61, 'z'), 61);
  EXPECT_NE(xx_out.find("\r\nx"), std::string::npos);
}

TEST(UUEncoderTest, SendTableWritesTheTableFirst) {
  UUEncoder encoder;
  encoder.set_send_table(true);
  encoder.set_file_name("t");
  const std::string out = EncodeFile(encoder, "", 1);
  const std::string table = kUUTable;
  EXPECT_EQ(out, "TABLE\r\n" + table.substr(0, 32) + "\r\n" + table.substr(32) +
                     "\r\nbegin 644 t\r\n`\r\nend\r\n");
}

TEST(UUEncoderTest, ReplaceTablePartially) {
  UUEncoder encoder;
  encoder.ReplaceTable("~");
  EXPECT_EQ(encoder.coding_table()[0], '~');
  EXPECT_EQ(encoder.coding_table().substr(1), std::string(kUUTable).substr(1));
  encoder.ReplaceTable(std::string(kXXTable) + "extra");
  EXPECT_EQ(encoder.coding_table(), kXXTable);
}

TEST(UUDecoderTest, DecodesWhatUuencodeWrites) {
  const std::string data = test::RandomBytes(5000, 3);
  test::TempDir dir;
  test::WriteFile(dir.File("in"), data);
  const test::ProcessResult r = test::RunProcess({"uuencode", dir.File("in"), "named.bin"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  UUDecoder decoder;
  std::string out;
  for (std::size_t at = 0; at < r.out.size(); at += 333) {
    decoder.Feed(std::string_view(r.out).substr(at, 333), out);
  }
  decoder.FinishInput(out);
  EXPECT_EQ(out, data);
  EXPECT_TRUE(decoder.completed());
  EXPECT_FALSE(decoder.error());
  EXPECT_EQ(decoder.file_name(), "named.bin");
  EXPECT_EQ(decoder.file_mode(), 644u);
}

TEST(UUDecoderTest, NoticesAndHeaderErrors) {
  XXDecoder decoder;
  // Header lines are read in small blocks, so their notices come out while feeding.
  EXPECT_EQ(decoder.Feed("junk\r\nbegin 6x4 n\r\n12345678"), "42;");
  EXPECT_EQ(decoder.TakeOutput(), "48;");
  EXPECT_EQ(decoder.TakeOutput(), "5;n");
  ASSERT_EQ(decoder.error_list().size(), 1u);
  EXPECT_EQ(decoder.error_list()[0], "Privilege chars not numeric");
  decoder.FinishInput();
  EXPECT_EQ(decoder.error_list().back(), " Data ended without an END statment");

  UUDecoder table;
  EXPECT_EQ(table.Feed("table\r\n" + std::string(kUUTable).substr(0, 32) + "\r\n" +
                       std::string(kUUTable).substr(32) + "\r\nnot begin\r\n"),
            "41;");
  EXPECT_EQ(table.FinishInput(), "43;");

  EXPECT_EQ(table.error_list().at(0), "No BEGIN statement followed a TABLE");
}

}  // namespace
}  // namespace tovrel::message
