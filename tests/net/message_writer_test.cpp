// The message text as the writer puts it on a connection, for the shapes the compose window never
// builds (text alternatives, related parts, odd part settings) and for its failure paths.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <regex>
#include <thread>

#include "message/coders/quoted_printable.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/message_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::Peer;

// Runs `write` on a connected writer and returns every byte the peer received.
std::string Written(const std::function<void(MessageClient&)>& write) {
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }});
  MessageClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  try {
    write(client);
  } catch (...) {
    client.Disconnect();
    server.Join();
    throw;
  }
  client.Disconnect();
  return server.Join()[0];
}

std::string Body(const std::string& text) { return text.substr(text.find("\r\n\r\n") + 4); }

// Python's parser's view of a multipart text: one line per leaf part, "type<TAB>hex payload".
std::string ParsedParts(const std::string& text) {
  test::ProcessResult result = test::RunPython(R"PY(
import email, sys
from email import policy
msg = email.message_from_bytes(sys.stdin.buffer.read(), policy=policy.default)
for part in msg.walk():
    if not part.is_multipart():
        print(part.get_content_type(), part.get_payload(decode=True).hex(), sep='\t')
print('defects', sum(len(p.defects) for p in msg.walk()), sep='\t')
)PY",
                                               {}, text);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

TEST(MessageWriter, PlainBodyIsDotStuffedOnTheWireOnly) {
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = {".", "..", "text", ".x"};
  const std::string text = Written([&](MessageClient& c) { c.WriteMessage(message); });
  EXPECT_EQ(Body(text), "..\r\n...\r\ntext\r\n..x\r\n");
  EXPECT_EQ(message.body(), (message::StringList{".", "..", "text", ".x"}));
  EXPECT_EQ(text.find("MIME-Version"), std::string::npos);
}

// What a reader makes of the body text: the first text/plain leaf, decoded with the character
// set the message declares, as "charset<TAB>text" (the text in UTF-8).
std::string ReadBodyText(const std::string& text) {
  test::ProcessResult result = test::RunPython(R"PY(
import email, sys
from email import policy
msg = email.message_from_bytes(sys.stdin.buffer.read(), policy=policy.default)
part = next(p for p in msg.walk() if p.get_content_type() == 'text/plain')
charset = part.get_content_charset() or 'none'
sys.stdout.buffer.write(charset.encode() + b'\t' + part.get_content().encode('utf-8'))
)PY",
                                               {}, text);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

TEST(MessageWriter, EightBitBodyOfAUtf8LocaleIsDeclared) {
  test::TempDir dir;
  const std::string file = dir.File("a.bin");
  test::WriteFile(file, "xyz");
  const std::string typed =
      "Gr\xC3\xBC\xC3\x9F"
      "e aus K\xC3\xB6ln";  // as Qt hands over UTF-8
  for (const bool with_attachment : {false, true}) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.body() = {typed, ".end"};
    if (with_attachment) message.parts().AddAttachment(file);
    const std::string text = Written([&](MessageClient& c) {
      c.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
      c.WriteMessage(message);
    });
    EXPECT_EQ(ReadBodyText(text), "utf-8\t" + typed + "\r\n..end\r\n") << with_attachment;
    EXPECT_NE(text.find("MIME-Version: 1.0\r\n"), std::string::npos);
    EXPECT_NE(ParsedParts(text).find("defects\t0"), std::string::npos) << text;
  }

  // Plain ASCII keeps the bare header block, and a locale that is not UTF-8 declares nothing.
  for (const auto& [locale, body] :
       {std::pair{"de_DE.UTF-8", "plain text"}, std::pair{"de_DE.ISO-8859-1",
                                                          "Gr\xFC\xDF"
                                                          "e"}}) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.body() = {body};
    const std::string text = Written([&](MessageClient& c) {
      c.set_locale(message::LocaleInfoFromName(locale));
      c.WriteMessage(message);
    });
    EXPECT_EQ(text.find("MIME-Version"), std::string::npos) << locale;
    EXPECT_EQ(text.find("Content-Type"), std::string::npos) << locale;
    EXPECT_EQ(Body(text), std::string(body) + "\r\n") << locale;
  }
}

TEST(MessageWriter, TwoTextPartsWithoutAttachments) {
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = {"never written"};
  const std::string long_line(5000, 'q');
  message::StringList plain = {"Hello =", ".dot first", long_line};
  message::StringList html = {"<p>caf\xE9</p>"};
  message.parts().AddTextPart(&plain);
  message.parts().AddTextPart(&html).set_content_type("text/html");
  const std::string text = Written([&](MessageClient& c) { c.WriteMessage(message); });
  EXPECT_EQ(text.find("never written"), std::string::npos);
  EXPECT_EQ(text.find("Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n--=_NextPart_2jgjjvttfbfuj88oamz1inn\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n--=_NextPart_2jgjjvttfbfuj88oamz1inn--\r\n"), std::string::npos);
  EXPECT_NE(text.find("Content-Type: multipart/alternative; boundary=\"" +
                      std::string(message::kMixedBoundary) + "\";"),
            std::string::npos);
  const std::string parsed = ParsedParts(text);
  EXPECT_NE(
      parsed.find("text/plain\t" + test::ToHex("Hello =\r\n..dot first\r\n" + long_line + "\r\n")),
      std::string::npos)
      << parsed;
  EXPECT_NE(parsed.find("text/html\t" + test::ToHex("<p>caf\xE9</p>\r\n")), std::string::npos)
      << parsed;
  EXPECT_NE(parsed.find("defects\t0"), std::string::npos) << parsed;
}

TEST(MessageWriter, DotStartingAnEncodersContinuationLineIsDoubled) {
  message::Message message;
  message.from().set_address("a@b.c");
  // A line longer than the encoder's block gets soft line breaks, the first after 75 characters:
  // the second line on the wire starts with the dot.
  message::StringList broken = {std::string(75, 'a') + ".tail" + std::string(5000, 'z')};
  message::StringList other = {"x"};
  message.parts().AddTextPart(&broken);
  message.parts().AddTextPart(&other);
  const std::string text = Written([&](MessageClient& c) { c.WriteMessage(message); });
  EXPECT_NE(text.find("\r\n" + std::string(75, 'a') + "=\r\n..tailzzz"), std::string::npos) << text;
}

TEST(MessageWriter, OneTextPartFailsAfterTheHeaderLines) {
  message::Message message;
  message.from().set_address("a@b.c");
  message.set_subject("single");
  message.parts().AddTextPart();
  std::string text;
  try {
    text = Written([&](MessageClient& c) { c.WriteMessage(message); });
    FAIL() << "no exception";
  } catch (const message::TextInvalidCount& error) {
    EXPECT_STREQ(error.what(), "Invalid Text count. TextPart must be greater than 1");
  }
}

TEST(MessageWriter, AttachmentWithContentIdMakesTheBodyRelated) {
  test::TempDir dir;
  test::WriteFile(dir.File("logo.png"), "PNGDATA");
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = {"see the logo"};
  message::Attachment& logo = message.parts().AddAttachment(dir.File("logo.png"));
  logo.extra_headers().SetHeader("Content-ID", "<logo@here>");
  const std::string text = Written([&](MessageClient& c) { c.WriteMessage(message); });
  const std::string related = "--" + std::string(message::kRelatedBoundary);
  EXPECT_NE(text.find("Content-Type: multipart/related; type=\"multipart/alternative\"; "),
            std::string::npos);
  EXPECT_NE(text.find("\r\n" + related + "\r\nContent-Type: text/plain\r\n"), std::string::npos);
  EXPECT_NE(text.find("filename=\"logo.png\"\r\nContent-ID: <logo@here>\r\n\r\nUE5HREFUQQ==\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n" + related + "--\r\n"), std::string::npos);
}

TEST(MessageWriter, AttachmentPartHeaderVariants) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.txt"), "abc");
  message::Message message;
  message.from().set_address("a@b.c");
  // Capital BASE64 keeps the empty content type.
  message.parts().AddAttachment(dir.File("a.txt")).set_content_transfer("BASE64");
  message::Attachment& typed = message.parts().AddAttachment(dir.File("a.txt"));
  typed.set_content_type("text/plain");
  typed.set_content_disposition("inline");
  const std::string text = Written([&](MessageClient& c) { c.WriteMessage(message); });
  EXPECT_NE(text.find("\r\nContent-Type: ;\r\n        name=\"a.txt\"\r\n"
                      "Content-Transfer-Encoding: BASE64\r\n"
                      "Content-Disposition: attachment;\r\n        filename=\"a.txt\"\r\n\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(
      text.find("\r\nContent-Type: text/plain;\r\n        name=\"a.txt\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: inline;\r\n        filename=\"a.txt\"\r\n\r\nYWJj\r\n\r\n"),
      std::string::npos)
      << text;
  // The defaults go on the wire only.
  EXPECT_EQ(message.parts()[0].content_type(), "");
  EXPECT_EQ(static_cast<message::Attachment&>(message.parts()[0]).content_disposition(), "");
}

TEST(MessageWriter, AttachmentHeaderName) {
  EXPECT_EQ(AttachmentHeaderName("/tmp/dir/report.pdf"), "report.pdf");
  EXPECT_EQ(AttachmentHeaderName("/tmp/dir/"), "");
  EXPECT_EQ(AttachmentHeaderName("plain"), "plain");
  EXPECT_EQ(AttachmentHeaderName("/x/a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(AttachmentHeaderName(std::string("/x/l\r\ni\tn\x7f", 10)), "l__i_n_");
}

TEST(MessageWriter, MissingAttachmentFileFailsBeforeItsHeader) {
  test::TempDir dir;
  test::WriteFile(dir.File("there.bin"), std::string(100, 'x'));
  message::Message message;
  message.from().set_address("a@b.c");
  message.parts().AddAttachment(dir.File("there.bin"));
  message.parts().AddAttachment(dir.File("missing.bin"));
  const auto before = test::SpoolFiles();
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }});
  MessageClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  try {
    client.WriteMessage(message);
    FAIL() << "no exception";
  } catch (const message::FileError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + dir.File("missing.bin"));
  }
  client.Disconnect();
  const std::string text = server.Join()[0];
  EXPECT_EQ(test::SpoolFiles(), before);
  // The first attachment went out whole; the second got its delimiter line only.
  EXPECT_NE(text.find("filename=\"there.bin\""), std::string::npos);
  EXPECT_EQ(text.find("missing.bin"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 38), "--=_NextPart_2jgjjvttfbfuj88oamz1inn\r\n");
}

TEST(MessageWriter, ProgressAndStatusReports) {
  test::TempDir dir;
  test::WriteFile(dir.File("f.bin"), test::RandomBytes(1000, 3));
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = {"x"};
  message.parts().AddAttachment(dir.File("f.bin"));
  std::vector<std::string> statuses;
  int begins = 0;
  int ends = 0;
  Written([&](MessageClient& c) {
    c.set_on_status([&](NetComponent&, ConnectionStatus status, const std::string& text) {
      if (status == ConnectionStatus::stText) statuses.push_back(text);
    });
    c.set_on_work_begin([&](NetComponent&, WorkMode mode, int64_t max) {
      EXPECT_EQ(mode, WorkMode::wkWrite);
      EXPECT_EQ(max, 0);
      ++begins;
    });
    c.set_on_work_end([&](NetComponent&, WorkMode) { ++ends; });
    c.WriteMessage(message);
  });
  EXPECT_EQ(statuses, std::vector<std::string>{"Encoding attachment"});
  // The spool stream's own phase nests inside the body's, so only one phase is seen.
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
}

// Whether every CR on the wire starts a CR LF and every LF ends one.
bool OnlyCrLfLineEnds(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

TEST(MessageWriter, BareLineEndsInsideABodyLineBecomeLineBreaks) {
  struct Case {
    message::StringList body;
    std::string wire;  // the body as it goes out
  };
  const std::vector<Case> cases = {
      {{"a\rb", "c\nd"}, "a\r\nb\r\nc\r\nd\r\n"},
      {{"x\n.\r\nMAIL FROM:<y>", "z"}, "x\r\n..\r\nMAIL FROM:<y>\r\nz\r\n"},
      {{"end\r", "\n.lead"}, "end\r\n\r\n\r\n..lead\r\n"},
  };
  for (const Case& c : cases) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.body() = c.body;
    const std::string text = Written([&](MessageClient& w) { w.WriteMessage(message); });
    EXPECT_EQ(Body(text), c.wire);
    EXPECT_TRUE(OnlyCrLfLineEnds(text)) << text;
  }
  // A text part that no encoder changes goes out the same way.
  message::Message message;
  message.from().set_address("a@b.c");
  message::StringList plain = {"p\n.\nq"};
  message::StringList html = {"<p>"};
  message.parts().AddTextPart(&plain).set_content_transfer("7bit");
  message.parts().AddTextPart(&html).set_content_type("text/html");
  const std::string text = Written([&](MessageClient& w) { w.WriteMessage(message); });
  EXPECT_NE(text.find("Content-Transfer-Encoding: 7bit\r\n\r\np\r\n..\r\nq\r\n"), std::string::npos)
      << text;
  EXPECT_TRUE(OnlyCrLfLineEnds(text)) << text;
}

TEST(MessageWriter, BodyWithControlCharactersGoesQuotedPrintable) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.bin"), "xyz");
  struct Case {
    std::string line;
    bool encoded;
  };
  const std::vector<Case> cases = {
      {std::string("nul\0here", 8), true},
      {"bell\x07", true},
      {"esc\x1b[0m", true},
      {"del\x7f", true},
      {"tab\there and form\ffeed", false},
  };
  for (const Case& c : cases) {
    for (const bool with_attachment : {false, true}) {
      message::Message message;
      message.from().set_address("a@b.c");
      message.body() = {c.line, ".dot"};
      if (with_attachment) message.parts().AddAttachment(dir.File("a.bin"));
      const std::string text = Written([&](MessageClient& w) { w.WriteMessage(message); });
      const std::string label = test::ToHex(c.line) + (with_attachment ? " attached" : "");
      EXPECT_EQ(text.find("Content-Transfer-Encoding: quoted-printable\r\n") != std::string::npos,
                c.encoded)
          << label << "\n"
          << text;
      if (c.encoded) {
        EXPECT_EQ(text.find_first_of(std::string("\0\x07\x1b\x7f", 4)), std::string::npos) << label;
        const std::string parsed = ParsedParts(text);
        // The wire is read here as it is, with the dot-stuffing a server would undo.
        EXPECT_NE(parsed.find("text/plain\t" + test::ToHex(c.line + "\r\n..dot\r\n")),
                  std::string::npos)
            << label << "\n"
            << parsed;
        EXPECT_NE(parsed.find("defects\t0"), std::string::npos) << parsed;
      } else {
        EXPECT_NE(text.find("\r\n" + c.line + "\r\n..dot\r\n"), std::string::npos) << label;
      }
    }
  }
}

// A body that holds the delimiter line cannot end its part early, nor slip in a part of its own:
// that message alone gets a boundary of its own, which the text does not hold.
TEST(MessageWriter, BodyHoldingTheDelimiterGetsABoundaryOfItsOwn) {
  test::TempDir dir;
  const std::string real = test::RandomBytes(300, 8);
  test::WriteFile(dir.File("real.pdf"), real);
  const std::string delimiter = "--" + std::string(message::kMixedBoundary);
  const message::StringList crafted = {
      "Please see the invoice.",
      delimiter,
      "Content-Type: application/octet-stream; name=\"invoice.exe\"",
      "Content-Transfer-Encoding: base64",
      "Content-Disposition: attachment; filename=\"invoice.exe\"",
      "",
      "TVqQAAMAAAAEAAAA",
      delimiter + "--"};
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = crafted;
  message.parts().AddAttachment(dir.File("real.pdf"));
  const std::string first = Written([&](MessageClient& c) { c.WriteMessage(message); });
  const std::string second = Written([&](MessageClient& c) { c.WriteMessage(message); });
  std::string body_text;
  for (const std::string& line : crafted) body_text += line + "\r\n";
  EXPECT_EQ(ParsedParts(first), "text/plain\t" + test::ToHex(body_text) +
                                    "\napplication/octet-stream\t" + test::ToHex(real) +
                                    "\ndefects\t0\n");
  const size_t start = first.find("boundary=\"") + 10;
  const std::string boundary = first.substr(start, first.find('"', start) - start);
  EXPECT_TRUE(boundary.starts_with(message::kMixedBoundary)) << boundary;
  EXPECT_NE(boundary, message::kMixedBoundary);
  EXPECT_EQ(second.find(boundary), std::string::npos);  // not a suffix anyone can foresee
  // A delimiter after a line end inside an entry starts a line on the wire just the same.
  message.body() = {"Please see.\r\n" + delimiter + "--"};
  const std::string joined = Written([&](MessageClient& c) { c.WriteMessage(message); });
  EXPECT_EQ(joined.find("boundary=\"" + std::string(message::kMixedBoundary) + "\""),
            std::string::npos);

  // Text parts are held to the same rule, for the boundary of their own section as well.
  message::StringList plain = {"--" + std::string(message::kAlternativeBoundary) + "--"};
  message::StringList html = {"<p>x</p>"};
  message::Message alternatives;
  alternatives.from().set_address("a@b.c");
  alternatives.parts().AddTextPart(&plain).set_content_transfer("7bit");  // goes out as it is
  alternatives.parts().AddTextPart(&html).set_content_type("text/html");
  alternatives.parts().AddAttachment(dir.File("real.pdf"));
  const std::string parsed =
      ParsedParts(Written([&](MessageClient& c) { c.WriteMessage(alternatives); }));
  EXPECT_NE(parsed.find("text/plain\t" + test::ToHex(plain[0] + "\r\n")), std::string::npos)
      << parsed;
  EXPECT_NE(parsed.find("text/html"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("application/octet-stream\t" + test::ToHex(real)), std::string::npos)
      << parsed;
  EXPECT_NE(parsed.find("defects\t0"), std::string::npos) << parsed;
}

// `count` bytes of text and their lines: lines of up to 79 characters, each ended by LF, every
// seventh one beginning with "." so that stuffing is met on both sides of a block's end.
std::pair<std::string, message::StringList> Filler(size_t count) {
  std::string bytes;
  message::StringList lines;
  while (bytes.size() < count) {
    std::string line(std::min<size_t>(79, count - bytes.size() - 1),
                     static_cast<char>('a' + lines.size() % 26));
    if (lines.size() % 7 == 0 && !line.empty()) line[0] = '.';
    bytes += line + "\n";
    lines.push_back(line);
  }
  return {bytes, lines};
}

// A random boundary suffix (the body holds a delimiter) made the same on both sides.
std::string WithoutBoundarySuffix(const std::string& text) {
  static const std::regex suffix("(jgjjvttfbfuj88oamz1inn)_[0-9a-z]{16}");
  return std::regex_replace(text, suffix, "$1");
}

// A body file goes out byte for byte as its lines held in memory do, and its size is counted the
// same before it goes out: whatever its line ends,
// encoding and line lengths, wherever one of the blocks it is read in ends, with and without
// attachments, in every kind of locale, and from a pipe as from a regular file.
TEST(MessageWriter, BodyFileGoesOutAsItsLinesHeldInMemory) {
  test::TempDir dir;
  const std::string attachment = dir.File("a.bin");
  test::WriteFile(attachment, test::RandomBytes(100, 4));
  struct Case {
    std::string label;
    std::string bytes;
    message::StringList lines;
  };
  std::string e_acute_500;
  for (int i = 0; i < 500; ++i) e_acute_500 += "\xC3\xA9";
  std::vector<Case> cases = {
      {"empty", "", {}},
      {"no final line end", "abc", {"abc"}},
      {"only a line end", "\n", {""}},
      {"line ends of every kind",
       "a\rb\nc\r\nd\r\r\ne\n\rf",
       {"a", "b", "c", "d", "", "e", "", "f"}},
      {"dots", ".\n..\n.x\nx.\n", {".", "..", ".x", "x."}},
      {"long lines",
       std::string(2000, 'x') + "\n" + std::string(998, 'y'),
       {std::string(2000, 'x'), std::string(998, 'y')}},
      {"control characters", "a\x01z\x1b[0m\n", {"a\x01z\x1b[0m"}},
      {"UTF-8 with a byte-order mark",
       "\xEF\xBB\xBF"
       "caf\xC3\xA9\r\n",
       {"caf\xC3\xA9"}},
      {"ISO-8859-1 (a byte-order mark is only text then)",
       "\xEF\xBB\xBF"
       "caf\xE9 \xA3 5\r\n",
       {"\xC3\xAF\xC2\xBB\xC2\xBF"
        "caf\xC3\xA9 \xC2\xA3 5"}},
      {"ISO-8859-1 longer than a line may be once it is UTF-8",
       std::string(500, '\xE9'),
       {e_acute_500}},
      {"delimiter line",
       "--=_NextPart_2jgjjvttfbfuj88oamz1inn\nx",
       {"--=_NextPart_2jgjjvttfbfuj88oamz1inn", "x"}},
  };
  // Where a block of 64 KiB ends: a CR LF cut in two, a UTF-8 character cut after one and after
  // two of its bytes, and the first byte that is not UTF-8 after the first block.
  constexpr size_t kBlock = 64 * 1024;
  const std::pair<size_t, std::pair<std::string, message::StringList>> around_blocks[] = {
      {kBlock - 2, {"z\r\nw", {"z", "w"}}},
      {kBlock - 1, {"\xC3\xA9\n", {"\xC3\xA9"}}},
      {kBlock - 2, {"\xE2\x82\xAC\n.", {"\xE2\x82\xAC", "."}}},
      {kBlock + 10, {"\xE9\n", {"\xC3\xA9"}}},
  };
  for (const auto& [filled, tail] : around_blocks) {
    auto [bytes, lines] = Filler(filled);
    lines.insert(lines.end(), tail.second.begin(), tail.second.end());
    cases.push_back({"block end at " + test::ToHex(tail.first), bytes + tail.first, lines});
  }

  // Line ends of every kind, dots, dashes and 8-bit bytes on both sides of where the 64-byte
  // steps of a pass over the text end.
  Case edges{"64-byte steps", "", {}};
  const char* const kEnds[] = {"\n", "\r\n", "\r"};
  for (size_t length = 60; length <= 68; ++length) {
    std::string line = (length % 2 ? "." : "--") + std::string(length - 4, 'x') + "\xC3\xA9";
    edges.bytes += line + kEnds[length % 3];
    edges.lines.push_back(line);
  }
  cases.push_back(edges);

  const std::string path = dir.File("body.txt");
  const std::string fifo = dir.File("body.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const Case& c : cases) {
    test::WriteFile(path, c.bytes);
    for (const char* locale : {"C", "de_DE.UTF-8", "ja_JP.SJIS"}) {
      for (const bool with_attachment : {false, true}) {
        for (const bool from_pipe : {false, true}) {
          if (from_pipe && c.bytes.size() < kBlock) continue;  // a pipe for the long ones only
          SCOPED_TRACE(c.label + " " + locale + (with_attachment ? " attached" : "") +
                       (from_pipe ? " pipe" : ""));
          auto write = [&](bool from_file) {
            message::Message message;
            message.from().set_address("a@b.c");
            message.set_date(46000.5);
            if (from_file) {
              message.set_body_file(from_pipe ? fifo : path);
            } else {
              message.body() = c.lines;
            }
            if (with_attachment) message.parts().AddAttachment(attachment);
            std::optional<test::FifoFeeder> feeder;
            if (from_file && from_pipe) feeder.emplace(fifo, c.bytes);
            int64_t size = 0;
            const std::string text = Written([&](MessageClient& w) {
              w.set_locale(message::LocaleInfoFromName(locale));
              const BodyLayout layout = w.LayOutBody(message);
              size = w.MessageSize(message, std::nullopt, layout);
              w.WriteMessage(message, std::nullopt, layout);
            });
            return std::pair(WithoutBoundarySuffix(text), size);
          };
          const auto held = write(false);
          const auto streamed = write(true);
          EXPECT_EQ(streamed.first, held.first);
          // The size announced before the text, as the same lines held in memory give it.
          EXPECT_EQ(streamed.second, held.second);
        }
      }
    }
  }
}

// What the writer writes, kept without a connection, with the longest single write.
class KeepingWriter : public MessageClient {
 public:
  void WriteText(std::string_view text) override {
    text_.append(text);
    longest_ = std::max(longest_, text.size());
  }
  std::string text_;
  size_t longest_ = 0;
};

// A body line of megabytes (escapes and blanks in it, no line end after it) goes out
// quoted-printable in blocks: no write holds more than a block, the text decodes back to the
// line, and the size announced before is the size written.
TEST(MessageWriter, ALineOfMegabytesGoesOutInBlocks) {
  test::TempDir dir;
  std::string line = test::RandomBytes(6 << 20, 9);
  constexpr char kBytes[] = "\0a= x\t";
  for (char& c : line) c = kBytes[static_cast<unsigned char>(c) % (sizeof kBytes - 1)];
  line.back() = 'z';
  message::Message message;
  message.from().set_address("a@b.c");
  message.set_body_file(dir.File("body.txt"));
  test::WriteFile(message.body_file(), "first\n" + line);
  KeepingWriter writer;
  const BodyLayout layout = writer.LayOutBody(message);
  const int64_t size = writer.MessageSize(message, std::nullopt, layout);
  writer.WriteMessage(message, std::nullopt, layout);
  EXPECT_EQ(size, static_cast<int64_t>(writer.text_.size()));
  EXPECT_LE(writer.longest_, 1u << 20);
  message::QuotedPrintableDecoder decoder;
  std::string decoded;
  decoder.Feed(Body(writer.text_), decoded);
  decoder.FinishInput(decoded);
  EXPECT_TRUE(decoded == "first\r\n" + line + "\r\n");
}

// The size announced before the text is the bytes written, dots of the stuffing included, for
// every shape of message: each one's lines begin with "." somewhere.
TEST(MessageWriter, SizeIsTheBytesWrittenForEveryShape) {
  test::TempDir dir;
  // 14 bytes make a last UU or XX line whose length character is ".".
  test::WriteFile(dir.File("a.bin"), "fourteen bytes");
  test::WriteFile(dir.File("body.txt"), ".one\n..two\nthree\n.\n");
  test::WriteFile(dir.File("coded.txt"), ".one\x01\n.\n");
  const message::StringList dotted = {".a", "b\n.c", std::string(1200, 'x'), "\xE9."};
  struct Shape {
    const char* label;
    std::function<void(message::Message&)> build;
  };
  const Shape shapes[] = {
      {"body", [&](message::Message& m) { m.body() = dotted; }},
      {"body file as typed", [&](message::Message& m) { m.set_body_file(dir.File("body.txt")); }},
      {"body file coded", [&](message::Message& m) { m.set_body_file(dir.File("coded.txt")); }},
      {"alternatives with attachments",
       [&](message::Message& m) {
         m.parts().AddTextPart(&dotted);
         m.parts().AddTextPart(&dotted).set_content_transfer("quoted-printable");
         m.parts().AddAttachment(dir.File("a.bin")).set_content_transfer("x-uu");
         m.parts().AddAttachment(dir.File("a.bin")).extra_headers().Add("Content-ID: <x>");
       }},
      {"text parts", [&](message::Message& m) {
         m.parts().AddTextPart(&dotted).set_content_transfer("x-xx");
         m.parts().AddTextPart(&dotted).set_content_type("text/html");
       }}};
  for (const Shape& shape : shapes) {
    for (const char* locale : {"de_DE.UTF-8", "ja_JP.SJIS"}) {
      message::Message message;
      message.from().set_address("a@b.c");
      shape.build(message);
      KeepingWriter writer;
      writer.set_locale(message::LocaleInfoFromName(locale));
      writer.set_eight_bit_allowed(false);
      const MessagePlan plan = writer.PlanMessage(message, "agent", writer.LayOutBody(message));
      const int64_t size = writer.MessageSize(plan);
      writer.WriteMessage(plan);
      EXPECT_EQ(size, static_cast<int64_t>(writer.text_.size())) << shape.label << " " << locale;
      EXPECT_NE(writer.text_.find("\r\n.."), std::string::npos) << shape.label;
      // An encoder's output joins the text held around it, stuffed all the same.
      if (std::string_view(shape.label) == "alternatives with attachments") {
        EXPECT_NE(writer.text_.find("\r\n..9F]U<G1E96X@8GET97,"), std::string::npos);
      }
    }
  }
}

}  // namespace
}  // namespace tovrel::net
