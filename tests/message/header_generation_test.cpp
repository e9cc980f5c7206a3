// Header generation: the charset table, encoded words judged by Python's email package (decoded
// text, word length, whole characters per word), mailboxes parsed back by Python's address parser,
// the generated field order, and CR/LF injection through subject, organization and names.

#include "message/header_generation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "message/message.h"
#include "message/string_helpers.h"
#include "message/utf8_text.h"
#include "support/test_support.h"

namespace tovrel::message {
namespace {

std::string Block(const HeaderList& list) {
  std::string block;
  for (const std::string& line : list) block += line + "\r\n";
  return block;
}

std::vector<std::string> EncodedWords(const std::string& text) {
  static const std::regex word(R"(=\?[^?\s]*\?[BbQq]\?[^?\s]*\?=)");
  std::vector<std::string> words;
  for (std::sregex_iterator it(text.begin(), text.end(), word), end; it != end; ++it) {
    words.push_back(it->str());
  }
  return words;
}

// Random text of words made of ASCII letters and characters of 2, 3 and 4 bytes in UTF-8.
std::string RandomUtf8Text(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {"a",
                                                  "Z",
                                                  "9",
                                                  "-",
                                                  "!",
                                                  "=?",
                                                  "?",
                                                  "_",
                                                  "=",
                                                  "\xc3\xa9",
                                                  "\xc3\xb6",
                                                  "\xd0\x96",
                                                  "\xe2\x82\xac",
                                                  "\xe6\xbc\xa2",
                                                  "\xe3\x81\x82",
                                                  "\xf0\x9f\x98\x80",
                                                  "\"",
                                                  "(",
                                                  ","};
  std::string text;
  const int words = 1 + static_cast<int>(rng() % 12);
  for (int w = 0; w < words; ++w) {
    if (w > 0) text += (rng() % 5 == 0) ? "\t" : " ";
    const int length = 1 + static_cast<int>(rng() % 30);
    for (int i = 0; i < length; ++i) text += pieces[rng() % pieces.size()];
  }
  return text;
}

// Decodes each header value with Python (unfolded, then email.header) and checks that every
// encoded word decodes on its own in its charset. Prints one line per value.
test::ProcessResult PythonDecode(const std::vector<std::string>& values,
                                 const std::string& charset) {
  test::TempDir dir;
  std::string joined;
  for (const std::string& v : values) joined += v + '\0';
  test::WriteFile(dir.File("values"), joined);
  return test::RunPython(
      "import re, sys\n"
      "from email.header import decode_header, make_header\n"
      "cs = sys.argv[2]\n"
      "vals = open(sys.argv[1], 'rb').read().split(b'\\0')[:-1]\n"
      "for v in vals:\n"
      "    s = v.decode('ascii').replace('\\r\\n', '')\n"
      "    for w in re.findall(r'=\\?[^?\\s]*\\?[BbQq]\\?[^?\\s]*\\?=', s):\n"
      "        for b, c in decode_header(w):\n"
      "            b.decode(c)  # raises when a word holds a cut character\n"
      "    print(str(make_header(decode_header(s))).encode(cs).hex())\n",
      {dir.File("values"), charset});
}

// Runs `script` on the message text parsed by Python's email package (as `m`, with the
// compat32 policy, whose header objects accept CR and LF in decoded names); `text(v)` unfolds and
// decodes a header value.
test::ProcessResult ParseWithPython(const std::string& message_text, const std::string& script) {
  test::TempDir dir;
  test::WriteFile(dir.File("m"), message_text);
  return test::RunPython(
      "import email, email.utils, sys\n"
      "from email.header import decode_header, make_header\n"
      "m = email.message_from_binary_file(open(sys.argv[1], 'rb'))\n"
      "def text(v): return str(make_header(decode_header(v.replace('\\r\\n', ''))))\n" +
          script,
      {dir.File("m")});
}

TEST(SelectHeaderCharsetTest, EveryRowOfTheTable) {
  struct Row {
    LocaleInfo locale;
    const char* charset;
    char letter;
    HeaderTransfer transfer;
  };
  const Row rows[] = {
      {{"zh_CN", "GB2312"}, "GB2312", 'B', tx8Bit},
      {{"zh_TW", "BIG5"}, "Big5", 'B', tx8Bit},
      {{"zh_HK", "BIG5-HKSCS"}, "Big5", 'B', tx8Bit},
      {{"ja_JP", "SHIFT_JIS"}, "ISO-2022-JP", 'B', txIso2022Jp},
      {{"ja_JP", "EUC-JP"}, "EUC-JP", 'B', tx8Bit},
      {{"ko_KR", "EUC-KR"}, "EUC-KR", 'B', tx8Bit},
      {{"de_DE", "ISO-8859-1"}, "ISO-8859-1", 'Q', tx8Bit},
      {{"C", "ANSI_X3.4-1968"}, "ISO-8859-1", 'Q', tx8Bit},
      // Under UTF-8 the text is UTF-8; the letter still follows the language.
      {{"ja_JP", "UTF-8"}, "UTF-8", 'B', tx8Bit},
      {{"zh_CN", "UTF-8"}, "UTF-8", 'B', tx8Bit},
      {{"ko_KR", "utf8"}, "UTF-8", 'B', tx8Bit},
      {{"en_US", "UTF-8"}, "UTF-8", 'Q', tx8Bit},
  };
  for (const Row& row : rows) {
    const HeaderCharset cs = SelectHeaderCharset(row.locale);
    EXPECT_EQ(cs.charset, row.charset) << row.locale.language << "." << row.locale.codeset;
    EXPECT_EQ(cs.letter, row.letter) << row.locale.language;
    EXPECT_EQ(cs.transfer, row.transfer) << row.locale.language;
  }
  const LocaleInfo parsed = LocaleInfoFromName("ja_JP.SJIS@x");
  EXPECT_EQ(parsed.language, "ja_JP");
  EXPECT_EQ(parsed.codeset, "SJIS");
  EXPECT_EQ(SelectHeaderCharset(parsed).transfer, txIso2022Jp);
}

TEST(EncodeHeaderTextTest, OnlyTheWordsThatNeedIt) {
  EXPECT_EQ(EncodeHeaderText("abc d\xe9"
                             "f ghi",
                             "", 'Q', tx8Bit, "ISO-8859-1"),
            "abc =?ISO-8859-1?Q?d=E9f?= ghi");
  EXPECT_EQ(EncodeHeaderText("x \xe9t\xe9 \xe0 y", "", 'Q', tx8Bit, "ISO-8859-1"),
            "x =?ISO-8859-1?Q?=E9t=E9_=E0?= y");
  EXPECT_EQ(EncodeHeaderText("plain text", "", 'Q', tx8Bit, "ISO-8859-1"), "plain text");
  EXPECT_EQ(EncodeHeaderText("", "", 'B', tx8Bit, "UTF-8"), "");
  EXPECT_EQ(EncodeHeaderText("   ", "", 'B', tx8Bit, "UTF-8"), "   ");
  EXPECT_EQ(EncodeHeaderText("Doe, Jane", kAddressSpecials, 'Q', tx8Bit, "UTF-8"),
            "=?UTF-8?Q?Doe=2C?= Jane");  // only the word with the special is encoded
}

TEST(EncodeHeaderTextTest, RandomUtf8DecodesBackWithPython) {
  std::mt19937 rng(2047);
  for (char letter : {'B', 'Q'}) {
    std::vector<std::string> inputs;
    std::vector<std::string> encoded;
    for (int i = 0; i < 150; ++i) {
      inputs.push_back(RandomUtf8Text(rng));
      encoded.push_back(EncodeHeaderText(inputs.back(), "", letter, tx8Bit, "UTF-8"));
      for (const std::string& word : EncodedWords(encoded.back())) {
        EXPECT_LE(word.size(), 75u) << word;
      }
      for (unsigned char c : encoded.back()) ASSERT_LT(c, 128) << encoded.back();
    }
    const test::ProcessResult r = PythonDecode(encoded, "utf-8");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::istringstream lines(r.out);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      std::string hex;
      std::getline(lines, hex);
      EXPECT_EQ(hex, test::ToHex(inputs[i])) << letter << " " << encoded[i];
    }
  }
}

// The seed corpus of the encoded-word fuzz target, encoded as the target encodes it (the first
// byte picks the letter, the text the charset), must decode back in Python too. Python joins
// words by its own rule, so runs of blanks compare as one.
std::string Blanks(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

TEST(EncodeHeaderTextTest, FuzzCorpusDecodesBackWithPython) {
  std::map<std::string, std::vector<std::string>> texts;  // by charset
  std::map<std::string, std::vector<std::string>> encoded;
  for (const auto& entry : std::filesystem::directory_iterator(
           test::SourcePath("fuzz/corpus/encode_header_text_fuzz"))) {
    const std::string input = test::ReadFile(entry.path().string());
    if (input.empty()) continue;
    const char letter = (input[0] & 1) != 0 ? 'B' : 'Q';
    const std::string text = input.substr(1);
    const std::string charset = IsValidUtf8(text) ? "UTF-8" : "ISO-8859-1";
    texts[charset].push_back(text);
    encoded[charset].push_back(EncodeHeaderText(text, "", letter, tx8Bit, charset));
  }
  ASSERT_FALSE(texts.empty());
  for (const auto& [charset, values] : encoded) {
    const test::ProcessResult r = PythonDecode(values, charset == "UTF-8" ? "utf-8" : "latin-1");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::istringstream lines(r.out);
    for (std::size_t i = 0; i < values.size(); ++i) {
      std::string hex;
      std::getline(lines, hex);
      EXPECT_EQ(Blanks(test::FromHex(hex)), Blanks(texts[charset][i])) << values[i];
    }
  }
}

TEST(EncodeHeaderTextTest, LongTextFoldsIntoSeveralWords) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "\xe6\xbc\xa2";  // 180 bytes, no blank
  for (char letter : {'B', 'Q'}) {
    const std::string encoded = EncodeHeaderText(text, "", letter, tx8Bit, "UTF-8");
    const std::vector<std::string> words = EncodedWords(encoded);
    ASSERT_GT(words.size(), 2u);
    std::string rebuilt;
    for (std::size_t i = 0; i < words.size(); ++i) {
      EXPECT_LE(words[i].size(), 75u);
      EXPECT_EQ(words[i].rfind(std::string("=?UTF-8?") + letter + "?", 0), 0u);
      rebuilt += (i > 0 ? "\r\n\t" : "") + words[i];
    }
    EXPECT_EQ(encoded, rebuilt);  // separated by CR LF TAB and nothing else
  }
}

TEST(EncodeHeaderTextTest, Iso8859AndDoubleByteCharsets) {
  std::mt19937 rng(5);
  std::vector<std::string> latin;
  std::vector<std::string> latin_encoded;
  std::vector<std::string> gb;
  std::vector<std::string> gb_encoded;
  for (int i = 0; i < 60; ++i) {
    std::string l;
    std::string g;
    for (int k = 0; k < 70; ++k) {
      l += rng() % 6 == 0 ? ' ' : static_cast<char>(0x41 + rng() % 0xBE);
      // GB2312 rows 16..55 hold the level-one hanzi; cells 0xA1..0xFE.
      if (rng() % 5 == 0) {
        g += ' ';
      } else {
        g += static_cast<char>(0xB0 + rng() % 0x27);
        g += static_cast<char>(0xA1 + rng() % 0x5E);
      }
    }
    latin.push_back(std::string(TrimControl(l)));
    gb.push_back(std::string(TrimControl(g)));
    latin_encoded.push_back(EncodeHeaderText(latin.back(), "", 'Q', tx8Bit, "ISO-8859-1"));
    gb_encoded.push_back(EncodeHeaderText(gb.back(), "", 'B', tx8Bit, "GB2312"));
    for (const std::string& w : EncodedWords(gb_encoded.back())) EXPECT_LE(w.size(), 75u);
  }
  const test::ProcessResult r1 = PythonDecode(latin_encoded, "latin-1");
  const test::ProcessResult r2 = PythonDecode(gb_encoded, "gb2312");
  ASSERT_EQ(r1.exit_status, 0) << r1.err;
  ASSERT_EQ(r2.exit_status, 0) << r2.err;
  std::istringstream l1(r1.out);
  std::istringstream l2(r2.out);
  for (std::size_t i = 0; i < latin.size(); ++i) {
    std::string hex;
    std::getline(l1, hex);
    EXPECT_EQ(hex, test::ToHex(latin[i]));
    std::getline(l2, hex);
    EXPECT_EQ(hex, test::ToHex(gb[i]));
  }
}

TEST(EncodeHeaderTextTest, ShiftJisBecomesSelfContainedIso2022JpWords) {
  // Long Japanese text (Shift_JIS kanji and kana) so that it needs several encoded words.
  std::string sjis;
  for (int i = 0; i < 40; ++i) sjis += "\x8a\xbf\x82\xa0";  // KAN, A
  sjis += " ascii \xb6\xde";                                // half-width GA
  const std::string encoded = EncodeHeaderText(sjis, "", 'B', txIso2022Jp, "ISO-2022-JP");
  ASSERT_GT(EncodedWords(encoded).size(), 2u);
  const test::ProcessResult r = PythonDecode({encoded}, "shift_jis");
  ASSERT_EQ(r.exit_status, 0) << r.err;  // every word decodes on its own
  std::string expected = sjis;
  expected.replace(expected.size() - 2, 2, "\x83\x4b");  // full-width GA
  EXPECT_EQ(r.out, test::ToHex(expected) + "\n");
}

TEST(EncodeMailboxTest, NamesQuotedOrEncodedAndParsedBackByPython) {
  EmailAddressList list;
  list.AddItem() = EmailAddress("plain@x.example", "");
  list.AddItem() = EmailAddress("q@x.example", "Jane \"JJ\" Doe\\Sr");
  list.AddItem() = EmailAddress("c@x.example", "Doe, Jane.");
  list.AddItem() = EmailAddress("u@x.example", "J\xc3\xb6rg M\xc3\xbcller, Dr.");
  list.AddItem() = EmailAddress("n@x.example", "line\r\nBcc: evil@x.example");
  list.AddItem() = EmailAddress("z@x.example", "\xe6\xbc\xa2\xe5\xad\x97 (\xe6\xbc\xa2)");
  EXPECT_EQ(EncodeMailbox(list[0], 'Q', tx8Bit, "UTF-8"), "plain@x.example");
  EXPECT_EQ(EncodeMailbox(list[1], 'Q', tx8Bit, "UTF-8"),
            "\"Jane \\\"JJ\\\" Doe\\\\Sr\" <q@x.example>");
  EXPECT_EQ(EncodeMailboxList(EmailAddressList(), 'Q', tx8Bit, "UTF-8"), "");

  for (char letter : {'Q', 'B'}) {
    HeaderList to;
    to.SetHeader("To", EncodeMailboxList(list, letter, tx8Bit, "UTF-8"));
    const test::ProcessResult r =
        ParseWithPython(Block(to) + "\r\n",
                        "print(len(m.get_all('To')), m.get_all('Bcc'))\n"
                        "for n, a in email.utils.getaddresses([m['To'].replace('\\r\\n', '')]):\n"
                        "    print((text(n) + '|' + a).encode().hex())\n");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::string expected = "1 None\n";
    for (std::size_t i = 0; i < list.count(); ++i) {
      expected += test::ToHex(list[i].name() + "|" + list[i].address()) + "\n";
    }
    EXPECT_EQ(r.out, expected) << Block(to);
  }
}

TEST(BuildHeaderListTest, ClearedMessageHasDatePriorityAndLibrary) {
  Message message;
  const HeaderList h = BuildHeaderList(message, LocaleInfo{"C", "ANSI_X3.4-1968"});
  ASSERT_EQ(h.count(), 3u);
  EXPECT_EQ(h.NameAt(0), "DATE");
  EXPECT_EQ(h.ValueOf("X-Priority"), "3");
  EXPECT_EQ(h[2], "X-Library: TovrelNet 3.31");
}

TEST(BuildHeaderListTest, FieldOrderAndValues) {
  Message m;
  m.from().set_text("Jane <jane@x.example>");
  m.set_subject("Hi");
  m.recipients().LoadFromText("a@x.example, B <b@x.example>");
  m.cc_list().LoadFromText("c@x.example");
  m.bcc_list().LoadFromText("hidden@x.example");
  m.news_groups() = {"comp.lang", "with space", "", "q\"uote"};
  m.set_content_type("text/plain");
  m.parts().AddAttachment("/tmp/file");
  m.set_content_transfer_encoding("8bit");
  m.sender().set_text("Sec <sec@x.example>");
  m.reply_to().LoadFromText("r@x.example");
  m.set_organization("Org");
  m.receipt_recipient().set_text("rr@x.example");
  m.set_references("<id@x>");
  m.set_date(EncodeDateTime(2026, 12, 6, 12, 21, 49));
  m.set_priority(mpHighest);
  m.extra_headers().Add("X-Extra: 1");
  const HeaderList h = BuildHeaderList(m, LocaleInfo{"en_US", "UTF-8"});
  std::vector<std::string> names;
  for (std::size_t i = 0; i < h.count(); ++i) names.push_back(h.NameAt(static_cast<int>(i)));
  EXPECT_EQ(names,
            (std::vector<std::string>{"FROM", "SUBJECT", "TO", "CC", "NEWSGROUPS", "CONTENT-TYPE",
                                      "MIME-VERSION", "CONTENT-TRANSFER-ENCODING", "SENDER",
                                      "REPLY-TO", "ORGANIZATION", "DISPOSITION-NOTIFICATION-TO",
                                      "REFERENCES", "DATE", "X-PRIORITY", "X-LIBRARY", "X-EXTRA"}));
  EXPECT_EQ(h.ValueOf("From"), "\"Jane\" <jane@x.example>");
  EXPECT_EQ(h.ValueOf("To"), "a@x.example, \"B\" <b@x.example>");
  EXPECT_EQ(h.ValueOf("Newsgroups"), "comp.lang,\"with space\",\"\",\"q\"\"uote\"");
  EXPECT_EQ(h.ValueOf("Sender"), "Sec <sec@x.example>");
  EXPECT_EQ(h.ValueOf("X-Priority"), "1");
  EXPECT_EQ(h.ValueOf("Date").substr(0, 25), "Sun, 6 Dec 2026 12:21:49 ");
  EXPECT_EQ(Block(h).find("hidden"), std::string::npos);
}

TEST(BuildHeaderListTest, CrLfInSubjectOrganizationOrNameCannotAddFields) {
  Message m;
  m.set_subject("Hello\r\nBcc: x@y");
  m.set_organization("Org\r\n\r\nBody starts here?");
  m.from() = EmailAddress("me@x.example", "Me\nTo: victim@x.example");
  m.recipients().LoadFromText("you@x.example");
  m.set_date(EncodeDateTime(2026, 3, 4, 5, 6, 7));
  for (const char* codeset : {"UTF-8", "ISO-8859-1"}) {
    const HeaderList h = BuildHeaderList(m, LocaleInfo{"en_US", codeset});
    const test::ProcessResult r =
        ParseWithPython(Block(h) + "\r\nbody\r\n",
                        "print(len(m.get_all('Subject')), m.get_all('Bcc'), len(m.get_all('To')))\n"
                        "print(repr(text(m['Subject'])), repr(text(m['Organization'])))\n"
                        "name = email.utils.getaddresses([m['From'].replace('\\r\\n', '')])[0][0]\n"
                        "print(repr(text(name)), m.get_payload().strip())\n");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out,
              "1 None 1\n'Hello\\r\\nBcc: x@y' 'Org\\r\\n\\r\\nBody starts here?'\n"
              "'Me\\nTo: victim@x.example' body\n")
        << Block(h);
  }
}

// Folding breaks only at blanks, so one long word must not give a line beyond 998 octets; words
// short enough to fit keep their plain form.
TEST(BuildHeaderListTest, NoHeaderLineExceeds998OctetsAndLongWordsDecodeBack) {
  const std::string fits(900, 'f');
  const std::string word(32768, 'w');
  Message m;
  m.set_subject(fits + " " + word + " end");
  m.set_organization(std::string(5000, 'o'));
  m.from() = EmailAddress("me@x.example", std::string(3000, 'n'));
  m.recipients().LoadFromText("you@x.example");
  m.set_date(EncodeDateTime(2026, 3, 4, 5, 6, 7));
  const HeaderList h = BuildHeaderList(m, LocaleInfo{"en_US", "UTF-8"});
  const std::string block = Block(h);
  std::size_t start = 0;
  for (std::size_t end; (end = block.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 998u) << block.substr(start, 60);
  }
  EXPECT_NE(block.find(" " + fits + "\r\n"), std::string::npos);  // the word that fits
  const test::ProcessResult r = ParseWithPython(
      block + "\r\nbody\r\n",
      "print(len(text(m['Subject'])), text(m['Subject']).split(' ')[2])\n"
      "print(len(text(m['Organization'])))\n"
      "print(len(text(email.utils.getaddresses([m['From'].replace('\\r\\n', '')])[0][0])))\n");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, std::to_string(900 + 1 + 32768 + 4) + " end\n5000\n3000\n");
}

// A fold right after the field's name leaves a blank in front of the text for every reader:
// the first encoded word shares the name's line, which stays within 76 characters.
TEST(BuildHeaderListTest, TheFirstEncodedWordSharesTheLineOfTheFieldsName) {
  std::string japanese;
  for (int i = 0; i < 36; ++i) japanese += "\xe6\x97\xa5";  // 36 characters, no blank
  const std::string name = "J\u00fcrgen M\u00fcller-L\u00fcdenscheid " + japanese;
  Message m;
  m.set_subject(japanese);
  m.set_organization(japanese);
  m.from() = EmailAddress("me@x.example", name);
  m.recipients().AddItem() = EmailAddress("you@x.example", name);
  m.set_date(EncodeDateTime(2026, 3, 4, 5, 6, 7));
  for (const char* language : {"ja_JP", "de_DE"}) {  // B and Q words
    const HeaderList h = BuildHeaderList(m, LocaleInfo{language, "UTF-8"});
    for (const char* field : {"From", "Subject", "To", "Organization"}) {
      EXPECT_NE(h[std::size_t(h.IndexOfHeader(field))].find("=?UTF-8?"), std::string::npos);
    }
    for (const std::string& line : h) EXPECT_LE(line.size(), 76u) << line;
    const test::ProcessResult r = ParseWithPython(
        Block(h) + "\r\nbody\r\n",
        "from email import policy\n"
        "d = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=policy.default)\n"
        "for f in ('Subject', 'Organization'): print(str(d[f]).encode().hex())\n"
        "for f in ('From', 'To'):\n"
        "    n = email.utils.getaddresses([m[f].replace('\\r\\n', '')])[0][0]\n"
        "    print(text(n).encode().hex())\n");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, test::ToHex(japanese) + "\n" + test::ToHex(japanese) + "\n" +
                         test::ToHex(name) + "\n" + test::ToHex(name) + "\n")
        << Block(h);
  }
}

TEST(BuildHeaderListTest, HostileBytesNeverBreakTheBlock) {
  std::mt19937 rng(13);
  for (int round = 0; round < 200; ++round) {
    Message m;
    auto random_text = [&] {
      std::string s(rng() % 120, '\0');
      for (char& c : s) c = static_cast<char>(rng() % 256);
      return s;
    };
    m.set_subject(random_text());
    m.set_organization(random_text());
    m.from() = EmailAddress(random_text(), random_text());
    m.recipients().LoadFromText(random_text());
    m.set_date(1.5);
    for (const char* codeset : {"UTF-8", "SHIFT_JIS", "BIG5"}) {
      const LocaleInfo locale{codeset[0] == 'S' ? "ja_JP" : "zh_TW", codeset};
      const HeaderList h = BuildHeaderList(m, locale);
      for (const std::string& line : h) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos);
        ASSERT_NE(line.find_first_not_of(" \t"), std::string::npos);
      }
      // (Under Shift_JIS unmappable bytes are dropped, which may leave nothing to write.)
      if (locale.codeset != "SHIFT_JIS") {
        EXPECT_EQ(h.IndexOfHeader("Subject") >= 0, !m.subject().empty());
      }
    }
  }
}

}  // namespace
}  // namespace tovrel::message
