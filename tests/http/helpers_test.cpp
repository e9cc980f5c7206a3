// The client's helpers: the header line list, form encoding and the base64 of credentials,
// judged by Python's own decoders where a real tool can judge.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form_decoder.h"
#include "http/ex_string_list.h"
#include "http/url_encoder.h"
#include "http/uu_processor.h"
#include "support/test_support.h"

namespace tovrel::http {
namespace {

TEST(ExStringList, FindHeaderIgnoresCaseAndLinesWithoutColon) {
  ExStringList list;
  list.Add("GET / HTTP/1.0");
  list.Add("Host: a.example");
  list.Add("X-Empty:");
  list.Add("host: second");
  EXPECT_EQ(list.FindHeader("HOST"), 1);
  EXPECT_EQ(list.FindHeader("x-empty"), 2);
  EXPECT_EQ(list.FindHeader("Hos"), -1);
  EXPECT_EQ(list.FindHeader("GET / HTTP/1.0"), -1);
  EXPECT_EQ(list.FindHeader(""), -1);
}

TEST(ExStringList, SetHeaderValueReplacesAddsAndDeletes) {
  ExStringList list;
  list.Add("Host: old");
  list.Add("Accept: */*");
  list.SetHeaderValue("HOST", "new.example");
  EXPECT_EQ(list.lines(), (std::vector<std::string>{"HOST: new.example", "Accept: */*"}));
  list.SetHeaderValue("Cookie", "a=1");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "Cookie: a=1");
  list.SetHeaderValue("host", "");
  EXPECT_EQ(list.lines(), (std::vector<std::string>{"Accept: */*", "Cookie: a=1"}));
  list.SetHeaderValue("Missing", "");  // deleting what is not there changes nothing
  EXPECT_EQ(list.Count(), 2);
}

TEST(ExStringList, SortedListFindsByBisection) {
  ExStringList list;
  list.set_sorted(true);
  // Names chosen so that ordering whole lines would differ from ordering names ("A-B" < "A:").
  for (const char* line : {"Zeta: 1", "A-B: 2", "a: 3", "Mid: 4", "no colon here", "B: 5"}) {
    list.Add(line);
  }
  for (const auto& [name, expected] :
       std::vector<std::pair<std::string, std::string>>{{"zeta", "Zeta: 1"},
                                                        {"A-B", "A-B: 2"},
                                                        {"A", "a: 3"},
                                                        {"mid", "Mid: 4"},
                                                        {"b", "B: 5"}}) {
    const int index = list.FindHeader(name);
    ASSERT_GE(index, 0) << name;
    EXPECT_EQ(list[index], expected);
  }
  EXPECT_EQ(list.FindHeader("no colon here"), -1);
  EXPECT_EQ(list.FindHeader("C"), -1);
  list.SetHeaderValue("Aa", "6");
  EXPECT_EQ(list[list.FindHeader("AA")], "Aa: 6");
  for (int i = 1; i < list.Count(); ++i) {
    const std::string previous = list[i - 1].substr(0, list[i - 1].find(':'));
    const std::string current = list[i].substr(0, list[i].find(':'));
    EXPECT_LE(strcasecmp(previous.c_str(), current.c_str()), 0) << previous << " " << current;
  }
}

TEST(ExStringList, DeleteOutsideTheListIsRefused) {
  ExStringList list;
  list.Add("A: 1");
  EXPECT_THROW(list.Delete(1), std::out_of_range);
  EXPECT_THROW(list.Delete(-1), std::out_of_range);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(UrlEncoder, EveryByteSurvivesARealFormDecoder) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += char(i);
  all += "a b  c";
  UrlEncoder encoder;
  const std::string encoded = encoder.EncodeInput(all);
  for (const char c : encoded) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '%';
    EXPECT_TRUE(allowed) << int(c);
  }
  EXPECT_EQ(test::PythonFormDecode(encoded), all);
}

TEST(UrlEncoder, UpperCaseHexAndTheInputStringProperty) {
  UrlEncoder encoder;
  encoder.set_input_string("x=\xfe\x0a~");
  EXPECT_EQ(encoder.Encode(), "x%3D%FE%0A%7E");
  EXPECT_EQ(encoder.EncodeInput(""), "");
}

// Each line must be what Python's base64 makes of the same 45 bytes.
TEST(UUProcessor, LinesOfFortyFiveBytesMatchPython) {
  for (const std::size_t size : {0, 1, 2, 3, 44, 45, 46, 90, 91, 1000}) {
    const std::string input = test::RandomBytes(size, std::uint32_t(size) + 1);
    const std::string encoded = UUProcessor::EncodeMime(input);
    const test::ProcessResult python = test::RunPython(
        "import sys, base64\n"
        "data = sys.stdin.buffer.read()\n"
        "sys.stdout.write('\\r\\n'.join(base64.b64encode(data[i:i + 45]).decode()"
        " for i in range(0, len(data), 45)))",
        {}, input);
    ASSERT_EQ(python.exit_status, 0) << python.err;
    EXPECT_EQ(encoded, python.out) << size;
  }
}

}  // namespace
}  // namespace tovrel::http
