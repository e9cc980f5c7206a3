#include "store/read_once_backend.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/reg_file_backend.h"
#include "store/registry_store.h"
#include "store/store_error.h"
#include "store_writer.h"
#include "support/config_home.h"
#include "support/test_support.h"

namespace tovrel::store {
namespace {

// The user's store file beneath, counting the read sessions taken from it.
class CountingFileBackend : public RegistryBackend {
 public:
  explicit CountingFileBackend(int* reads) : reads_(reads) {}
  std::unique_ptr<RegistrySession> Open(Access access) override {
    if (access == Access::kRead) ++*reads_;
    return file_.Open(access);
  }

 private:
  RegFileBackend file_;
  int* reads_;
};

class ReadOnceBackendTest : public testing::Test {
 protected:
  ReadOnceBackendTest()
      : store_(std::make_unique<ReadOnceBackend>(std::make_unique<CountingFileBackend>(&reads_))) {
    store_.set_base_key(test::kStoreBaseKey);
    std::filesystem::create_directories(home_.folder());
  }

  std::string Read(const std::string& section, const std::string& name) {
    store_.set_target_key(section);
    store_.set_target_value(name);
    return store_.ReadString();
  }
  void StoreByHand(const std::string& smtp, const std::string& port) {
    const std::string key = "[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\";
    test::WriteFile(home_.store_file(), "REGEDIT4\n\n" + key + "smtp]\n\"smtp\"=\"" + smtp +
                                            "\"\n\n" + key + "port]\n\"port\"=\"" + port + "\"\n");
  }

  test::ScopedConfigHome home_;
  int reads_ = 0;
  RegistryStore store_;
};

TEST_F(ReadOnceBackendTest, ReadsShareOneStateUntilAWriteGoesThrough) {
  StoreByHand("mail.example.org", "25");
  EXPECT_TRUE(store_.BaseKeyExists());
  EXPECT_EQ(Read("smtp", "smtp"), "mail.example.org");
  StoreByHand("changed.example.org", "587");
  EXPECT_EQ(Read("port", "port"), "25");
  std::vector<std::string> names;
  store_.set_target_key("smtp");
  store_.ReadSection(&names);
  EXPECT_EQ(names, std::vector<std::string>{"smtp"});
  EXPECT_EQ(Read("username", "username"), "None");
  EXPECT_EQ(reads_, 1);

  // A write goes to the file as it is now, and the next read sees the file with it.
  store_.set_target_key("username");
  store_.set_target_value("username");
  EXPECT_TRUE(store_.WriteString("jane"));
  EXPECT_EQ(Read("username", "username"), "jane");
  EXPECT_EQ(Read("smtp", "smtp"), "changed.example.org");
  EXPECT_EQ(reads_, 2);
}

TEST_F(ReadOnceBackendTest, AStoreThatCannotBeReadIsAskedAgain) {
  test::WriteFile(home_.store_file(), "not a store file\n");
  EXPECT_THROW(Read("smtp", "smtp"), RegistryError);
  StoreByHand("mail.example.org", "25");
  EXPECT_EQ(Read("smtp", "smtp"), "mail.example.org");
}

}  // namespace
}  // namespace tovrel::store
