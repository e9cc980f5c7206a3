#include "message/email_address.h"

#include <idn2.h>

#include <memory>

#include "message/message_error.h"
#include "message/on_demand_library.h"
#include "message/string_helpers.h"

namespace tovrel::message {
namespace {

bool WrappedIn(std::string_view text, char quote) {
  return text.size() > 1 && text.front() == quote && text.back() == quote;
}

// libidn2 is opened only for the first domain beyond ASCII: most sends never meet one, and a
// program start pays for every library linked in. Kept open for the rest of the run.
struct DomainConverter {
  decltype(&idn2_to_ascii_8z) to_ascii = nullptr;
  decltype(&idn2_free) free = nullptr;
  decltype(&idn2_strerror) strerror = nullptr;
  std::string failure;  // the loader's message when the functions are not there
};

const DomainConverter& LoadedDomainConverter() {
  static const DomainConverter converter = [] {
    static OnDemandLibrary library("libidn2.so.0");
    DomainConverter found;
    found.to_ascii = reinterpret_cast<decltype(found.to_ascii)>(
        library.Symbol("idn2_to_ascii_8z", found.failure));
    found.free = reinterpret_cast<decltype(found.free)>(library.Symbol("idn2_free", found.failure));
    found.strerror =
        reinterpret_cast<decltype(found.strerror)>(library.Symbol("idn2_strerror", found.failure));
    if (found.free == nullptr || found.strerror == nullptr) found.to_ascii = nullptr;
    return found;
  }();
  return converter;
}

}  // namespace

std::string AsciiDomainAddress(std::string_view address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  const std::string domain(address.substr(at + 1));
  bool ascii = true;
  for (const char c : domain) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(address);
  const DomainConverter& converter = LoadedDomainConverter();
  if (converter.to_ascii == nullptr) {
    throw DomainConverterMissing(std::string(address), converter.failure);
  }
  char* converted = nullptr;
  const int result = converter.to_ascii(domain.c_str(), &converted, IDN2_NONTRANSITIONAL);
  const std::unique_ptr<char, decltype(converter.free)> owned(converted, converter.free);
  if (result != IDN2_OK) throw InvalidDomain(std::string(address), converter.strerror(result));
  return std::string(address.substr(0, at + 1)) + owned.get();
}

std::string EmailAddress::text() const {
  if (name_.empty()) return address_;
  if (AsciiUpper(address_) == name_) return address_;
  std::string result;
  result.reserve(name_.size() + address_.size() + 3);
  result.append(name_).append(" <").append(address_).append(">");
  return result;
}

void EmailAddress::set_text(std::string_view value) {
  address_.clear();
  name_.clear();
  if (value.empty()) return;
  std::string_view name;
  if (value.back() == '>') {
    const std::size_t p = value.find('<');
    if (p == std::string_view::npos) return;
    address_ = std::string(TrimControl(value.substr(p + 1, value.size() - p - 2)));
    name = TrimControl(value.substr(0, p));
  } else if (value.back() == ')') {
    const std::size_t p = value.find('(');
    if (p == std::string_view::npos) return;
    name = TrimControl(value.substr(p + 1, value.size() - p - 2));
    address_ = std::string(TrimControl(value.substr(0, p)));
  } else {
    address_ = std::string(value);
    return;
  }
  while (WrappedIn(name, '"') || WrappedIn(name, '\'')) name = name.substr(1, name.size() - 2);
  name_ = std::string(name);
}

EmailAddressList::EmailAddressList(const EmailAddressList& other) : owner_(other.owner_) {
  *this = other;
}

EmailAddressList& EmailAddressList::operator=(const EmailAddressList& other) {
  if (this == &other) return *this;
  items_.clear();
  items_.reserve(other.items_.size());
  for (const auto& item : other.items_) items_.push_back(std::make_unique<EmailAddress>(*item));
  return *this;
}

EmailAddress& EmailAddressList::AddItem() {
  items_.push_back(std::make_unique<EmailAddress>());
  return *items_.back();
}

void EmailAddressList::Delete(std::size_t i) {
  if (i < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
}

void EmailAddressList::LoadFromText(std::string_view text) {
  Clear();
  std::size_t start = 0;
  int quotes = 0;
  auto add_piece = [this](std::string_view piece) {
    piece = TrimControl(piece);
    if (!piece.empty()) AddItem().set_text(piece);
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      ++quotes;
    } else if (c == ',' && quotes != 1) {
      add_piece(text.substr(start, i - start));
      start = i + 1;
      quotes = 0;
    }
  }
  add_piece(text.substr(start));
}

}  // namespace tovrel::message
