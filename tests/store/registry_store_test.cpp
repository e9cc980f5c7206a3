#include "store/registry_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "store/reg_file_backend.h"
#include "store/store_error.h"
#include "store/texts.h"
#include "store_writer.h"
#include "support/config_home.h"
#include "support/test_support.h"

namespace tovrel::store {
namespace {

using test::ReadFile;
using test::ScopedConfigHome;
using test::WriteFile;

class RegistryStoreTest : public testing::Test {
 protected:
  RegistryStoreTest() { store_.set_base_key(test::kStoreBaseKey); }

  // Selects section and value name, as every caller in the program does before an access.
  RegistryStore& At(const std::string& section, const std::string& name) {
    store_.set_target_key(section);
    store_.set_target_value(name);
    return store_;
  }

  std::string Raised(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const RegistryError& e) {
      return e.what();
    }
    return "(nothing raised)";
  }

  ScopedConfigHome home_;
  RegistryStore store_;
};

TEST_F(RegistryStoreTest, MissingBaseKeyFailsReadsAndIsCreatedByAWrite) {
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadString(); }), "Cannot open key to read");
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadInteger(); }), "Cannot open key to read");
  std::vector<std::string> names{"kept"};
  EXPECT_EQ(Raised([&] { At("smtp", "").ReadSection(&names); }), "Cannot open key to read");

  EXPECT_TRUE(At("smtp", "smtp").WriteString("mail.example.org"));
  EXPECT_EQ(At("smtp", "smtp").ReadString(), "mail.example.org");
  const std::string file = ReadFile(home_.store_file());
  EXPECT_TRUE(file.starts_with("REGEDIT4\n\n")) << file;
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\smtp]\n"
                      "\"smtp\"=\"mail.example.org\"\n"),
            std::string::npos)
      << file;
}

TEST_F(RegistryStoreTest, DontCreateRefusesAMissingBaseKeyAndWritesNothing) {
  store_.set_dont_create(true);
  EXPECT_EQ(Raised([&] { At("port", "port").WriteString("25"); }), "Cannot open key to write");
  store_.set_dont_create(false);
  EXPECT_FALSE(store_.BaseKeyExists());
  // Once the base key exists, DontCreate still creates a missing section.
  At("frst", "").WriteString("c");
  store_.set_dont_create(true);
  EXPECT_TRUE(At("port", "port").WriteString("25"));
  EXPECT_EQ(At("port", "port").ReadString(), "25");
}

TEST_F(RegistryStoreTest, MissingSectionOrValueReadsAsTheFallbacks) {
  At("frst", "").WriteString("a");
  EXPECT_EQ(At("smtp", "smtp").ReadString(), "None");
  EXPECT_EQ(At("smtp", "smtp").ReadInteger(), -1);
  EXPECT_FALSE(At("smtp", "smtp").ReadBool());
  EXPECT_EQ(At("frst", "other").ReadString(), "None");
  std::vector<std::string> names{"kept"};
  At("nosuch", "").ReadSection(&names);
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

TEST_F(RegistryStoreTest, EmptyTextIsNotMissingButStoredNoneIs) {
  At("username", "username").WriteString("");
  EXPECT_EQ(At("username", "username").ReadString(), "");
  At("password", "password").WriteString("None");
  EXPECT_EQ(At("password", "password").ReadString(), At("password", "other").ReadString());
}

TEST_F(RegistryStoreTest, EmptyValueNameIsTheSectionsUnnamedValue) {
  At("frst", "").WriteString("b");
  EXPECT_EQ(At("frst", "").ReadString(), "b");
  EXPECT_EQ(At("frst", "@").ReadString(), "None");
  EXPECT_NE(ReadFile(home_.store_file()).find("\n@=\"b\"\n"), std::string::npos);
}

TEST_F(RegistryStoreTest, IntegersAndBooleansAreStoredAsTextAndConvertedOnRead) {
  At("n", "abc").WriteString("abc");
  At("n", "two").WriteString("2");
  At("n", "neg").WriteString("-17");
  At("n", "blank").WriteString(" 5");
  EXPECT_EQ(At("n", "abc").ReadInteger(), -1);
  EXPECT_FALSE(At("n", "abc").ReadBool());
  EXPECT_EQ(At("n", "two").ReadInteger(), 2);
  EXPECT_TRUE(At("n", "two").ReadBool());
  EXPECT_EQ(At("n", "neg").ReadInteger(), -17);
  EXPECT_TRUE(At("n", "neg").ReadBool());
  EXPECT_EQ(At("n", "blank").ReadInteger(), -1);

  EXPECT_TRUE(At("n", "t").WriteBool(true));
  EXPECT_TRUE(At("n", "f").WriteBool(false));
  EXPECT_TRUE(At("n", "i").WriteInteger(-42));
  EXPECT_EQ(At("n", "t").ReadString(), "1");
  EXPECT_EQ(At("n", "f").ReadString(), "0");
  EXPECT_EQ(At("n", "i").ReadString(), "-42");
  EXPECT_FALSE(At("n", "f").ReadBool());
}

TEST_F(RegistryStoreTest, ValuesOfOtherTypesAreRefusedAndExpandableTextIsReadUnexpanded) {
  At("frst", "").WriteString("c");
  WriteFile(home_.store_file(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\typed]\n"
            "\"count\"=dword:0000002a\n\"blob\"=hex:01,02\n\"path\"=hex(2):25,48,4f,4d,45,25,00\n");
  EXPECT_EQ(Raised([&] { At("typed", "count").ReadString(); }), "Invalid data type for 'count'");
  EXPECT_EQ(Raised([&] { At("typed", "count").ReadInteger(); }), "Invalid data type for 'count'");
  EXPECT_EQ(Raised([&] { At("typed", "blob").ReadBool(); }), "Invalid data type for 'blob'");
  EXPECT_EQ(At("typed", "path").ReadString(), "%HOME%");
  // Writing text over a value of another type replaces it.
  At("typed", "count").WriteString("7");
  EXPECT_EQ(At("typed", "count").ReadInteger(), 7);
}

TEST_F(RegistryStoreTest, ReadSectionListsValueNamesInCreationOrderAndRefusesNoList) {
  for (const char* name : {"nameId0", "emailId0", "numOfIdents", ""})
    At("ident", name).WriteString("x");
  At("ident", "NAMEID0").WriteString("rewritten");  // same value, other case: keeps its place
  std::vector<std::string> names;
  At("ident", "").ReadSection(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"nameId0", "emailId0", "numOfIdents", ""}));
  EXPECT_EQ(At("ident", "nameid0").ReadString(), "rewritten");
  EXPECT_EQ(Raised([&] { At("ident", "").ReadSection(nullptr); }),
            "RegistryStore - Read Section retvals is NULL");

  // Every value with its text at once; a missing section has none, a value of another type
  // fails as reading it alone would.
  using Texts = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(At("ident", "").ReadSectionStrings(),
            (Texts{{"nameId0", "rewritten"}, {"emailId0", "x"}, {"numOfIdents", "x"}, {"", "x"}}));
  EXPECT_EQ(At("missing", "").ReadSectionStrings(), Texts{});
  At("ident", "count").WriteInteger(0);
  const std::string file = ReadFile(home_.store_file());
  WriteFile(home_.store_file(), file + "\"blob\"=hex:01,02\n");
  EXPECT_EQ(Raised([&] { At("ident", "").ReadSectionStrings(); }), "Invalid data type for 'blob'");
}

TEST_F(RegistryStoreTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling) {
  At("Ident", "numOfIdents").WriteString("0");
  At("IDENT", "NUMOFIDENTS").WriteString("3");
  EXPECT_EQ(At("ident", "numofidents").ReadString(), "3");
  store_.set_base_key("\\SOFTWARE\\Tovrel\\TovrelMail");  // no trailing backslash, other case
  EXPECT_EQ(At("ident", "numOfIdents").ReadString(), "3");
  const std::string file = ReadFile(home_.store_file());
  EXPECT_NE(file.find("tovrelmail\\Ident]\n\"numOfIdents\"=\"3\"\n"), std::string::npos) << file;
}

TEST_F(RegistryStoreTest, ADeletedValueReadsAsMissingAndTheOthersKeepTheirPlaces) {
  for (const char* name : {"a", "b", "c"}) At("smtp", name).WriteString(name);
  EXPECT_TRUE(At("smtp", "B").DeleteValue());  // names fold case here too
  EXPECT_EQ(At("smtp", "b").ReadString(), "None");
  std::vector<std::string> names;
  At("smtp", "").ReadSection(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "c"}));
  // The name index still finds what came after the removed value, and a new one goes last.
  At("smtp", "c").WriteString("c2");
  At("smtp", "b").WriteString("b2");
  EXPECT_EQ(At("smtp", "c").ReadString(), "c2");
  At("smtp", "").ReadSection(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(ReadFile(home_.store_file()).find("\"b\"=\"b\""), std::string::npos);

  // Nothing to remove is no failure; a store that cannot be written is.
  EXPECT_TRUE(At("smtp", "never").DeleteValue());
  EXPECT_TRUE(At("nosection", "x").DeleteValue());
  const std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"x\"=\"open\n";
  WriteFile(home_.store_file(), broken);
  EXPECT_EQ(Raised([&] { At("smtp", "a").DeleteValue(); }), "Cannot open key to write");
  EXPECT_EQ(ReadFile(home_.store_file()), broken);
}

TEST_F(RegistryStoreTest, EveryByteStringRoundTripsThroughTheFile) {
  std::string all_bytes;
  for (int b = 0; b < 256; ++b) all_bytes += static_cast<char>(b);
  const std::vector<std::string> samples = {all_bytes,
                                            test::RandomBytes(3000, 7),
                                            "quote \" and backslash \\ and \\\"",
                                            "line one\r\nline two\n",
                                            std::string("nul\0inside", 10),
                                            "\\",
                                            "\"",
                                            "caf\xC3\xA9 \xFF"};
  for (std::size_t i = 0; i < samples.size(); ++i) {
    At("bytes", "v" + std::to_string(i)).WriteString(samples[i]);
  }
  At("bytes", "quote\"and\\name").WriteString("named");
  RegistryStore other;  // a fresh instance reads only what the file holds
  other.set_base_key(test::kStoreBaseKey);
  other.set_target_key("bytes");
  for (std::size_t i = 0; i < samples.size(); ++i) {
    other.set_target_value("v" + std::to_string(i));
    EXPECT_EQ(other.ReadString(), samples[i]) << "sample " << i;
  }
  other.set_target_value("quote\"and\\name");
  EXPECT_EQ(other.ReadString(), "named");
  // Plain text stays readable in the file; only text with control characters is hex.
  const std::string file = ReadFile(home_.store_file());
  EXPECT_NE(file.find("\"v2\"=\"quote \\\" and backslash \\\\ and \\\\\\\"\"\n"), std::string::npos)
      << file;
  EXPECT_NE(file.find("\"v3\"=hex(1):6c,69,6e,65,20,6f,6e,65,0d,0a,"), std::string::npos);
}

TEST_F(RegistryStoreTest, AFileThatCannotBeParsedIsNeverOverwritten) {
  At("frst", "").WriteString("c");
  const std::string broken =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\smtp]\n\"smtp\"="
      "\"unterminated\n";
  WriteFile(home_.store_file(), broken);
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadString(); }), "Cannot open key to read");
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").WriteString("x"); }), "Cannot open key to write");
  EXPECT_FALSE(store_.BaseKeyExists());
  EXPECT_EQ(ReadFile(home_.store_file()), broken);
}

TEST_F(RegistryStoreTest, EventsTakeTheFailuresInsteadOfTheCaller) {
  int read_errors = 0;
  int write_errors = 0;
  store_.set_on_read_error([&](RegistryStore& sender) {
    EXPECT_EQ(&sender, &store_);
    ++read_errors;
  });
  store_.set_on_write_error([&](RegistryStore&) { ++write_errors; });
  EXPECT_EQ(At("smtp", "smtp").ReadString(), "");
  EXPECT_EQ(At("smtp", "smtp").ReadInteger(), -1);
  EXPECT_FALSE(At("smtp", "smtp").ReadBool());
  At("smtp", "").ReadSection(nullptr);
  EXPECT_EQ(read_errors, 4);

  store_.set_dont_create(true);
  EXPECT_FALSE(At("smtp", "smtp").WriteString("x"));
  store_.set_dont_create(false);
  EXPECT_EQ(write_errors, 1);
  // A value name the file cannot hold (a line break) fails to be stored.
  EXPECT_FALSE(At("smtp", "bad\nname").WriteString("x"));
  EXPECT_EQ(write_errors, 2);
  store_.set_on_write_error(nullptr);
  EXPECT_EQ(Raised([&] { At("smtp", "bad\nname").WriteString("x"); }),
            "Failed to set data for 'bad\nname'");
  // A failed write changes nothing, not even the base key it would have created.
  EXPECT_FALSE(store_.BaseKeyExists());
}

// A store whose values exist but cannot be read, as a damaged registry hive would be.
class UnreadableBackend : public RegistryBackend {
  class Session : public RegistrySession {
   public:
    bool KeyExists(const KeyPath&) override { return true; }
    bool CreateKey(const KeyPath&) override { return true; }
    ValueLookup QueryValue(const KeyPath&, std::string_view) override {
      return {ValueLookup::Status::kUnreadable, {}};
    }
    bool SetValue(const KeyPath&, std::string_view, RegValue) override { return true; }
    bool DeleteValue(const KeyPath&, std::string_view) override { return true; }
    std::optional<std::vector<std::string>> ValueNames(const KeyPath&) override {
      return std::vector<std::string>{};
    }
    bool Commit() override { return true; }
  };

 public:
  std::unique_ptr<RegistrySession> Open(Access) override { return std::make_unique<Session>(); }
};

TEST_F(RegistryStoreTest, UnreadableValueIsAGetDataFailure) {
  RegistryStore damaged(std::make_unique<UnreadableBackend>());
  damaged.set_target_key("smtp");
  damaged.set_target_value("smtp");
  EXPECT_EQ(Raised([&] { damaged.ReadString(); }), "Failed to get data for 'smtp'");
  bool called = false;
  damaged.set_on_read_error([&](RegistryStore&) { called = true; });
  EXPECT_EQ(damaged.ReadString(), "");
  EXPECT_TRUE(called);
}

TEST_F(RegistryStoreTest, StoreFileIsPrivateToTheUser) {
  ASSERT_EQ(::mkdir(home_.folder().c_str(), 0755), 0);
  At("password", "password").WriteString("secret");
  struct stat st {};
  ASSERT_EQ(::stat(home_.store_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(home_.folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(RegistryStoreTest, AStoreThatIsNoRegularFileIsRefusedAtOnceAndLeftAlone) {
  ASSERT_EQ(::mkdir(home_.folder().c_str(), 0700), 0);
  const std::string fifo = home_.store_file();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Should the store wait for a writer, this one comes after a while and ends the wait with an
  // empty file, which the test then sees.
  std::atomic<bool> finished = false;
  std::atomic<bool> rescued = false;
  std::thread rescuer([&] {
    for (int i = 0; i < 100 && !finished; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    while (!finished) {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        rescued = true;
        ::close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadString(); }), "Cannot open key to read");
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").WriteString("x"); }), "Cannot open key to write");
  finished = true;
  rescuer.join();
  EXPECT_FALSE(rescued);
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // An endless device behind a link, and a folder, are refused the same way.
  ASSERT_EQ(::unlink(fifo.c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", fifo.c_str()), 0);
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadString(); }), "Cannot open key to read");
  ASSERT_EQ(::unlink(fifo.c_str()), 0);
  ASSERT_EQ(::mkdir(fifo.c_str(), 0700), 0);
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").WriteString("x"); }), "Cannot open key to write");
}

TEST_F(RegistryStoreTest, AStoreThatIsALinkIsWrittenThroughToItsTarget) {
  // A dotfiles layout: user.reg links, relatively, to a file in another folder that does not
  // exist yet; the first write creates it there and every later one replaces it.
  ASSERT_EQ(::mkdir(home_.folder().c_str(), 0700), 0);
  const std::string dotfiles = home_.path() + "/dotfiles";
  ASSERT_EQ(::mkdir(dotfiles.c_str(), 0700), 0);
  ASSERT_EQ(::symlink("../dotfiles/tovrel.reg", home_.store_file().c_str()), 0);
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").ReadString(); }), "Cannot open key to read");

  EXPECT_TRUE(At("smtp", "smtp").WriteString("first"));
  EXPECT_TRUE(At("smtp", "smtp").WriteString("second"));
  EXPECT_EQ(At("smtp", "smtp").ReadString(), "second");
  struct stat st {};
  ASSERT_EQ(::lstat(home_.store_file().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat((dotfiles + "/tovrel.reg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ReadFile(dotfiles + "/tovrel.reg").find("\"smtp\"=\"second\""), std::string::npos);
  // No temporary file is left in either folder.
  for (const auto& folder : {home_.folder(), dotfiles}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      EXPECT_FALSE(name.find(".tmp-") != std::string::npos) << folder << "/" << name;
    }
  }

  // A link that leads round in a circle is no file to write.
  ASSERT_EQ(::unlink(home_.store_file().c_str()), 0);
  ASSERT_EQ(::symlink("user.reg", home_.store_file().c_str()), 0);
  EXPECT_EQ(Raised([&] { At("smtp", "smtp").WriteString("x"); }), "Cannot open key to write");
}

// A lock file something else put there (a link, another user's file) is refused: nothing is made
// or locked through it.
TEST_F(RegistryStoreTest, ALockFileThatIsALinkOrNotTheUsersOwnIsRefused) {
  ASSERT_TRUE(At("smtp", "smtp").WriteString("before"));
  const std::string lock = home_.store_file() + ".lock";
  const std::string elsewhere = home_.path() + "/elsewhere";
  ASSERT_EQ(::unlink(lock.c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), lock.c_str()), 0);
  const auto write = [&] { At("smtp", "smtp").WriteString("after"); };
  EXPECT_EQ(Raised(write), "Cannot open key to write");
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
  ASSERT_EQ(::unlink(lock.c_str()), 0);
  WriteFile(lock, "");
  if (::chown(lock.c_str(), 65534, 65534) == 0) {  // as root only
    EXPECT_EQ(Raised(write), "Cannot open key to write");
  }
}

TEST_F(RegistryStoreTest, NothingIsCachedBetweenOperations) {
  At("smtp", "smtp").WriteString("first");
  RegistryStore other;
  other.set_base_key(test::kStoreBaseKey);
  other.set_target_key("smtp");
  other.set_target_value("smtp");
  EXPECT_EQ(other.ReadString(), "first");
  At("smtp", "smtp").WriteString("second");
  EXPECT_EQ(other.ReadString(), "second");
  WriteFile(home_.store_file(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\smtp]\n"
            "\"smtp\"=\"edited by hand\"\n");
  EXPECT_EQ(other.ReadString(), "edited by hand");
}

// The names of the section's values, in order.
std::vector<std::string> SectionNames(const std::string& section) {
  RegistryStore store;
  store.set_base_key(test::kStoreBaseKey);
  store.set_target_key(section);
  std::vector<std::string> names;
  store.ReadSection(&names);
  return names;
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNoValue) {
  At("frst", "").WriteString("c");
  constexpr int kEach = 120;
  const std::string self = test::BuildPath("tests/store_tests");
  auto writer = [&](const char* prefix) {
    return test::ChildProcess(
        {self, test::kStoreWriterFlag, "shared", prefix, std::to_string(kEach)}, {home_.env()});
  };
  test::ChildProcess first = writer("a");
  test::ChildProcess second = writer("b");
  EXPECT_EQ(first.ReadLine(std::chrono::seconds(120)), "done");
  EXPECT_EQ(second.ReadLine(std::chrono::seconds(120)), "done");
  auto names = SectionNames("shared");
  EXPECT_EQ(names.size(), 2u * kEach);
  for (int k = 0; k < kEach; ++k) {
    for (const char* prefix : {"a", "b"}) {
      EXPECT_EQ(At("shared", prefix + std::to_string(k)).ReadString(), std::to_string(k));
    }
  }
}

TEST_F(RegistryStoreTest, AWriterKilledAtAnyMomentLeavesACompleteFile) {
  At("frst", "").WriteString("c");
  const std::string self = test::BuildPath("tests/store_tests");
  int survived = 0;
  for (int round = 0; round < 6; ++round) {
    const std::string prefix = "r" + std::to_string(round) + "-";
    {
      test::ChildProcess writer({self, test::kStoreWriterFlag, "crash", prefix, "100000"},
                                {home_.env()});
      std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
      writer.Stop();
    }
    // Writes are sequential, so what survived must be exactly the first m values, each whole.
    const auto names = SectionNames("crash");
    int m = 0;
    for (const auto& name : names) {
      if (name.starts_with(prefix)) ++m;
    }
    for (int k = 0; k < m; ++k) {
      ASSERT_EQ(At("crash", prefix + std::to_string(k)).ReadString(), std::to_string(k))
          << "round " << round << " of " << m;
    }
    survived += m;
  }
  EXPECT_GT(survived, 0) << "no writer got far enough to be killed mid-way";
  // The next write sweeps away temporary files a killed writer left behind, and nothing else:
  // a user's own files beside the store keep their content, whatever they are called.
  const std::string folder = home_.folder();
  for (const char* own : {"user.reg.backup", "user.reg.123456", "user.reg.tmp-abcdef"}) {
    test::WriteFile(folder + "/" + own, own);
  }
  At("frst", "").WriteString("c");
  for (const char* own : {"user.reg.backup", "user.reg.123456", "user.reg.tmp-abcdef"}) {
    EXPECT_EQ(test::ReadFile(folder + "/" + own), own);
    std::filesystem::remove(folder + "/" + own);
  }
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home_.folder())) {
    const auto name = entry.path().filename().string();
    if (name != "user.reg" && name != "user.reg.lock") ++leftovers;
  }
  EXPECT_EQ(leftovers, 0);
}

}  // namespace
}  // namespace tovrel::store
