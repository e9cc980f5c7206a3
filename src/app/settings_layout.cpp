#include "app/settings_layout.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "store/registry_store.h"
#include "store/texts.h"

namespace tovrel::app {

namespace {

constexpr const char* kFirstRunSection = "frst";
constexpr const char* kIdentSection = "ident";
constexpr const char* kCountValue = "numOfIdents";
constexpr const char* kSmtpSection = "smtp";
constexpr const char* kSecurityValue = "security";
constexpr const char* kCertificateCheckValue = "tlsverify";
constexpr std::string_view kStartTlsText = "starttls";
constexpr std::string_view kImplicitTlsText = "tls";
constexpr std::string_view kNoCertificateCheckText = "0";

void Select(store::RegistryStore& registry, std::string_view section, std::string_view name) {
  registry.set_base_key(kBaseKey);
  registry.set_target_key(std::string(section));
  registry.set_target_value(std::string(name));
}

std::string Read(store::RegistryStore& registry, std::string_view section, std::string_view name) {
  Select(registry, section, name);
  return registry.ReadString();
}

void Write(store::RegistryStore& registry, std::string_view section, std::string_view name,
           std::string_view value) {
  Select(registry, section, name);
  registry.WriteString(std::string(value));
}

// The account values each live in a section named like the value.
std::string ReadAccountValue(store::RegistryStore& registry, std::string_view name) {
  return Read(registry, name, name);
}
void WriteAccountValue(store::RegistryStore& registry, std::string_view name,
                       std::string_view value) {
  Write(registry, name, name, value);
}

constexpr std::string_view kPasswordValue = "password";

KeyringAccount KeyringEntry(std::string_view server, std::string_view user) {
  return {.server = std::string(server), .user = std::string(user)};
}

void WritePassword(store::RegistryStore& registry, PasswordKeyring& keyring,
                   const KeyringAccount& previous, const Account& account) {
  const KeyringAccount entry = KeyringEntry(account.smtp_server, account.user_name);
  if (!account.password.empty()) {
    const KeyringAnswer stored = keyring.Store(entry, account.password);
    if (stored == KeyringAnswer::kaDone) {
      Select(registry, kPasswordValue, kPasswordValue);
      registry.DeleteValue();
      // The account moved to another server or login: its old entry has no use any more.
      if (previous != entry) keyring.Remove(previous);
      return;
    }
    if (stored == KeyringAnswer::kaNoKeyring) {
      WriteAccountValue(registry, kPasswordValue, account.password);
      return;
    }
  }
  // A send asks the keyring first: an entry left there would stand in front of what the store
  // now holds.
  keyring.Remove(entry);
  WriteAccountValue(registry, kPasswordValue, account.password);
}

std::string NameValue(int slot) { return "nameId" + std::to_string(slot); }
std::string AddressValue(int slot) { return "emailId" + std::to_string(slot); }

void WriteIdentityCount(store::RegistryStore& registry, int count) {
  Write(registry, kIdentSection, kCountValue, std::to_string(count));
}

// The slot an upper-cased value name belongs to: "NAMEID" or "EMAILID" and the slot number in
// decimal without leading zeros. Slot numbers stop one short of the largest integer, so that
// the slot above every stored one can still be numbered.
std::optional<int> SlotOfValueName(std::string_view name) {
  for (const std::string_view prefix : {"NAMEID", "EMAILID"}) {
    if (!name.starts_with(prefix)) continue;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) {
      return std::nullopt;
    }
    long long slot = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      slot = slot * 10 + (c - '0');
    }
    if (slot >= std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(slot);
  }
  return std::nullopt;
}

net::TlsMode SecurityFromText(std::string_view text) {
  if (text == kStartTlsText) return net::TlsMode::tmStartTls;
  if (text == kImplicitTlsText) return net::TlsMode::tmImplicit;
  return net::TlsMode::tmNone;
}

std::string SecurityText(net::TlsMode security) {
  switch (security) {
    case net::TlsMode::tmStartTls:
      return std::string(kStartTlsText);
    case net::TlsMode::tmImplicit:
      return std::string(kImplicitTlsText);
    case net::TlsMode::tmNone:
      break;
  }
  return {};
}

}  // namespace

std::string ReadFirstRunMarker(store::RegistryStore& registry) {
  return Read(registry, kFirstRunSection, "");
}

void WriteFirstRunMarker(store::RegistryStore& registry, std::string_view marker) {
  Write(registry, kFirstRunSection, "", marker);
}

void PrepareStoreOnFirstStart(store::RegistryStore& registry) {
  registry.set_base_key(kBaseKey);
  if (registry.BaseKeyExists()) return;
  WriteIdentityCount(registry, 0);
  WriteAccountValue(registry, "port", "25");
  // The marker last: a start cut short before it leaves a store that works without the
  // first-run dialog, never a first run over a store missing its identity count.
  WriteFirstRunMarker(registry, kFirstRunPending);
}

Account ReadAccount(store::RegistryStore& registry, PasswordKeyring& keyring) {
  Account account;
  account.smtp_server = ReadAccountValue(registry, "smtp");
  account.port = ReadPort(registry);
  account.user_name = ReadAccountValue(registry, "username");
  KeyringLookup kept = keyring.Find(KeyringEntry(account.smtp_server, account.user_name));
  if (kept.answered) account.password_place = PasswordPlace::ppKeyring;
  account.password =
      kept.password ? std::move(*kept.password) : ReadAccountValue(registry, kPasswordValue);
  account.security = ReadSecurity(registry);
  if (Read(registry, kSmtpSection, kCertificateCheckValue) == kNoCertificateCheckText) {
    account.certificate_check = net::CertificateCheck::ccNone;
  }
  return account;
}

std::string ReadPort(store::RegistryStore& registry) { return ReadAccountValue(registry, "port"); }

net::TlsMode ReadSecurity(store::RegistryStore& registry) {
  return SecurityFromText(Read(registry, kSmtpSection, kSecurityValue));
}

void WriteAccount(store::RegistryStore& registry, PasswordKeyring& keyring,
                  const Account& account) {
  // A store without its base key has no account yet, and reading it would fail.
  registry.set_base_key(kBaseKey);
  const KeyringAccount previous =
      registry.BaseKeyExists()
          ? KeyringEntry(ReadAccountValue(registry, "smtp"), ReadAccountValue(registry, "username"))
          : KeyringEntry(store::texts::kMissingValue, store::texts::kMissingValue);
  WriteAccountValue(registry, "smtp", account.smtp_server);
  WriteAccountValue(registry, "port", account.port);
  WriteAccountValue(registry, "username", account.user_name);
  WritePassword(registry, keyring, previous, account);
  Write(registry, kSmtpSection, kSecurityValue, SecurityText(account.security));
}

std::string StoredIdentity::name() const {
  if (!name_value.empty() && name_value.back() == ',') {
    return name_value.substr(0, name_value.size() - 1);
  }
  return name_value;
}

StoredIdentity ReadIdentity(store::RegistryStore& registry, int slot) {
  StoredIdentity identity;
  identity.name_value = Read(registry, kIdentSection, NameValue(slot));
  identity.address = Read(registry, kIdentSection, AddressValue(slot));
  return identity;
}

IdentitySection IdentitySection::Read(store::RegistryStore& registry) {
  Select(registry, kIdentSection, "");
  IdentitySection section;
  for (auto& [name, text] : registry.ReadSectionStrings()) {
    std::string key = message::AsciiUpper(name);
    if (const auto slot = SlotOfValueName(key)) {
      section.highest_stored_slot_ = std::max(section.highest_stored_slot_, *slot);
    }
    section.values_.emplace(std::move(key), std::move(text));
  }
  section.count_ = StrToInt(section.Value(message::AsciiUpper(kCountValue)));
  return section;
}

int IdentitySection::last_slot() const {
  return std::max(0, std::min(count_, highest_stored_slot_));
}

StoredIdentity IdentitySection::identity(int slot) const {
  return {.name_value = Value(message::AsciiUpper(NameValue(slot))),
          .address = Value(message::AsciiUpper(AddressValue(slot)))};
}

std::vector<StoredIdentity> IdentitySection::identities() const {
  std::vector<StoredIdentity> all;
  all.reserve(static_cast<std::size_t>(last_slot()) + 1);
  for (int slot = 0; slot <= last_slot(); ++slot) all.push_back(identity(slot));
  return all;
}

std::string IdentitySection::Value(const std::string& upper_name) const {
  const auto found = values_.find(upper_name);
  return found == values_.end() ? std::string(store::texts::kMissingValue) : found->second;
}

void IdentitySection::Forget(int slot) {
  values_[message::AsciiUpper(NameValue(slot))].clear();
  values_[message::AsciiUpper(AddressValue(slot))].clear();
}

std::vector<StoredIdentity> ReadIdentities(store::RegistryStore& registry) {
  return IdentitySection::Read(registry).identities();
}

void WriteIdentity(store::RegistryStore& registry, int slot, std::string_view name,
                   std::string_view address) {
  Write(registry, kIdentSection, NameValue(slot), std::string(name) + ",");
  Write(registry, kIdentSection, AddressValue(slot), address);
}

void AppendIdentity(store::RegistryStore& registry, std::string_view name,
                    std::string_view address) {
  const int slot = IdentitySection::Read(registry).last_slot() + 1;
  WriteIdentity(registry, slot, name, address);
  WriteIdentityCount(registry, slot);
}

int EmptyIdentitiesWithAddress(store::RegistryStore& registry, std::string_view address) {
  IdentitySection section = IdentitySection::Read(registry);
  const int highest = section.last_slot();
  int emptied = 0;
  for (int slot = 1; slot <= highest; ++slot) {
    if (section.identity(slot).address != address) continue;
    Write(registry, kIdentSection, NameValue(slot), "");
    Write(registry, kIdentSection, AddressValue(slot), "");
    section.Forget(slot);
    ++emptied;
  }
  if (emptied == 0) return 0;
  int count = highest;
  while (count > 0 && section.identity(count).removed()) --count;
  if (count != section.count()) WriteIdentityCount(registry, count);
  return emptied;
}

std::string UpdateHost(store::RegistryStore& registry) {
  const std::string stored = Read(registry, "update", "host");
  if (stored.empty() || stored == store::texts::kMissingValue) return help_texts::kProductHost;
  return stored;
}

}  // namespace tovrel::app
