#pragma once

// E-mail addresses as the message holds them: a mailbox address and an optional display name,
// with the "Name <address>" / "address (Name)" text forms, and the ordered address lists loaded
// from what the user typed (comma-separated, double quotes protect commas).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::message {

class BaseComponent;

class EmailAddress {
 public:
  EmailAddress() = default;
  EmailAddress(std::string address, std::string name)
      : address_(std::move(address)), name_(std::move(name)) {}

  const std::string& address() const { return address_; }
  void set_address(std::string address) { address_ = std::move(address); }
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }

  // "Name <address>", or the bare address when there is no name (or the name is the address in
  // upper case). The name is neither quoted nor escaped.
  std::string text() const;
  // Parses "Name <address>", "address (Name)" or a bare address; quotes around the name are
  // removed. An empty text empties both fields.
  void set_text(std::string_view value);

  void Assign(const EmailAddress& source) { *this = source; }
  friend bool operator==(const EmailAddress&, const EmailAddress&) = default;

 private:
  std::string address_;
  std::string name_;
};

// The address with a domain beyond ASCII in its A-labels (IDNA 2008 with the UTS #46 mapping:
// "ann@b\u00FCcher.test" becomes "ann@xn--bcher-kva.test"), as servers take it in the envelope
// and readers in header fields. The domain is what follows the last "@", in UTF-8; the local
// part and an ASCII domain stay as they are. A domain without such a form raises InvalidDomain.
std::string AsciiDomainAddress(std::string_view address);

// Whether `address` (its domain in A-labels, as AsciiDomainAddress gives it) is one mailbox a
// server can take: exactly one "@", a local part of well-formed UTF-8 without control or bidi
// characters, and a domain that is a host name (labels of 1 to 63 letters, digits and hyphens,
// no hyphen first or last, 253 octets in all; a label "xn--..." a valid A-label) or an address
// literal ("[192.0.2.1]", "[IPv6:2001:db8::1]"). Checking an A-label needs libidn2: without it,
// DomainConverterMissing is raised.
bool IsValidMailbox(std::string_view address);

// Ordered list of addresses (the order of the RCPT commands and of the header text). Items keep
// their place in memory while the list lives, so references returned by AddItem stay valid until
// the item is deleted or the list cleared.
class EmailAddressList {
 public:
  explicit EmailAddressList(BaseComponent* owner = nullptr) : owner_(owner) {}
  EmailAddressList(const EmailAddressList& other);
  EmailAddressList& operator=(const EmailAddressList& other);

  BaseComponent* owner() const { return owner_; }
  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  EmailAddress& operator[](std::size_t i) { return *items_[i]; }
  const EmailAddress& operator[](std::size_t i) const { return *items_[i]; }

  EmailAddress& AddItem();
  void Delete(std::size_t i);
  void Clear() { items_.clear(); }
  // Replaces the whole list with the addresses of a comma-separated text.
  void LoadFromText(std::string_view text);

 private:
  BaseComponent* owner_;
  std::vector<std::unique_ptr<EmailAddress>> items_;
};

}  // namespace tovrel::message
