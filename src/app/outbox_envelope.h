#pragma once

// NAME.env of an outbox entry: lines of "from ADDRESS", "to ADDRESS" (To and CC), "bcc ADDRESS",
// "attempts N" and "reply TEXT".

#include <string>
#include <vector>

#include "net/smtp_client.h"

namespace tovrel::app {

struct OutboxEntry {
  net::SmtpClient::Envelope envelope;
  std::vector<std::string> blind_copies;
  int attempts = 0;
  std::string reply;
};

// The file's text; the reply becomes one line without control characters.
std::string EnvelopeText(const OutboxEntry& entry);
// Any text: unknown lines are passed over, a missing line leaves its field empty.
OutboxEntry ParseEnvelope(const std::string& text);

}  // namespace tovrel::app
