// The user guide that Help opens: well-formed, every link inside it leads somewhere, and the
// build puts a copy beside the program.

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tovrel::app {
namespace {

TEST(HelpManual, IsWellFormedAndItsLinksResolve) {
  const test::ProcessResult check = test::RunPython(R"(
import html.parser, sys
VOID = {"meta", "br", "hr", "img", "link", "input"}
class Check(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.open, self.ids, self.links, self.problems, self.title = [], set(), [], [], ""
        self.in_title = False
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            if attrs["id"] in self.ids: self.problems.append("duplicate id " + attrs["id"])
            self.ids.add(attrs["id"])
        if tag == "a" and "href" in attrs: self.links.append(attrs["href"])
        if tag == "title": self.in_title = True
        if tag not in VOID: self.open.append(tag)
    def handle_endtag(self, tag):
        if tag == "title": self.in_title = False
        if not self.open or self.open[-1] != tag:
            self.problems.append("unexpected </%s> inside %s" % (tag, self.open[-3:]))
        else:
            self.open.pop()
    def handle_data(self, data):
        if self.in_title: self.title += data
p = Check()
p.feed(open(sys.argv[1], encoding="utf-8").read())
p.close()
if p.open: p.problems.append("unclosed " + ", ".join(p.open))
for link in p.links:
    if link.startswith("#") and link[1:] not in p.ids: p.problems.append("dangling " + link)
if "TovrelMail" not in p.title: p.problems.append("title " + p.title)
if len(p.links) < 5: p.problems.append("no table of contents")
print("\n".join(p.problems))
)",
                                                    {test::SourcePath("data/manual.htm")});
  ASSERT_EQ(check.exit_status, 0) << check.err;
  EXPECT_EQ(check.out, "\n");
}

TEST(HelpManual, BuildPutsACopyBesideTheProgram) {
  EXPECT_EQ(test::ReadFile(test::BuildPath("manual.htm")),
            test::ReadFile(test::SourcePath("data/manual.htm")));
}

// The manual page renders without a single warning, and names every stored value that changes
// how mail is sent.
TEST(HelpManual, ManualPageRendersCleanly) {
  const test::ProcessResult page =
      test::RunProcess({"groff", "-ww", "-man", "-Tutf8", test::SourcePath("data/tovrelmail.1")});
  EXPECT_EQ(page.exit_status, 0);
  EXPECT_EQ(page.err, "");
  // Bold and underlined text come as overstrikes (a character, a backspace, the character).
  std::string text;
  for (char c : page.out) {
    if (c == '\b' && !text.empty()) {
      text.pop_back();
    } else {
      text.push_back(c);
    }
  }
  for (const char* value :
       {"smtp/security", "smtp/tlsverify", "XDG_CONFIG_HOME", "SSL_CERT_FILE"}) {
    EXPECT_NE(text.find(value), std::string::npos) << value;
  }
}

}  // namespace
}  // namespace tovrel::app
