#include "message/email_address.h"

#include <arpa/inet.h>
#include <idn2.h>

#include <algorithm>
#include <memory>

#include "message/message_error.h"
#include "message/on_demand_library.h"
#include "message/string_helpers.h"
#include "message/utf8_text.h"

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

// RFC 1035 section 2.3.4: 63 octets a label, 255 a name on the wire (253 written out).
constexpr std::size_t kMaxLabelLength = 63;
constexpr std::size_t kMaxDomainLength = 253;
constexpr std::string_view kAceLabelPrefix = "xn--";
constexpr std::string_view kIpv6Tag = "IPv6:";

bool IsLetterDigitHyphen(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// A label "xn--..." stands for a U-label; one whose Punycode is broken or decodes to a label
// IDNA 2008 does not allow names no host. The library checks the round trip.
bool IsValidALabel(std::string_view label, std::string_view address) {
  const DomainConverter& converter = LoadedDomainConverter();
  if (converter.to_ascii == nullptr) {
    throw DomainConverterMissing(std::string(address), converter.failure);
  }
  char* converted = nullptr;
  const int result =
      converter.to_ascii(std::string(label).c_str(), &converted, IDN2_NONTRANSITIONAL);
  const std::unique_ptr<char, decltype(converter.free)> owned(converted, converter.free);
  return result == IDN2_OK;
}

bool IsHostName(std::string_view domain, std::string_view address) {
  if (domain.empty() || domain.size() > kMaxDomainLength) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = domain.find('.', start);
    const std::string_view label =
        domain.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (label.empty() || label.size() > kMaxLabelLength || label.front() == '-' ||
        label.back() == '-' || !std::all_of(label.begin(), label.end(), IsLetterDigitHyphen)) {
      return false;
    }
    if (StartsWithIgnoreCase(label, kAceLabelPrefix) && !IsValidALabel(label, address)) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// RFC 5321 section 4.1.3: "[192.0.2.1]" or "[IPv6:2001:db8::1]".
bool IsAddressLiteral(std::string_view domain) {
  if (domain.size() < 3 || domain.front() != '[' || domain.back() != ']') return false;
  std::string_view inside = domain.substr(1, domain.size() - 2);
  int family = AF_INET;
  if (StartsWithIgnoreCase(inside, kIpv6Tag)) {
    inside.remove_prefix(kIpv6Tag.size());
    family = AF_INET6;
  }
  unsigned char bytes[sizeof(in6_addr)];
  return ::inet_pton(family, std::string(inside).c_str(), bytes) == 1;
}

// Control characters would end or split the command; bidi characters make the address the user
// sees another than the one the server gets.
bool IsHarmlessLocalPart(std::string_view local_part) {
  if (local_part.empty()) return false;
  while (!local_part.empty()) {
    const Utf8Char c = DecodeUtf8(local_part);
    if (c.length == 0 || c.code < 0x20 || (c.code >= 0x7F && c.code <= 0x9F) ||
        IsBidiControl(c.code)) {
      return false;
    }
    local_part.remove_prefix(c.length);
  }
  return true;
}

}  // namespace

bool IsValidMailbox(std::string_view address) {
  const std::size_t at = address.find('@');
  if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view domain = address.substr(at + 1);
  return IsHarmlessLocalPart(address.substr(0, at)) &&
         (IsAddressLiteral(domain) || IsHostName(domain, address));
}

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
