// Delivery to a real SMTP server (aiosmtpd, requiring AUTH LOGIN); what it stored is judged by
// Python's email parser.

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "message/locale_info.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::AiosmtpdServer;

// Prints what the parser makes of the stored message, one fact per line, tab-separated. Text is
// printed as hex so that every byte survives.
constexpr char kJudge[] = R"PY(
import email, sys
from email import policy
raw = open(sys.argv[1], 'rb').read()
msg = email.message_from_bytes(raw, policy=policy.default)
for name in ('From', 'To', 'Cc', 'Bcc', 'Subject', 'MIME-Version', 'X-Mailer', 'X-Priority',
             'X-Library'):
    if msg[name] is not None:
        print('header\t%s\t%s' % (name, msg[name]))
print('headers\t%d' % len(msg.keys()))
print('defects\t%d' % sum(len(part.defects) for part in msg.walk()))
print('multipart\t%d' % msg.is_multipart())
files = sys.argv[2:]
index = 0
for part in msg.walk():
    if part.is_multipart():
        continue
    if part.get_content_disposition() == 'attachment':
        data = part.get_payload(decode=True)
        same = index < len(files) and open(files[index], 'rb').read() == data
        lengths = [len(l) for l in part.get_payload(decode=False).split('\r\n')]
        print('attachment\t%s\t%s\t%s\t%d\t%d\t%s' % (
            part.get_filename(), part.get_content_type(), part['Content-Transfer-Encoding'],
            len(data), same, ','.join(map(str, lengths)) if len(data) < 1000 else '-'))
        index += 1
    else:
        print('text\t%s\t%s' % (part.get_content_type(), part.get_payload(decode=True).hex()))
)PY";

struct Judgement {
  std::map<std::string, std::string> headers;
  int header_count = -1;
  int defects = -1;
  bool multipart = false;
  std::vector<std::string> text;  // content type, then the bytes
  std::vector<std::vector<std::string>> attachments;
};

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, separator)) fields.push_back(field);
  return fields;
}

Judgement Judge(const test::ReceivedMail& mail, const std::vector<std::string>& files) {
  std::vector<std::string> args = {mail.data_path};
  args.insert(args.end(), files.begin(), files.end());
  test::ProcessResult result = test::RunPython(kJudge, args);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  Judgement judgement;
  std::stringstream out(result.out);
  std::string line;
  while (std::getline(out, line)) {
    std::vector<std::string> f = Split(line, '\t');
    if (f[0] == "header") judgement.headers[f[1]] = f.size() > 2 ? f[2] : "";
    if (f[0] == "headers") judgement.header_count = std::stoi(f[1]);
    if (f[0] == "defects") judgement.defects = std::stoi(f[1]);
    if (f[0] == "multipart") judgement.multipart = f[1] == "1";
    if (f[0] == "text") judgement.text = {f[1], test::FromHex(f.size() > 2 ? f[2] : "")};
    if (f[0] == "attachment") judgement.attachments.push_back({f.begin() + 1, f.end()});
  }
  return judgement;
}

class RealServer : public ::testing::Test {
 protected:
  RealServer() : server_(AiosmtpdServer::Options{"jane", "pa ss:word"}) {}

  void ConnectClient() {
    client_.set_host("127.0.0.1");
    client_.set_port(server_.port());
    client_.set_authentication_type(AuthenticationType::atLogin);
    client_.set_user_id("jane");
    client_.set_password("pa ss:word");
    client_.set_mail_agent("TovrelMail 3.3");
    client_.Connect();
  }

  static void Address(message::Message& message) {
    message.from().set_address("alice@example.org");
    message.from().set_name("Alice \"Al\" Liddell");
    message.recipients().AddItem() = message::EmailAddress("bob@example.org", "Bob");
    message.recipients().AddItem().set_address("carol@example.org");
    message.cc_list().AddItem().set_address("dave@example.org");
    message.bcc_list().AddItem().set_address("eve@example.org");
  }

  AiosmtpdServer server_;
  SmtpClient client_;
  test::TempDir dir_;
};

const message::StringList kDottedBody = {"Dear Bob,",    ".", ".. two dots",
                                         ".leading dot", "",  "end."};

std::string Joined(const message::StringList& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

TEST_F(RealServer, PlainMessage) {
  ConnectClient();
  message::Message message;
  Address(message);
  message.set_subject("Plain greetings");
  message.body() = kDottedBody;
  client_.Send(message);
  client_.Disconnect();

  const auto mails = server_.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].mail_from, "alice@example.org");
  EXPECT_EQ(mails[0].rcpt_tos, (std::vector<std::string>{"bob@example.org", "carol@example.org",
                                                         "dave@example.org", "eve@example.org"}));
  EXPECT_EQ(mails[0].auth_user, "jane");
  const Judgement j = Judge(mails[0], {});
  EXPECT_EQ(j.defects, 0);
  EXPECT_FALSE(j.multipart);
  EXPECT_EQ(j.headers.at("From"), "\"Alice \\\"Al\\\" Liddell\" <alice@example.org>");
  // The parser drops quotes that are not needed; the raw header keeps them.
  EXPECT_EQ(j.headers.at("To"), "Bob <bob@example.org>, carol@example.org");
  EXPECT_NE(mails[0].data.find("\r\nTo: \"Bob\" <bob@example.org>, carol@example.org\r\n"),
            std::string::npos);
  EXPECT_EQ(j.headers.at("Cc"), "dave@example.org");
  EXPECT_EQ(j.headers.count("Bcc"), 0u);
  EXPECT_EQ(j.headers.at("Subject"), "Plain greetings");
  EXPECT_EQ(j.headers.at("X-Mailer"), "TovrelMail 3.3");
  EXPECT_EQ(j.headers.at("X-Priority"), "3");
  EXPECT_EQ(j.headers.count("MIME-Version"), 0u);
  ASSERT_EQ(j.text.size(), 2u);
  EXPECT_EQ(j.text[1], Joined(kDottedBody));
}

TEST_F(RealServer, AttachmentsArriveByteForByte) {
  std::vector<std::string> files;
  const std::vector<size_t> sizes = {0, 57, 58, 5 * 1024 * 1024};
  for (size_t i = 0; i < sizes.size(); ++i) {
    files.push_back(dir_.File("file" + std::to_string(i) + ".bin"));
    test::WriteFile(files.back(), test::RandomBytes(sizes[i], 100 + static_cast<uint32_t>(i)));
  }
  ConnectClient();
  message::Message message;
  Address(message);
  message.set_subject("With attachments");
  message.body() = kDottedBody;
  for (const std::string& file : files) message.parts().AddAttachment(file);
  client_.Send(message);
  client_.Disconnect();

  const auto mails = server_.WaitForMessages(1, std::chrono::seconds(60));
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].auth_user, "jane");
  const Judgement j = Judge(mails[0], files);
  EXPECT_EQ(j.defects, 0);
  EXPECT_TRUE(j.multipart);
  EXPECT_EQ(j.headers.at("MIME-Version"), "1.0");
  ASSERT_EQ(j.text.size(), 2u);
  EXPECT_EQ(j.text[0], "text/plain");
  EXPECT_EQ(j.text[1], Joined(kDottedBody));
  ASSERT_EQ(j.attachments.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& a = j.attachments[i];
    EXPECT_EQ(a[0], "file" + std::to_string(i) + ".bin");
    EXPECT_EQ(a[1], "application/octet-stream");
    EXPECT_EQ(a[2], "base64");
    EXPECT_EQ(a[3], std::to_string(sizes[i]));
    EXPECT_EQ(a[4], "1") << "attachment " << i << " differs";
  }
  // Encoded line lengths: one 76-character line per 57 bytes, the rest on a last short line,
  // then the empty line that closes the part.
  EXPECT_EQ(j.attachments[0][5], "0,0");
  EXPECT_EQ(j.attachments[1][5], "76,0,0");
  EXPECT_EQ(j.attachments[2][5], "76,4,0,0");
  // The raw text has no line longer than 76 characters in the attachments.
  size_t longest = 0;
  size_t start = mails[0].data.find("\r\n\r\n");
  for (size_t at = start; at < mails[0].data.size();) {
    size_t end = mails[0].data.find("\r\n", at);
    if (end == std::string::npos) break;
    longest = std::max(longest, end - at);
    at = end + 2;
  }
  EXPECT_LE(longest, 78u);
}

TEST_F(RealServer, AwkwardFileNameKeepsTheHeaderWellFormed) {
  const std::string name = "we\"ird\\na\rme\x01.txt";
  const std::string file = dir_.File(name);
  test::WriteFile(file, "contents\n");
  ConnectClient();
  message::Message message;
  Address(message);
  message.body() = {"see attached"};
  message.parts().AddAttachment(file);
  client_.Send(message);
  client_.Disconnect();
  const auto mails = server_.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  const Judgement j = Judge(mails[0], {file});
  EXPECT_EQ(j.defects, 0);
  ASSERT_EQ(j.attachments.size(), 1u);
  EXPECT_EQ(j.attachments[0][0], "we\"ird\\na_me_.txt");
  EXPECT_EQ(j.attachments[0][4], "1");
}

TEST_F(RealServer, TwoMessagesOnOneConnection) {
  ConnectClient();
  for (int i = 0; i < 2; ++i) {
    message::Message message;
    Address(message);
    message.set_subject("Number " + std::to_string(i));
    message.body() = {"line " + std::to_string(i)};
    client_.Send(message);
  }
  client_.Disconnect();
  const auto mails = server_.WaitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const Judgement j = Judge(mails[i], {});
    EXPECT_EQ(j.headers.at("Subject"), "Number " + std::to_string(i));
    EXPECT_EQ(j.text[1], "line " + std::to_string(i) + "\r\n");
    EXPECT_EQ(mails[i].auth_user, "jane");
  }
}

// "Grüße" in UTF-8.
const std::string kGreeting = std::string("Gr\xC3\xBC\xC3\x9F") + "e";

// The lines of the message body (after the header block) longer than `limit`.
size_t LinesLongerThan(const std::string& data, size_t limit) {
  size_t count = 0;
  for (size_t at = data.find("\r\n\r\n") + 4; at < data.size();) {
    const size_t end = data.find("\r\n", at);
    if (end == std::string::npos) break;
    count += end - at > limit ? 1 : 0;
    at = end + 2;
  }
  return count;
}

TEST_F(RealServer, LongLinesGoQuotedPrintableAndArriveWhole) {
  std::string words;
  while (words.size() < 100000) words += "The quick = brown fox, ~ caf\xC3\xA9 jumps. ";
  const message::StringList body = {kGreeting, words.substr(0, 3000),
                                    ".lead " + words.substr(0, 99994), "end "};
  const std::string file = dir_.File("a.bin");
  test::WriteFile(file, test::RandomBytes(1000, 7));
  client_.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
  ConnectClient();
  for (const bool with_attachment : {false, true}) {
    message::Message message;
    Address(message);
    message.body() = body;
    if (with_attachment) message.parts().AddAttachment(file);
    client_.Send(message);
  }
  client_.Disconnect();
  const auto mails = server_.WaitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const Judgement j = Judge(mails[i], {file});
    EXPECT_EQ(j.defects, 0);
    ASSERT_EQ(j.text.size(), 2u);
    EXPECT_EQ(j.text[0], "text/plain");
    EXPECT_TRUE(j.text[1] == Joined(body)) << "body differs in message " << i;
    EXPECT_NE(mails[i].data.find("Content-Transfer-Encoding: quoted-printable\r\n"),
              std::string::npos);
    EXPECT_EQ(LinesLongerThan(mails[i].data, 76), 0u);
  }
  EXPECT_EQ(Judge(mails[1], {file}).attachments.at(0).at(4), "1");
}

// For every attachment: its file name as UTF-8 in hex, as a reader of today and as an older one
// (the quoted name= of Content-Type, encoded words decoded) read it, and the defects of the
// whole message.
constexpr char kFileNames[] = R"PY(
import email, re, sys
from email import policy
from email.header import decode_header, make_header
data = open(sys.argv[1], 'rb').read()
msg = email.message_from_bytes(data, policy=policy.default)
for part in msg.walk():
    if part.get_content_disposition() == 'attachment':
        print(part.get_filename().encode('utf-8').hex())
for part in email.message_from_bytes(data).walk():
    if (part.get('Content-Disposition') or '').startswith('attachment'):
        quoted = re.search(r'\bname="([^"]*)"', part['Content-Type'])
        print(str(make_header(decode_header(quoted.group(1)))).encode().hex() if quoted else '-')
print('defects', sum(len(part.defects) for part in msg.walk()))
)PY";

TEST_F(RealServer, FileNamesBeyondAsciiReadBack) {
  struct Case {
    std::string name;  // on disk
    std::string read;  // as a reader names it, in UTF-8
  };
  const std::vector<Case> cases = {
      {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
      {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",
       "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE6\x96\x87\xE6\x9B\xB8.txt",
       "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE6\x96\x87\xE6\x9B\xB8.txt"},
      {"\xF0\x9F\x98\x80 (smile); 100%.txt", "\xF0\x9F\x98\x80 (smile); 100%.txt"},
      {"caf\xE9.txt", "caf\xC3\xA9.txt"},
      {"=?utf-8?q?x?=.txt", "=?utf-8?q?x?=.txt"},
      {"plain name.txt", "plain name.txt"},
  };
  client_.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
  ConnectClient();
  message::Message message;
  Address(message);
  message.body() = {kGreeting};  // 8-bit text, announced to the server
  for (const Case& c : cases) {
    test::WriteFile(dir_.File(c.name), "x");
    message.parts().AddAttachment(dir_.File(c.name));
  }
  client_.Send(message);
  client_.Disconnect();
  const auto mails = server_.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  const test::ProcessResult result = test::RunPython(kFileNames, {mails[0].data_path});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  std::string expected;
  for (const Case& c : cases) expected += test::ToHex(c.read) + "\n";
  for (const Case& c : cases) expected += test::ToHex(c.read) + "\n";
  EXPECT_EQ(result.out, expected + "defects 0\n");
  EXPECT_NE(mails[0].data.find("\r\n" + kGreeting + "\r\n"), std::string::npos);
  EXPECT_NE(mails[0].data.find("\r\n        filename*=ISO-8859-1''caf%E9.txt\r\n"),
            std::string::npos);
}

// The payload of every attachment as uudecode reads it (XX text translated to the UU alphabet),
// one file per attachment in the folder given.
constexpr char kUuPayloads[] = R"PY(
import email, sys
from email import policy
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=policy.default)
uu = '`' + ''.join(chr(c) for c in range(33, 96))
xx = '+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
index = 0
for part in msg.walk():
    if part.get_content_disposition() != 'attachment':
        continue
    text = part.get_payload(decode=False)
    if part['Content-Transfer-Encoding'] == 'x-xx':
        lines = text.split('\r\n')
        data = [l if l == 'end' else l.translate(str.maketrans(xx, uu)) for l in lines[1:]]
        text = '\r\n'.join([lines[0]] + data)
    open('%s/payload%d' % (sys.argv[2], index), 'w').write(text)
    index += 1
print(index)
)PY";

TEST_F(RealServer, UuAndXxAttachmentsDecode) {
  const std::vector<size_t> sizes = {0, 14, 61, 100 * 1024};
  std::vector<std::string> files;
  ConnectClient();
  message::Message message;
  Address(message);
  message.body() = {"see attached"};
  for (const char* encoding : {"x-uu", "x-xx"}) {
    for (size_t size : sizes) {
      files.push_back(dir_.File(std::string(encoding) + std::to_string(size) + ".bin"));
      test::WriteFile(files.back(), test::RandomBytes(size, static_cast<uint32_t>(size)));
      message.parts().AddAttachment(files.back()).set_content_transfer(encoding);
    }
  }
  client_.Send(message);
  client_.Disconnect();
  const auto mails = server_.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  test::TempDir out;
  const test::ProcessResult payloads =
      test::RunPython(kUuPayloads, {mails[0].data_path, out.path()});
  ASSERT_EQ(payloads.exit_status, 0) << payloads.err;
  ASSERT_EQ(payloads.out, std::to_string(files.size()) + "\n");
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string payload = out.File("payload" + std::to_string(i));
    const std::string decoded = out.File("decoded" + std::to_string(i));
    const test::ProcessResult result = test::RunProcess({"uudecode", "-o", decoded, payload});
    EXPECT_EQ(result.exit_status, 0) << files[i] << ": " << result.err;
    EXPECT_TRUE(result.exit_status == 0 && test::ReadFile(decoded) == test::ReadFile(files[i]))
        << files[i];
    // One file per attachment: a single "end".
    const std::string text = test::ReadFile(payload);
    EXPECT_NE(text.find("\r\nend\r\n"), std::string::npos) << files[i];
    EXPECT_EQ(text.find("\r\nend\r\n"), text.rfind("\r\nend\r\n")) << files[i];
  }
}

}  // namespace
}  // namespace tovrel::net
