#include "app/outbox_envelope.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "app/text_rules.h"

namespace tovrel::app {

std::string EnvelopeText(const OutboxEntry& entry) {
  std::string text = "from " + entry.envelope.sender + "\n";
  for (const std::string& address : entry.envelope.recipients) {
    const bool blind = std::find(entry.blind_copies.begin(), entry.blind_copies.end(), address) !=
                       entry.blind_copies.end();
    text.append(blind ? "bcc " : "to ").append(address).append("\n");
  }
  text.append("attempts ").append(std::to_string(entry.attempts)).append("\n");
  // One line, whatever the server sent.
  text.append("reply ").append(VisibleText(OneLine(entry.reply))).append("\n");
  for (const std::string& attempt : entry.unconfirmed) {
    text.append("unconfirmed ").append(VisibleText(OneLine(attempt))).append("\n");
  }
  return text;
}

OutboxEntry ParseEnvelope(const std::string& text) {
  OutboxEntry entry;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (key == "from") {
      entry.envelope.sender = value;
    } else if (key == "to" || key == "bcc") {
      entry.envelope.recipients.push_back(value);
      if (key == "bcc") entry.blind_copies.push_back(value);
    } else if (key == "attempts") {
      entry.attempts = std::atoi(value.c_str());
    } else if (key == "reply") {
      entry.reply = value;
    } else if (key == "unconfirmed") {
      entry.unconfirmed.push_back(value);
    }
  }
  return entry;
}

}  // namespace tovrel::app
