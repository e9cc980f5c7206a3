#pragma once

#include <string>
#include <vector>

namespace tovrel::app {

// One message as the compose window holds it: the From text (an identity entry: name, comma,
// address), the recipient fields as typed (comma-separated), the subject, the body lines and the
// paths of the files to attach. Every field starts empty, so that a designated initializer names
// only the ones it fills.
struct ComposeFields {
  std::string from{};
  std::string to{};
  std::string cc{};
  std::string bcc{};
  std::string subject{};
  std::vector<std::string> body{};
  std::vector<std::string> attachments{};
  // A text file whose lines are the body, read only as the message goes out, in place of `body`
  // (an unattended send of a "-f" body file). Empty: none.
  std::string body_file{};
  // The Message-ID the message goes out under, with its angle brackets, for a message that has
  // one already. Empty: a new one is made for the send.
  std::string message_id{};
};

}  // namespace tovrel::app
