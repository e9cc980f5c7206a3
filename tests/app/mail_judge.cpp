#include "mail_judge.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include "support/test_support.h"

namespace tovrel::test {

namespace {

constexpr const char* kJudge = R"(
import json, sys
from email import policy
from email.header import decode_header, make_header
from email.parser import BytesParser

with open(sys.argv[1], 'rb') as f:
    msg = BytesParser(policy=policy.compat32).parse(f)
out = {
    'from': msg['From'], 'to': msg['To'], 'cc': msg['Cc'], 'bcc': msg['Bcc'],
    'subject': msg['Subject'], 'content_type': msg.get_content_type(),
    'defects': len(msg.defects), 'attachments': [], 'body': None,
    'subject_text': str(make_header(decode_header(msg['Subject'] or ''))),
    'message_ids': msg.get_all('Message-ID') or [],
}

def read_text(part):
    # What a reader shows: the body decoded with the character set the message declares.
    out['body_charset'] = part.get_content_charset() or ''
    payload = part.get_payload(decode=True)
    out['body_text'] = payload.decode(out['body_charset'] or 'ascii', 'replace').replace('\r\n', '\n')
    return payload.decode('latin-1').replace('\r\n', '\n')

if msg.is_multipart():
    for part in msg.walk():
        if part.is_multipart():
            continue
        out['defects'] += len(part.defects)
        disposition = part.get('Content-Disposition', '')
        if part.get_content_type() == 'text/plain' and out['body'] is None \
                and not disposition.startswith('attachment'):
            out['body'] = read_text(part)
        else:
            out['attachments'].append({
                'filename': part.get_filename(),
                'content_type': part.get_content_type(),
                'charset': part.get_content_charset() or '',
                'encoding': part.get('Content-Transfer-Encoding'),
                'data_hex': part.get_payload(decode=True).hex(),
            })
else:
    out['body'] = read_text(msg)
print(json.dumps(out))
)";

}  // namespace

QJsonObject JudgeMail(const std::string& data_path) {
  const ProcessResult result = RunPython(kJudge, {data_path});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(result.out));
  EXPECT_TRUE(doc.isObject()) << result.out;
  return doc.object();
}

}  // namespace tovrel::test
