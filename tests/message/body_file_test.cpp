// A body file is handed on line by line, pass after pass. The encoding of a regular file is learnt
// from all of its bytes: in a pass of its own, or on the way through the first pass, which then
// starts again when the text turns out not to be UTF-8.

#include "message/body_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace tovrel::message {
namespace {

using Lines = std::vector<std::string>;

TEST(BodyFile, LearnsTheEncodingFromEveryByteWithOrWithoutARestart) {
  test::TempDir dir;
  const std::string path = dir.File("body.txt");
  // The first byte that is not UTF-8 comes long after the first lines were handed on.
  const std::string head(200000, 'a');
  struct Case {
    std::string bytes;
    Lines lines;
    int restarts;
  };
  const Case cases[] = {
      {head + "\ncaf\xC3\xA9\n", {head, "caf\xC3\xA9"}, 0},
      {head + "\ncaf\xE9\n", {head, "caf\xC3\xA9"}, 1},
      {head + "\n\xC3", {head, "\xC3\x83"}, 1},  // cut short at the very end
  };
  for (const Case& c : cases) {
    test::WriteFile(path, c.bytes);
    BodyFile file(path, 1000);
    for (int pass = 0; pass < 2; ++pass) {
      Lines lines;
      int restarts = 0;
      file.ForEachLine([&](std::string_view line) { lines.emplace_back(line); },
                       [&] {
                         lines.clear();
                         ++restarts;
                       });
      EXPECT_EQ(lines, c.lines) << pass;
      // Only the first pass learns.
      EXPECT_EQ(restarts, pass == 0 ? c.restarts : 0) << pass;
    }
    BodyFile without_restart(path, 1000);
    Lines lines;
    without_restart.ForEachLine([&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, c.lines);
  }
}

}  // namespace
}  // namespace tovrel::message
