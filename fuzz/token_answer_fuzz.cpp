// Any answer of a token endpoint: it grants exactly when it names an access token (and no
// error), a refusal is one line without control characters, and tokens written into a JSON
// document are read back as written.

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/token_answer.h"
#include "fuzz_check.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const app::TokenReply reply = app::ReadTokenAnswer(input, "host", "");
  if (reply.outcome == app::TokenReply::Outcome::kGranted) {
    Require(!reply.access_token.empty() && reply.failure.empty(), "granted without a token");
  } else {
    Require(reply.access_token.empty() && !reply.failure.empty(), "refused without a reason");
    Require(IsShownLine(reply.failure), "a control character in the reason");
  }
  // Both tokens from the input, split at its middle, as a provider would send them.
  const std::string access = QString::fromUtf8(input.substr(0, size / 2)).toStdString();
  const std::string refresh = QString::fromUtf8(input.substr(size / 2)).toStdString();
  QJsonObject answer;
  answer.insert(QStringLiteral("access_token"), QString::fromStdString(access));
  answer.insert(QStringLiteral("refresh_token"), QString::fromStdString(refresh));
  const std::string json = QJsonDocument(answer).toJson().toStdString();
  const app::TokenReply read = app::ReadTokenAnswer(json, "host", "");
  Require((read.outcome == app::TokenReply::Outcome::kGranted) == !access.empty(),
          "a written token not granted");
  if (!access.empty()) {
    Require(read.access_token == access && read.refresh_token == refresh,
            "tokens read back otherwise");
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
