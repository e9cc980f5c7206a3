// Token cutting, double-byte aware search, spool files and the Shift_JIS conversion (checked
// against Python's own codecs).

#include "message/string_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <thread>

#include "message/locale_info.h"
#include "message/message_error.h"
#include "message/shift_jis.h"
#include "message/spool_file.h"
#include "support/test_support.h"

namespace tovrel::message {
namespace {

// Restores the process's lead-byte rules after a test that changes them.
class CodeSetGuard {
 public:
  explicit CodeSetGuard(const char* codeset) { ApplyCodeSet(LocaleInfo{"xx", codeset}); }
  ~CodeSetGuard() { ApplyCodeSet(LocaleInfo{"C", "ANSI_X3.4-1968"}); }
};

TEST(CutTokenTest, CutsAtDelimiterAndRemovesIt) {
  std::string text = "0;abc";
  EXPECT_EQ(CutToken(text, ";"), "0");
  EXPECT_EQ(text, "abc");

  text = "250 OK here";
  EXPECT_EQ(CutToken(text, " ", false), "250");
  EXPECT_EQ(text, "250 OK here");
}

TEST(CutTokenTest, MissingDelimiterTakesEverything) {
  std::string text = "no delimiter";
  EXPECT_EQ(CutToken(text, ";"), "no delimiter");
  EXPECT_EQ(text, "");

  text = "kept";
  EXPECT_EQ(CutToken(text, ";", false), "kept");
  EXPECT_EQ(text, "kept");

  text = "";
  EXPECT_EQ(CutToken(text, ";"), "");
  EXPECT_EQ(text, "");
}

TEST(CutTokenTest, MultiCharacterAndNulDelimiters) {
  std::string text = "line one\r\nline two\r\n";
  EXPECT_EQ(CutToken(text, "\r\n"), "line one");
  EXPECT_EQ(text, "line two\r\n");

  text = std::string("a\0b", 3);
  EXPECT_EQ(CutToken(text, std::string_view("\0", 1)), "a");
  EXPECT_EQ(text, "b");
}

TEST(FindSubstringTest, PlainSearch) {
  EXPECT_EQ(FindSubstring("c", "abc"), 3u);
  EXPECT_EQ(FindSubstring("x", "abc"), 0u);
  EXPECT_EQ(FindSubstring("", "abc"), 0u);
  EXPECT_EQ(FindSubstring("abcd", "abc"), 0u);
  EXPECT_EQ(FindSubstring("b", ""), 0u);
}

TEST(FindSubstringTest, ShiftJisTrailByteIsNotAMatch) {
  // 0x83 0x5C is one Shift_JIS character whose second byte is a backslash.
  const std::string text =
      "\x83\x5c"
      "a\\";
  {
    CodeSetGuard guard("SHIFT_JIS");
    EXPECT_EQ(FindSubstring("\\", text), 4u);
    EXPECT_EQ(FindSubstring("\x83\x5c", text), 1u);
  }
  EXPECT_EQ(FindSubstring("\\", text), 2u);  // byte-wise again
}

TEST(SpoolFileTest, CreatesUniqueEmptyPrivateFiles) {
  test::TempDir dir;
  const std::string first = NewSpoolFileName(dir.path());
  const std::string second = NewSpoolFileName(dir.path() + "/");
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    EXPECT_EQ(path.rfind(dir.path() + "/Tov", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(TempDirectory().back(), '/');
}

TEST(SpoolFileTest, UnwritableDirectoryThrows) {
  EXPECT_THROW(NewSpoolFileName("/nonexistent-dir-for-tovrel"), NetError);
}

TEST(ShiftJisToJisTest, AsciiPassesUnchanged) {
  const std::string ascii = "Hello, World! ~\\ 0123";
  EXPECT_EQ(ShiftJisToJis(ascii), ascii);
  EXPECT_EQ(ShiftJisToJis(""), "");
}

TEST(ShiftJisToJisTest, DoubleByteThenAscii) {
  // 0x88 0x9F is the first kanji of level 1 (JIS 0x3021).
  EXPECT_EQ(ShiftJisToJis("\x88\x9f"
                          "a"),
            "\x1b$B\x30\x21\x1b(Ba");
}

TEST(ShiftJisToJisTest, DroppedBytes) {
  EXPECT_EQ(ShiftJisToJis("a\x88"), "a");  // lone lead byte at the end
  EXPECT_EQ(ShiftJisToJis("a\x80\xa0\xfd\xfe\xff"
                          "b"),
            "ab");  // never mapped
  EXPECT_EQ(ShiftJisToJis("a\xf0\x40"
                          "b"),
            "ab");  // user-defined area with its trail
  EXPECT_EQ(ShiftJisToJis("a\x88\x7f"
                          "b"),
            "ab");                           // 0x7F is no trail byte
  EXPECT_EQ(ShiftJisToJis("\x88\x30"), "");  // the pair is consumed
}

TEST(ShiftJisToJisTest, VoicingMarks) {
  EXPECT_EQ(ShiftJisToJis("\xb6\xde"), "\x1b$B\x25\x2c\x1b(B");          // GA
  EXPECT_EQ(ShiftJisToJis("\xb6\xdf"), "\x1b$B\x25\x2b\x21\x2c\x1b(B");  // KA, mark
  EXPECT_EQ(ShiftJisToJis("\xde"), "\x1b$B\x21\x2b\x1b(B");              // lone mark
}

// Every half-width katakana alone and followed by each mark, and random texts of ASCII, JIS X 0208
// characters and katakana: the expected bytes come from Python's shift_jis and iso2022_jp codecs
// (half-width forms widened with NFKC, lone marks taken as the spacing marks).
TEST(ShiftJisToJisTest, MatchesPythonCodecs) {
  const char* script = R"PY(
import random, re, unicodedata
rnd = random.Random(20261207)
def widen(m):
    s = unicodedata.normalize('NFKC', m.group(0))
    s = s.replace('\u30f7', '\u30ef\u3099').replace('\u30fa', '\u30f2\u3099')
    return s.replace('\u3099', '\u309b').replace('\u309a', '\u309c')
def expected(s):
    return re.sub('[\uff61-\uff9f]+', widen, s).encode('iso2022_jp')
def jis_char():
    while True:
        try:
            ch = bytes([27, 36, 66, rnd.randint(0x21, 0x74), rnd.randint(0x21, 0x7e), 27, 40, 66]).decode('iso2022_jp')
            ch.encode('shift_jis')
            return ch
        except Exception:
            pass
cases = []
for b in range(0xff61, 0xffa0):
    for tail in ('', '\uff9e', '\uff9f', 'x'):
        cases.append(chr(b) + tail)
for n in range(300):
    parts = []
    for k in range(rnd.randint(0, 15)):
        r = rnd.random()
        parts.append(chr(rnd.randint(0x20, 0x7e)) if r < 0.35 else jis_char() if r < 0.75 else chr(rnd.randint(0xff61, 0xff9f)))
    cases.append(''.join(parts))
for s in cases:
    print('x' + s.encode('shift_jis').hex(), 'x' + expected(s).hex())
)PY";
  const test::ProcessResult result = test::RunPython(script);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  std::istringstream lines(result.out);
  std::string input_hex;
  std::string expected_hex;
  int checked = 0;
  while (lines >> input_hex >> expected_hex) {
    const std::string input = test::FromHex(input_hex.substr(1));
    EXPECT_EQ(ShiftJisToJis(input), test::FromHex(expected_hex.substr(1))) << "input " << input_hex;
    ++checked;
  }
  EXPECT_GT(checked, 500);
}

}  // namespace
}  // namespace tovrel::message
