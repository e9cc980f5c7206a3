#pragma once

// NAME.env of an outbox entry: lines of "from ADDRESS", "to ADDRESS" (To and CC), "bcc ADDRESS",
// "attempts N", "reply TEXT" and, for each attempt that sent the whole text and heard no reply to
// its end, "unconfirmed N TEXT".

#include <string>
#include <vector>

#include "net/smtp_client.h"

namespace tovrel::app {

struct OutboxEntry {
  net::SmtpClient::Envelope envelope;
  std::vector<std::string> blind_copies;
  int attempts = 0;
  std::string reply;
  // The attempts whose end of data went unanswered, each "N TEXT": the server may have the
  // message from them, so that a copy sent again may be the second.
  std::vector<std::string> unconfirmed;
};

// The file's text; the reply becomes one line without control characters.
std::string EnvelopeText(const OutboxEntry& entry);
// Any text: unknown lines are passed over, a missing line leaves its field empty.
OutboxEntry ParseEnvelope(const std::string& text);

}  // namespace tovrel::app
