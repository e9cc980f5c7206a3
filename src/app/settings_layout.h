#pragma once

// Where the program keeps its settings in the store and in what form. Every section, value name
// and stored convention is known here and nowhere else, and every access selects base key,
// section and value itself: nothing depends on what an earlier access left selected in the
// shared store component.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/oauth_settings.h"
#include "app/password_keyring.h"
#include "net/smtp_client.h"

namespace tovrel::store {
class RegistryStore;
}

namespace tovrel::app {

inline constexpr const char* kBaseKey = "\\Software\\tovrel\\tovrelmail\\";

// The first-run marker's states: prepared before the first start, the compose window has opened
// the settings dialog for it, the dialog's first showing is done.
inline constexpr std::string_view kFirstRunPending = "a";
inline constexpr std::string_view kFirstRunDialogOpened = "b";
inline constexpr std::string_view kFirstRunDone = "c";

std::string ReadFirstRunMarker(store::RegistryStore& registry);
void WriteFirstRunMarker(store::RegistryStore& registry, std::string_view marker);

// On the very first start the store holds nothing; prepare it as an installer would, so that the
// first-run sequence starts: marker pending, no extra identities, port 25. A store that already
// has the base key is left alone.
void PrepareStoreOnFirstStart(store::RegistryStore& registry);

// A stored text value, or nothing when the store has none. The store itself reads a missing
// value as "None", a word that must never reach a box or the wire as if the user had typed it.
std::optional<std::string> ReadStored(store::RegistryStore& registry, std::string_view section,
                                      std::string_view name);

// Where the password of the account is.
enum class PasswordPlace {
  ppKeyring,             // the desktop's keyring, under the account's server and user name
  ppSettingsFile,        // the "password" value of the store, in clear text
  ppNoKeyring,           // the store as well: no keyring answered
  ppUnreachableKeyring,  // stored in the keyring, which did not answer: there is none here
};

// The SMTP server settings, as stored. A missing value reads as empty text.
struct Account {
  std::string smtp_server;
  std::string port;       // decimal text; converted only when a message is sent
  std::string user_name;  // empty: no login
  std::string password;   // empty: none, or none available (see password_place)
  PasswordPlace password_place = PasswordPlace::ppSettingsFile;
  // The store notes which place holds the current password (a store written before it did
  // notes none).
  bool place_noted = false;
  // Stored as "starttls" or "tls"; any other text, or none, sends in the clear as always.
  net::TlsMode security = net::TlsMode::tmNone;
  // Stored as "0" to take any certificate (a server with one of its own making); only ever set
  // by hand in the store, so WriteAccount leaves it as it is.
  net::CertificateCheck certificate_check = net::CertificateCheck::ccVerify;
  // Stored as "smtp"/"sentcopy" "1": every sent message is copied into the Sent Maildir.
  bool keep_sent_copy = false;
  // Stored as "smtp"/"plainpassword" "1": the password may go without TLS to a server that is
  // not on this machine.
  bool plain_password_allowed = false;
  OAuthSettings oauth{};
  // The OAuth 2.0 refresh token: from the keyring when it holds one, else from the store.
  std::string refresh_token{};

  // A login whose password was stored in a keyring that is not reachable now.
  bool password_unavailable() const {
    return password_place == PasswordPlace::ppUnreachableKeyring && !user_name.empty();
  }
};

// Reading the account takes two steps, so that the keyring, which may keep the caller waiting,
// can be asked off the window's thread in between: the store, then the keyring when the store
// says it holds the password (or, in a store written before the store said so, may hold it).
Account ReadStoredAccount(store::RegistryStore& registry);
// What the keyring is asked for: the password for the Settings dialog; for a send, the refresh
// token instead when the account signs in with OAuth 2.0 (and has no token command).
enum class KeyringUse { kuPassword, kuSend };
// The keyring entry of the account, or nothing when the keyring need not be asked.
std::optional<KeyringAccount> KeyringEntryToAsk(const Account& account,
                                                KeyringUse use = KeyringUse::kuPassword);
// Where the keyring's answer leaves the password; with no password anywhere, the place is where
// the next one would go.
void TakeKeyringLookup(Account& account, const KeyringLookup& lookup,
                       KeyringUse use = KeyringUse::kuPassword);
// The refresh token's keyring entry: the server's, under an own name beside the password's.
KeyringAccount RefreshTokenEntry(const Account& account);
// Stores the refresh token in the keyring (removes it when empty), off the window's thread.
KeyringAnswer ChangeKeyringRefreshToken(PasswordKeyring& keyring, const KeyringAccount& entry,
                                        const std::string& token);
// The store keeps the token only when the keyring did not take it; otherwise it is emptied.
// `refused`: the token is emptied because the provider refused it, which the store notes until
// the next sign-in or sign-out.
void RecordRefreshToken(store::RegistryStore& registry, const std::string& token,
                        KeyringAnswer answer, bool refused = false);
bool ReadSignInRefused(store::RegistryStore& registry);
// The refresh token the store keeps for a keyring that did not take it (empty: none).
std::string ReadStoredRefreshToken(store::RegistryStore& registry);
OAuthSettings ReadOAuthSettings(store::RegistryStore& registry);
void WriteOAuthSettings(store::RegistryStore& registry, const OAuthSettings& settings);
// Both steps at once, for callers without a window.
Account ReadAccount(store::RegistryStore& registry, PasswordKeyring& keyring);
std::string ReadPort(store::RegistryStore& registry);
net::TlsMode ReadSecurity(store::RegistryStore& registry);

// A change of the password: the keyring's part runs off the window's thread, the store's after
// it on the window's. The password always goes where it was stored last, and the store notes
// which place that is (never the password itself), so that an older entry elsewhere never
// stands in front of it.
struct PasswordChange {
  KeyringAccount previous;  // the entry of the account as stored before the change
  KeyringAccount entry;
  std::string password;  // empty: kept nowhere
};
PasswordChange PlanPasswordChange(store::RegistryStore& registry, const Account& account);
// Stores the password in the keyring (removing the entry of an account that moved), or removes
// the entry when the password is empty or the keyring refused it.
KeyringAnswer ChangeKeyringPassword(PasswordKeyring& keyring, const PasswordChange& change);
void RecordPasswordChange(store::RegistryStore& registry, const PasswordChange& change,
                          KeyringAnswer answer);
// Writes everything but the password and the certificate check.
void WriteAccountValues(store::RegistryStore& registry, const Account& account);
// All of it at once, for callers without a window: a password goes to the keyring when it takes
// it, else the store keeps it. An empty password is kept nowhere.
void WriteAccount(store::RegistryStore& registry, PasswordKeyring& keyring, const Account& account);

// One sender identity slot: 0 is the main account, 1 to the stored count the extra identities.
struct StoredIdentity {
  // As stored: the name followed by a comma; empty text marks a removed slot.
  std::string name_value;
  std::string address;

  bool removed() const { return name_value.empty(); }
  // The name without the one comma stored after it (a value without one is the name whole).
  std::string name() const;
  // The From entry: name, comma, address.
  std::string from_entry() const { return name_value + address; }
  // The entry of the list of identities to remove: name, comma, blank, address.
  std::string removal_entry() const { return name_value + " " + address; }
};

StoredIdentity ReadIdentity(store::RegistryStore& registry, int slot);

// The identity section as one read of the store: the stored count and every slot's values.
// The slots visited run from 0 (always, whatever the count says) up to the stored count, but
// never past the highest slot that holds a value: a count edited by hand to something huge or
// negative neither runs on endlessly nor loses the main account.
class IdentitySection {
 public:
  // Raises ConversionError when the stored count is not an integer.
  static IdentitySection Read(store::RegistryStore& registry);

  int count() const { return count_; }
  int last_slot() const;
  // A slot's values; a value that is not stored reads as empty text.
  StoredIdentity identity(int slot) const;
  // Slots 0 to last_slot() in order, removed ones included.
  std::vector<StoredIdentity> identities() const;
  // Notes that the slot was emptied in the store.
  void Forget(int slot);

 private:
  std::string Value(const std::string& upper_name) const;

  std::unordered_map<std::string, std::string> values_;  // by upper-cased value name
  int count_ = 0;
  int highest_stored_slot_ = 0;
};

// Slots 0 to the last one visited, in order, removed ones included.
std::vector<StoredIdentity> ReadIdentities(store::RegistryStore& registry);
// Stores `name` (the comma is added here) and `address` in `slot`.
void WriteIdentity(store::RegistryStore& registry, int slot, std::string_view name,
                   std::string_view address);
// Stores a new extra identity in the slot above the last one visited and counts it.
void AppendIdentity(store::RegistryStore& registry, std::string_view name,
                    std::string_view address);
// Empties every extra slot holding exactly `address` (the main account is never touched) and
// returns how many were emptied. The count then drops past empty slots at the top only: every
// remaining identity stays within it, and the next new identity takes a slot above all of them.
int EmptyIdentitiesWithAddress(store::RegistryStore& registry, std::string_view address);

// The host the update check asks: the stored "host or host:port" when there is one, else the
// product's web host. An IPv6 address may be stored bare ("::1") or, with a port, in brackets
// ("[::1]:8080").
std::string UpdateHost(store::RegistryStore& registry);

// The compose window's size and place when it was last closed (section "window", value
// "geometry": Qt's saved geometry in base64); empty when none was stored.
std::string ReadWindowGeometry(store::RegistryStore& registry);
void WriteWindowGeometry(store::RegistryStore& registry, std::string_view geometry);
// Whether the compose window wraps long lines of the text (section "window", value "wordwrap":
// "0" off, anything else or nothing on).
bool ReadWordWrap(store::RegistryStore& registry);
void WriteWordWrap(store::RegistryStore& registry, bool on);

}  // namespace tovrel::app
