// Any arguments (a mail link first) read into the fields: either the line is refused before it
// asks to send, or no control character reaches an address field, and no address loaded from
// the fields holds one. A body file is never named, so no file is read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_errors.h"
#include "app/command_line.h"
#include "app/text_rules.h"
#include "fuzz_check.h"
#include "message/email_address.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL, as argv holds them.
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  if (args.size() >= 3 && args[2].starts_with("-f")) args[2].insert(0, "x");

  app::CommandLine line;
  try {
    app::ReadCommandLine(args, line);
  } catch (const app::AppError&) {
    Require(!line.unattended_send, "a refused line still asks to send");
    return 0;
  }
  for (const std::string* field : {&line.fields.to, &line.fields.cc, &line.fields.bcc}) {
    Require(!app::HasControlCharacter(*field), "a control character in an address field");
    message::EmailAddressList list;
    list.LoadFromText(*field);
    for (std::size_t i = 0; i < list.count(); ++i) {
      Require(HasNoControl(list[i].address()), "a control character in an address");
    }
  }
  Require(line.unattended_send == (args.size() >= 4 && args[3] == "send"),
          "the send is asked for otherwise than by the fourth argument");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
