#include "app/settings_layout.h"

#include "app/text_rules.h"
#include "app/texts.h"
#include "store/registry_store.h"
#include "store/texts.h"

namespace tovrel::app {

namespace {

constexpr const char* kFirstRunSection = "frst";
constexpr const char* kIdentSection = "ident";
constexpr const char* kCountValue = "numOfIdents";

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

std::string NameValue(int slot) { return "nameId" + std::to_string(slot); }
std::string AddressValue(int slot) { return "emailId" + std::to_string(slot); }

void WriteIdentityCount(store::RegistryStore& registry, int count) {
  Write(registry, kIdentSection, kCountValue, std::to_string(count));
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

Account ReadAccount(store::RegistryStore& registry) {
  Account account;
  account.smtp_server = ReadAccountValue(registry, "smtp");
  account.port = ReadPort(registry);
  account.user_name = ReadAccountValue(registry, "username");
  account.password = ReadAccountValue(registry, "password");
  return account;
}

std::string ReadPort(store::RegistryStore& registry) { return ReadAccountValue(registry, "port"); }

void WriteAccount(store::RegistryStore& registry, const Account& account) {
  WriteAccountValue(registry, "smtp", account.smtp_server);
  WriteAccountValue(registry, "port", account.port);
  WriteAccountValue(registry, "username", account.user_name);
  WriteAccountValue(registry, "password", account.password);
}

std::string StoredIdentity::name() const {
  if (!name_value.empty() && name_value.back() == ',') {
    return name_value.substr(0, name_value.size() - 1);
  }
  return name_value;
}

int ReadIdentityCount(store::RegistryStore& registry) {
  return StrToInt(Read(registry, kIdentSection, kCountValue));
}

StoredIdentity ReadIdentity(store::RegistryStore& registry, int slot) {
  StoredIdentity identity;
  identity.name_value = Read(registry, kIdentSection, NameValue(slot));
  identity.address = Read(registry, kIdentSection, AddressValue(slot));
  return identity;
}

std::vector<StoredIdentity> ReadIdentities(store::RegistryStore& registry) {
  const int count = ReadIdentityCount(registry);
  std::vector<StoredIdentity> identities;
  for (int slot = 0; slot <= count; ++slot) identities.push_back(ReadIdentity(registry, slot));
  return identities;
}

void WriteIdentity(store::RegistryStore& registry, int slot, std::string_view name,
                   std::string_view address) {
  Write(registry, kIdentSection, NameValue(slot), std::string(name) + ",");
  Write(registry, kIdentSection, AddressValue(slot), address);
}

void AppendIdentity(store::RegistryStore& registry, std::string_view name,
                    std::string_view address) {
  const int slot = ReadIdentityCount(registry) + 1;
  WriteIdentity(registry, slot, name, address);
  WriteIdentityCount(registry, slot);
}

int EmptyIdentitiesWithAddress(store::RegistryStore& registry, std::string_view address) {
  const int highest = ReadIdentityCount(registry);
  int emptied = 0;
  for (int slot = 1; slot <= highest; ++slot) {
    if (Read(registry, kIdentSection, AddressValue(slot)) != address) continue;
    Write(registry, kIdentSection, NameValue(slot), "");
    Write(registry, kIdentSection, AddressValue(slot), "");
    ++emptied;
  }
  if (emptied == 0) return 0;
  int count = highest;
  while (count > 0 && Read(registry, kIdentSection, NameValue(count)).empty()) --count;
  if (count != highest) WriteIdentityCount(registry, count);
  return emptied;
}

std::string UpdateHost(store::RegistryStore& registry) {
  const std::string stored = Read(registry, "update", "host");
  if (stored.empty() || stored == store::texts::kMissingValue) return help_texts::kProductHost;
  return stored;
}

}  // namespace tovrel::app
