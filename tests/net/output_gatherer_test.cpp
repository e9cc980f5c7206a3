// Gathered output: small writes share a send, a large write leaves in one piece without being
// copied, and the bytes keep their order.

#include "net/output_gatherer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovrel::net {
namespace {

TEST(OutputGatherer, TopsUpThenSendsLargeWritesWhole) {
  const std::string large(10, 'L');
  std::vector<std::string> sends;
  OutputGatherer gatherer([&](std::span<const char> bytes) {
    sends.emplace_back(bytes.begin(), bytes.end());
    // Only the large write itself goes out uncopied.
    if (bytes.size() == 8) {
      EXPECT_EQ(bytes.data(), large.data() + 2);
    }
  });
  gatherer.Create(4);
  gatherer.Gather(std::span<const char>("ab", 2));
  gatherer.Gather(large);
  gatherer.Gather(std::span<const char>("xyz", 3));
  EXPECT_EQ(sends, (std::vector<std::string>{"abLL", "LLLLLLLL"}));
  EXPECT_EQ(gatherer.size(), 3u);
  gatherer.FlushAll();
  EXPECT_EQ(sends.back(), "xyz");
  EXPECT_TRUE(gatherer.empty());
}

}  // namespace
}  // namespace tovrel::net
