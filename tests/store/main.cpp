// The store tests start this program again as a second writer of the same store file.
#include <gtest/gtest.h>

#include <cstring>

#include "store_writer.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], tovrel::test::kStoreWriterFlag) == 0) {
    return tovrel::test::RunStoreWriter(argc, argv);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
