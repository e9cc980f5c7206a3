// Address texts as the user types them: the list loaded from a comma-separated text matches a
// plain reading of the splitting and parsing rules item by item, and each item's text reads back
// as it should; the comma-text split reads back what the comma-text join made of its items; the
// sender split takes the address from the last item.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/send_command.h"
#include "app/text_rules.h"
#include "fuzz_check.h"
#include "message/email_address.h"
#include "message/header_generation.h"
#include "message/string_list.h"

namespace tovrel::fuzz {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// The parsing rule written as plainly as it reads, one step after the other.
message::EmailAddress ModelParse(std::string_view value) {
  std::string address;
  std::string name;
  if (!value.empty() && value.back() == '>') {
    const std::size_t open = value.find('<');
    if (open != std::string_view::npos) {
      address = Trim(value.substr(open + 1, value.size() - 1 - (open + 1)));
      name = Trim(value.substr(0, open));
    }
  } else if (!value.empty() && value.back() == ')') {
    const std::size_t open = value.find('(');
    if (open != std::string_view::npos) {
      name = Trim(value.substr(open + 1, value.size() - 1 - (open + 1)));
      address = Trim(value.substr(0, open));
    }
  } else {
    address = value;
  }
  while (name.size() > 1 && ((name.front() == '"' && name.back() == '"') ||
                             (name.front() == '\'' && name.back() == '\''))) {
    name = name.substr(1, name.size() - 2);
  }
  return message::EmailAddress(address, name);
}

std::string ModelText(const message::EmailAddress& item) {
  if (item.name().empty()) return item.address();
  std::string upper = item.address();
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == item.name()) return item.address();
  return item.name() + " <" + item.address() + ">";
}

std::vector<message::EmailAddress> ModelLoad(std::string_view text) {
  std::vector<message::EmailAddress> items;
  std::size_t start = 0;
  int quotes = 0;
  auto take = [&](std::string_view piece) {
    piece = Trim(piece);
    if (!piece.empty()) items.push_back(ModelParse(piece));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') ++quotes;
    if (text[i] == ',' && quotes != 1) {
      take(text.substr(start, i - start));
      start = i + 1;
      quotes = 0;
    }
  }
  take(text.substr(start));
  return items;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  message::EmailAddressList list;
  list.LoadFromText(text);
  const auto expected = ModelLoad(text);
  Require(list.count() == expected.size(), "the list has another number of items");
  for (std::size_t i = 0; i < list.count(); ++i) {
    Require(list[i] == expected[i], "an item reads differently");
    Require(list[i].text() == ModelText(list[i]), "an item's text is built wrongly");
  }

  const std::vector<std::string> items = app::CommaTextSplit(text);
  const std::string joined = message::CommaText(message::StringList(items.begin(), items.end()));
  Require(app::CommaTextSplit(joined) == items, "joined items split differently");
  const message::EmailAddress sender = app::SenderOf(text);
  Require(sender.address().find(',') == std::string::npos, "the sender address holds a comma");
  Require(text.find(sender.address()) != std::string_view::npos, "the sender address is made up");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
