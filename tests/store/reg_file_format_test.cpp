#include "store/reg_file_format.h"

#include <gtest/gtest.h>

#include "store/registry_backend.h"
#include "support/test_support.h"

namespace tovrel::store {
namespace {

const RegValue* Value(const RegKey& root, const KeyPath& path, std::string_view name) {
  const RegKey* key = root.Find(path);
  return key ? key->FindValue(name) : nullptr;
}

TEST(RegFileFormatTest, ReadsWhatAnExportOfTheRegistryLooksLike) {
  const std::string text =
      "REGEDIT4\r\n\r\n"
      "; written by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\ident]\r\n"
      "\"numOfIdents\"=\"0\"\r\n"
      "@=\"unnamed\"\r\n"
      "\"wide\"=hex(b):01,02,03,04,\\\r\n"
      "  05,06,07,08\r\n"
      "\"count\"=dword:0000002A\r\n"
      "\r\n"
      "[hkey_current_user\\Software\\Tovrel\\TOVRELMAIL\\ident]\r\n"
      "\"nameId0\"=\"Jane Doe,\"\r\n";
  auto root = ParseRegFile(text);
  ASSERT_TRUE(root);
  const KeyPath ident = {"software", "tovrel", "tovrelmail", "IDENT"};
  ASSERT_NE(Value(*root, ident, "NUMOFIDENTS"), nullptr);
  EXPECT_EQ(*Value(*root, ident, "numOfIdents"), RegValue::Text("0"));
  EXPECT_EQ(*Value(*root, ident, ""), RegValue::Text("unnamed"));
  EXPECT_EQ(*Value(*root, ident, "nameId0"), RegValue::Text("Jane Doe,"));
  EXPECT_EQ(*Value(*root, ident, "wide"), (RegValue{11, "\x01\x02\x03\x04\x05\x06\x07\x08"}));
  EXPECT_EQ(*Value(*root, ident, "count"), (RegValue{kRegDword, std::string("\x2a\0\0\0", 4)}));
  // Both blocks name the same key: one key, spelled as first seen.
  EXPECT_EQ(root->Find({"Software", "tovrel"})->children().size(), 1u);
  EXPECT_EQ(root->Find({"Software", "tovrel"})->children()[0]->name(), "tovrelmail");
}

TEST(RegFileFormatTest, RefusesTextThatIsNotAStoreFile) {
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n";
  for (const std::string& bad : {
           std::string("Windows Registry Editor Version 5.00\n\n"),
           std::string("\"a\"=\"b\"\n"),
           std::string("REGEDIT4\n\n\"a\"=\"value before any key\"\n"),
           std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n"),
           std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\\\Software]\n"),
           std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\n"),
           head + "\"a\"=\"unterminated\n",
           head + "\"a\"=\"bad \\n escape\"\n",
           head + "\"a\"=\"trailing\" junk\n",
           head + "\"a\"=-\n",
           head + "\"a\"=dword:123456789\n",
           head + "\"a\"=hex:0g\n",
           head + "\"a\"=hex(zz):00\n",
           head + "a=\"unquoted name\"\n",
       }) {
    EXPECT_FALSE(ParseRegFile(bad)) << bad;
  }
  EXPECT_TRUE(ParseRegFile(""));  // a new, empty file is an empty store
}

TEST(RegFileFormatTest, WrittenTreesReadBackEqual) {
  RegKey root{std::string(kRegRootName)};
  root.SetValue("at root", RegValue::Text("r"));
  RegKey& app = root.Create({"Software", "tovrel", "tovrelmail"});
  app.Child("empty section");  // a key without values must survive
  RegKey& bytes = app.Child("bytes");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  bytes.SetValue("all", RegValue::Text(all));
  bytes.SetValue("random", RegValue::Text(test::RandomBytes(5000, 3)));
  bytes.SetValue("expand", RegValue{kRegExpandSz, "%PATH%"});
  bytes.SetValue("binary", RegValue{kRegBinary, std::string("\0\xff", 2)});
  bytes.SetValue("short dword", RegValue{kRegDword, "ab"});
  bytes.SetValue("type 7", RegValue{7, std::string("a\0b\0\0", 5)});
  bytes.SetValue("\"\\", RegValue::Text("\"\\"));
  bytes.SetValue("", RegValue::Text(""));

  const std::string text = SerializeRegFile(root);
  auto back = ParseRegFile(text);
  ASSERT_TRUE(back) << text;
  EXPECT_EQ(SerializeRegFile(*back), text);
  EXPECT_NE(back->Find({"software", "TOVREL", "tovrelmail", "empty section"}), nullptr);
  for (const auto& [name, value] : bytes.values()) {
    const RegValue* read = Value(*back, {"Software", "tovrel", "tovrelmail", "bytes"}, name);
    ASSERT_NE(read, nullptr) << name;
    EXPECT_EQ(*read, value) << name;
  }
  EXPECT_EQ(*back->FindValue("at root"), RegValue::Text("r"));
}

}  // namespace
}  // namespace tovrel::store
