#include "store_writer.h"

#include <cstdio>
#include <exception>
#include <string>

#include "store/registry_store.h"
#include "store/texts.h"

namespace tovrel::test {

int RunStoreWriter(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SECTION PREFIX COUNT\n", kStoreWriterFlag);
    return 2;
  }
  try {
    store::RegistryStore store;
    store.set_base_key(kStoreBaseKey);
    store.set_target_key(argv[2]);
    const std::string prefix = argv[3];
    const int count = std::stoi(argv[4]);
    for (int k = 0; k < count; ++k) {
      store.set_target_value(prefix + std::to_string(k));
      store.WriteString(std::to_string(k));
    }
    std::printf("done\n");
    std::fflush(stdout);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store writer: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace tovrel::test
