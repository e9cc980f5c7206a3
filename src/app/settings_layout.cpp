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
constexpr const char* kSentCopyValue = "sentcopy";
constexpr const char* kPlainPasswordValue = "plainpassword";
constexpr std::string_view kAuthValue = "auth";
constexpr std::string_view kOAuth2Text = "oauth2";
constexpr std::string_view kRefreshTokenValue = "oauth2refresh";
// Beside the password's entry of the same server.
constexpr std::string_view kRefreshEntryPrefix = "oauth2:";

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
  return ReadStored(registry, name, name).value_or("");
}
void WriteAccountValue(store::RegistryStore& registry, std::string_view name,
                       std::string_view value) {
  Write(registry, name, name, value);
}

constexpr std::string_view kPasswordValue = "password";
// Beside the password: which place holds the current one.
constexpr std::string_view kPasswordPlaceValue = "place";
// "1" while the provider's refusal of the saved sign-in is the last that became of it.
constexpr std::string_view kSignInRefusedValue = "oauth2refused";
constexpr std::string_view kPlaceKeyring = "keyring";
constexpr std::string_view kPlaceFile = "file";

KeyringAccount KeyringEntry(std::string_view server, std::string_view user) {
  return {.server = std::string(server), .user = std::string(user)};
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

std::optional<std::string> ReadStored(store::RegistryStore& registry, std::string_view section,
                                      std::string_view name) {
  std::string text = Read(registry, section, name);
  if (text != store::texts::kMissingValue) return text;
  // The same word may be stored as typed: only then does the section name the value.
  std::vector<std::string> names;
  registry.ReadSection(&names);
  const std::string wanted = message::AsciiUpper(name);
  for (const std::string& stored_name : names) {
    if (message::AsciiUpper(stored_name) == wanted) return text;
  }
  return std::nullopt;
}

Account ReadStoredAccount(store::RegistryStore& registry) {
  Account account;
  account.smtp_server = ReadAccountValue(registry, "smtp");
  account.port = ReadPort(registry);
  account.user_name = ReadAccountValue(registry, "username");
  account.password = ReadAccountValue(registry, kPasswordValue);
  const std::optional<std::string> place =
      ReadStored(registry, kPasswordValue, kPasswordPlaceValue);
  account.place_noted = place == kPlaceKeyring || place == kPlaceFile;
  account.password_place =
      place == kPlaceKeyring ? PasswordPlace::ppKeyring : PasswordPlace::ppSettingsFile;
  account.security = ReadSecurity(registry);
  if (Read(registry, kSmtpSection, kCertificateCheckValue) == kNoCertificateCheckText) {
    account.certificate_check = net::CertificateCheck::ccNone;
  }
  account.keep_sent_copy = Read(registry, kSmtpSection, kSentCopyValue) == "1";
  account.plain_password_allowed = Read(registry, kSmtpSection, kPlainPasswordValue) == "1";
  account.oauth = ReadOAuthSettings(registry);
  if (account.oauth.enabled) {
    account.refresh_token = ReadStoredRefreshToken(registry);
  }
  return account;
}

std::string ReadStoredRefreshToken(store::RegistryStore& registry) {
  return ReadStored(registry, kSmtpSection, kRefreshTokenValue).value_or("");
}

OAuthSettings ReadOAuthSettings(store::RegistryStore& registry) {
  const auto value = [&registry](std::string_view name) {
    return ReadStored(registry, kSmtpSection, name).value_or("");
  };
  OAuthSettings settings;
  settings.enabled = value(kAuthValue) == kOAuth2Text;
  settings.provider = value("oauth2provider");
  settings.client_id = value("oauth2clientid");
  settings.client_secret = value("oauth2clientsecret");
  settings.custom = {value("oauth2authurl"), value("oauth2tokenurl"), value("oauth2scope")};
  settings.token_command = value("tokencommand");
  return settings;
}

void WriteOAuthSettings(store::RegistryStore& registry, const OAuthSettings& settings) {
  Write(registry, kSmtpSection, kAuthValue, settings.enabled ? kOAuth2Text : "password");
  Write(registry, kSmtpSection, "oauth2provider", settings.provider);
  Write(registry, kSmtpSection, "oauth2clientid", settings.client_id);
  Write(registry, kSmtpSection, "oauth2clientsecret", settings.client_secret);
  Write(registry, kSmtpSection, "oauth2authurl", settings.custom.auth_url);
  Write(registry, kSmtpSection, "oauth2tokenurl", settings.custom.token_url);
  Write(registry, kSmtpSection, "oauth2scope", settings.custom.scope);
  Write(registry, kSmtpSection, "tokencommand", settings.token_command);
}

KeyringAccount RefreshTokenEntry(const Account& account) {
  return KeyringEntry(account.smtp_server, std::string(kRefreshEntryPrefix) + account.user_name);
}

KeyringAnswer ChangeKeyringRefreshToken(PasswordKeyring& keyring, const KeyringAccount& entry,
                                        const std::string& token) {
  return token.empty() ? keyring.Remove(entry) : keyring.Store(entry, token);
}

void RecordRefreshToken(store::RegistryStore& registry, const std::string& token,
                        KeyringAnswer answer, bool refused) {
  Write(registry, kSmtpSection, kRefreshTokenValue,
        answer == KeyringAnswer::kaDone ? std::string() : token);
  Write(registry, kSmtpSection, kSignInRefusedValue, refused ? "1" : "0");
}

bool ReadSignInRefused(store::RegistryStore& registry) {
  return ReadStored(registry, kSmtpSection, kSignInRefusedValue) == "1";
}

std::optional<KeyringAccount> KeyringEntryToAsk(const Account& account, KeyringUse use) {
  if (use == KeyringUse::kuSend && account.oauth.enabled) {
    if (!account.oauth.token_command.empty()) return std::nullopt;
    return RefreshTokenEntry(account);
  }
  const bool noted_file =
      account.place_noted && account.password_place == PasswordPlace::ppSettingsFile;
  if (noted_file || (!account.place_noted && account.user_name.empty())) return std::nullopt;
  return KeyringEntry(account.smtp_server, account.user_name);
}

void TakeKeyringLookup(Account& account, const KeyringLookup& lookup, KeyringUse use) {
  if (use == KeyringUse::kuSend && account.oauth.enabled) {
    // The store's copy is there only for a keyring that did not take it.
    if (lookup.password && !lookup.password->empty()) account.refresh_token = *lookup.password;
    return;
  }
  const bool noted_keyring =
      account.place_noted && account.password_place == PasswordPlace::ppKeyring;
  const bool noted_file = account.place_noted && !noted_keyring;
  if (lookup.password && !noted_file) {
    account.password = *lookup.password;
    account.password_place = PasswordPlace::ppKeyring;
  } else if (noted_keyring) {
    account.password.clear();
    if (!lookup.answered) account.password_place = PasswordPlace::ppUnreachableKeyring;
  } else if (!lookup.answered) {
    account.password_place = PasswordPlace::ppNoKeyring;
  } else {
    // No password yet goes where the next one would.
    account.password_place =
        account.password.empty() ? PasswordPlace::ppKeyring : PasswordPlace::ppSettingsFile;
  }
}

Account ReadAccount(store::RegistryStore& registry, PasswordKeyring& keyring) {
  Account account = ReadStoredAccount(registry);
  if (const auto entry = KeyringEntryToAsk(account, KeyringUse::kuSend)) {
    TakeKeyringLookup(account, keyring.Find(*entry), KeyringUse::kuSend);
  }
  return account;
}

std::string ReadPort(store::RegistryStore& registry) { return ReadAccountValue(registry, "port"); }

net::TlsMode ReadSecurity(store::RegistryStore& registry) {
  return SecurityFromText(Read(registry, kSmtpSection, kSecurityValue));
}

PasswordChange PlanPasswordChange(store::RegistryStore& registry, const Account& account) {
  // A store without its base key has no account yet, and reading it would fail.
  registry.set_base_key(kBaseKey);
  PasswordChange change;
  if (registry.BaseKeyExists()) {
    change.previous =
        KeyringEntry(ReadAccountValue(registry, "smtp"), ReadAccountValue(registry, "username"));
  }
  change.entry = KeyringEntry(account.smtp_server, account.user_name);
  change.password = account.password;
  return change;
}

KeyringAnswer ChangeKeyringPassword(PasswordKeyring& keyring, const PasswordChange& change) {
  if (!change.password.empty()) {
    const KeyringAnswer stored = keyring.Store(change.entry, change.password);
    if (stored == KeyringAnswer::kaDone) {
      // The account moved to another server or login: its old entry has no use any more.
      if (change.previous != change.entry) keyring.Remove(change.previous);
      return stored;
    }
    if (stored == KeyringAnswer::kaNoKeyring) return stored;
  }
  // Whatever the keyring still holds for the account is older than what the store now holds.
  keyring.Remove(change.entry);
  return KeyringAnswer::kaRefused;
}

void RecordPasswordChange(store::RegistryStore& registry, const PasswordChange& change,
                          KeyringAnswer answer) {
  if (answer == KeyringAnswer::kaDone && !change.password.empty()) {
    Select(registry, kPasswordValue, kPasswordValue);
    registry.DeleteValue();
    Write(registry, kPasswordValue, kPasswordPlaceValue, kPlaceKeyring);
    return;
  }
  WriteAccountValue(registry, kPasswordValue, change.password);
  Write(registry, kPasswordValue, kPasswordPlaceValue, kPlaceFile);
}

void WriteAccountValues(store::RegistryStore& registry, const Account& account) {
  WriteAccountValue(registry, "smtp", account.smtp_server);
  WriteAccountValue(registry, "port", account.port);
  WriteAccountValue(registry, "username", account.user_name);
  Write(registry, kSmtpSection, kSecurityValue, SecurityText(account.security));
  Write(registry, kSmtpSection, kSentCopyValue, account.keep_sent_copy ? "1" : "0");
  Write(registry, kSmtpSection, kPlainPasswordValue, account.plain_password_allowed ? "1" : "0");
}

void WriteAccount(store::RegistryStore& registry, PasswordKeyring& keyring,
                  const Account& account) {
  const PasswordChange change = PlanPasswordChange(registry, account);
  WriteAccountValues(registry, account);
  RecordPasswordChange(registry, change, ChangeKeyringPassword(keyring, change));
}

std::string StoredIdentity::name() const {
  if (!name_value.empty() && name_value.back() == ',') {
    return name_value.substr(0, name_value.size() - 1);
  }
  return name_value;
}

StoredIdentity ReadIdentity(store::RegistryStore& registry, int slot) {
  StoredIdentity identity;
  identity.name_value = ReadStored(registry, kIdentSection, NameValue(slot)).value_or("");
  identity.address = ReadStored(registry, kIdentSection, AddressValue(slot)).value_or("");
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
  return found == values_.end() ? std::string() : found->second;
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
  const std::string stored = ReadStored(registry, "update", "host").value_or("");
  return stored.empty() ? std::string(help_texts::kProductHost) : stored;
}

std::string ReadWindowGeometry(store::RegistryStore& registry) {
  return ReadStored(registry, "window", "geometry").value_or("");
}

void WriteWindowGeometry(store::RegistryStore& registry, std::string_view geometry) {
  Write(registry, "window", "geometry", geometry);
}

bool ReadWordWrap(store::RegistryStore& registry) {
  return ReadStored(registry, "window", "wordwrap").value_or("1") != "0";
}

void WriteWordWrap(store::RegistryStore& registry, bool on) {
  Write(registry, "window", "wordwrap", on ? "1" : "0");
}

}  // namespace tovrel::app
