// The coder framework: blocks, the output queue, flags, events, the registry lookups and CutLine.

#include "message/coders/coder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "message/coders/base64.h"
#include "message/coders/coder_registry.h"
#include "message/message_error.h"

namespace tovrel::message {
namespace {

// A pass-through coder that counts its blocks and, when given a script, finishes by emitting the
// script's entries (number 0: data) instead of what it holds.
class ScriptedCoder : public Coder {
 public:
  int blocks = 0;
  std::vector<std::pair<int, std::string>> script;

 protected:
  void CodeBlock(Sink& out) override {
    ++blocks;
    Coder::CodeBlock(out);
  }
  void CodeRemainder(Sink& out) override {
    if (script.empty()) return Coder::CodeRemainder(out);
    for (const auto& [number, text] : script) {
      if (number == 0) {
        EmitData(out, text);
      } else {
        EmitNotice(out, number, text);
      }
    }
    script.clear();
    set_block_fill(0);
  }
};

TEST(CoderTest, PassThroughBlocksAndFinish) {
  ScriptedCoder coder;
  EXPECT_EQ(coder.Feed(""), "");
  EXPECT_EQ(coder.FinishInput(), "0;");  // an empty data entry
  EXPECT_TRUE(coder.finishing());

  coder.SetBlockSize(4);
  EXPECT_EQ(coder.Feed("abc"), "");
  EXPECT_EQ(coder.blocks, 0);
  EXPECT_EQ(coder.Feed("d"), "0;abcd");  // exactly the free space codes the block at once
  EXPECT_EQ(coder.blocks, 1);
  EXPECT_EQ(coder.Feed("efghijk"), "0;efgh");
  EXPECT_EQ(coder.FinishInput(), "0;ijk");
  EXPECT_EQ(coder.bytes_fed(), 11u);
  EXPECT_EQ(coder.bytes_emitted(), 11u);
}

TEST(CoderTest, TakeOutputMergesDataUpToANotice) {
  ScriptedCoder coder;
  coder.script = {{0, "a"}, {0, "b"}, {5, "x"}, {0, "c"}};
  EXPECT_EQ(coder.FinishInput(), "0;ab");
  EXPECT_EQ(coder.TakeOutput(), "5;x");
  EXPECT_EQ(coder.TakeOutput(), "0;c");
  EXPECT_EQ(coder.TakeOutput(), "");
}

TEST(CoderTest, DiscardBothFlagsEmptiesTheQueue) {
  ScriptedCoder coder;
  coder.set_discard_data(true);
  coder.script = {{0, "a"}, {1, "n"}};
  EXPECT_EQ(coder.FinishInput(), "0;a");  // one flag alone discards nothing
  coder.set_discard_notices(true);
  EXPECT_EQ(coder.TakeOutput(), "");
  coder.set_discard_data(false);
  EXPECT_EQ(coder.TakeOutput(), "");  // the notice went with the rest
}

TEST(CoderTest, LineBreaksEventsAndRestart) {
  ScriptedCoder coder;
  coder.set_append_line_break(true);
  EXPECT_EQ(coder.Feed("x"), "");
  EXPECT_EQ(coder.FinishInput(), "0;x\r\n");
  EXPECT_EQ(coder.bytes_emitted(), 3u);

  std::vector<std::string> seen;
  coder.set_use_events(true);
  coder.set_on_coded_text([&](Coder&, std::string_view t) { seen.emplace_back(t); });
  coder.set_on_notice([&](Coder&, int n, std::string_view t) {
    seen.push_back(std::to_string(n) + ":" + std::string(t));
  });
  coder.script = {{0, "y"}, {7, "z"}};
  EXPECT_EQ(coder.FinishInput(), "");
  EXPECT_EQ(seen, (std::vector<std::string>{"y\r\n", "7:z"}));

  coder.set_use_events(false);
  coder.script = {{1, "n"}, {0, "q"}};
  EXPECT_EQ(coder.FinishInput(), "1;n");
  coder.Restart();  // drops the queued "0;q"
  EXPECT_FALSE(coder.finishing());
  EXPECT_EQ(coder.TakeOutput(), "");
  coder.Feed("held");
  coder.Restart();  // and the held bytes
  EXPECT_EQ(coder.block_fill(), 0u);
  EXPECT_EQ(coder.FinishInput(), "0;\r\n");
  EXPECT_TRUE(coder.append_line_break());  // flags survive a restart
}

TEST(CoderTest, StreamingAppendsDataAndKeepsNoticesQueued) {
  ScriptedCoder coder;
  coder.set_auto_finish(true);
  EXPECT_EQ(coder.Feed("abc"), "0;abc");
  coder.script = {{0, "d"}, {4, "m"}, {0, "e"}};
  std::string out = "pre:";
  coder.Feed("", out);
  EXPECT_EQ(out, "pre:de");
  EXPECT_EQ(coder.TakeOutput(), "4;m");
  EXPECT_EQ(coder.TakeOutput(), "");

  // Data left queued by the queued interface comes out before anything coded later.
  coder.set_auto_finish(false);
  coder.script = {{5, "n"}, {0, "q"}};
  EXPECT_EQ(coder.FinishInput(), "5;n");
  coder.Feed("xyz", out);
  EXPECT_EQ(out, "pre:deq");
  coder.FinishInput(out);
  EXPECT_EQ(out, "pre:deqxyz");
}

TEST(CoderTest, IndexInTable) {
  Base64Decoder decoder;
  EXPECT_EQ(decoder.IndexInTable('A'), 0u);
  EXPECT_EQ(decoder.IndexInTable('/'), 63u);
  try {
    decoder.IndexInTable('*');
    FAIL();
  } catch (const TableNotFound& e) {
    EXPECT_STREQ(e.what(), "Coding table entry not found.");
  }
}

TEST(CoderRegistryTest, RowsAndLookups) {
  const CoderCollection& r = CoderRegistry();
  ASSERT_GE(r.count(), 13u);
  auto row_of = [&](const CoderItem* item) {
    return item == nullptr ? -1 : static_cast<int>(item - &r[0]) + 1;
  };
  constexpr auto kEnc = CoderDirection::kEncoder;
  constexpr auto kDec = CoderDirection::kDecoder;
  EXPECT_EQ(row_of(FindCoder("text/plain", "quoted-printable", kEnc)), 9);
  EXPECT_EQ(row_of(FindCoder("image/png", "BASE64", kEnc)), 3);
  EXPECT_EQ(row_of(FindCoder("", "base64", kDec)), 4);
  EXPECT_EQ(row_of(FindCoder("text/plain", "binary", kEnc)), 1);
  EXPECT_EQ(row_of(FindCoder("text/plain", "7bit", kEnc)), 1);
  EXPECT_EQ(row_of(FindCoder("", "binary", kDec)), 13);
  EXPECT_EQ(row_of(FindCoder("", "x-uu", kEnc)), 5);
  EXPECT_EQ(row_of(FindCoder("", "X-XX", kEnc)), 7);
  EXPECT_EQ(row_of(FindCoder("Application/Octet-Stream", "", kEnc)), 1);
  EXPECT_EQ(row_of(FindCoder("", "", kDec)), 2);
  EXPECT_EQ(row_of(r.FindExactCoder("", "base64", kEnc)), 3);
  EXPECT_EQ(r.FindExactCoder("text/plain", "base64", kEnc), nullptr);

  EXPECT_EQ(r[2].class_name, "Base64Encoder");
  std::unique_ptr<Coder> coder = FindCoder("", "base64", kEnc)->CreateCoder();
  EXPECT_EQ(coder->Feed("abc"), "");
  EXPECT_EQ(coder->FinishInput(), "0;YWJj");
  EXPECT_NE(dynamic_cast<Base64Encoder*>(coder.get()), nullptr);
}

TEST(CutLineTest, Delimiters) {
  std::string text = "one\r\ntwo";
  EXPECT_EQ(CutLine(text), "one");
  EXPECT_EQ(text, "two");
  EXPECT_EQ(CutLine(text), "two");
  EXPECT_EQ(text, "");

  text = "a\nb\rc";
  EXPECT_EQ(CutLine(text), "a");
  EXPECT_EQ(text, "b\rc");
  EXPECT_EQ(CutLine(text), "b");
  EXPECT_EQ(text, "c");

  text = "\r\n";
  EXPECT_EQ(CutLine(text), "");
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace tovrel::message
