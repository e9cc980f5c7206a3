#pragma once

// The desktop's keyring, where the SMTP password is kept when there is one, so that it does not
// sit in a file in clear text.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QObject;

namespace tovrel::app {

// One account's entry in the keyring: the SMTP server and the login name as stored.
struct KeyringAccount {
  std::string server;
  std::string user;

  bool operator==(const KeyringAccount&) const = default;
};

// How the keyring took a change.
enum class KeyringAnswer {
  kaDone,       // stored or removed
  kaRefused,    // a keyring answered but would not (locked, the user dismissed its prompt)
  kaNoKeyring,  // none answered
};

// What the keyring holds for one account.
struct KeyringLookup {
  bool answered = false;                // false: no keyring answered, `password` is empty
  std::optional<std::string> password;  // nothing when the keyring has no entry for it
};

class PasswordKeyring {
 public:
  virtual ~PasswordKeyring() = default;

  virtual KeyringLookup Find(const KeyringAccount& account) = 0;
  // Replaces whatever the keyring held for the account.
  virtual KeyringAnswer Store(const KeyringAccount& account, std::string_view password) = 0;
  // An account without an entry is no refusal: there is nothing left to remove.
  virtual KeyringAnswer Remove(const KeyringAccount& account) = 0;
};

// The Secret Service on the session bus (GNOME Keyring, KWallet and others). Without a session
// bus address nothing is asked; a bus or service that does not answer is given up after
// `answer_wait`. Once the service has answered, an operation may still wait for the user to
// unlock the keyring in its own prompt, which is given up after `prompt_wait`. Every operation
// opens the service afresh, so a keyring started or restarted while the program runs is found
// by the next one.
class SecretServiceKeyring final : public PasswordKeyring {
 public:
  SecretServiceKeyring(std::chrono::milliseconds answer_wait = std::chrono::seconds(3),
                       std::chrono::milliseconds prompt_wait = std::chrono::seconds(60));

  KeyringLookup Find(const KeyringAccount& account) override;
  KeyringAnswer Store(const KeyringAccount& account, std::string_view password) override;
  KeyringAnswer Remove(const KeyringAccount& account) override;

 private:
  std::chrono::milliseconds answer_wait_;
  std::chrono::milliseconds prompt_wait_;
};

// The keyring the program uses: the Secret Service, unless another was put in its place. Its
// calls run one at a time in the order they were made, with those of CallKeyringThen and
// AwaitKeyring: a lookup never overtakes a store made before it.
PasswordKeyring& ProgramKeyring();
// Puts `keyring` (not owned; it must outlive its use) in place of the program's; null puts the
// Secret Service back. Tests use it to stand in a keyring of their own.
void SetProgramKeyring(PasswordKeyring* keyring);

// A keyring call may wait seconds for the bus and a minute for the user to unlock the keyring;
// a window goes on meanwhile. Each call runs on a thread of its own that owns what it works on,
// so that its caller may stop waiting (a cancelled send) and leave it to finish alone.
//
// Runs `done` on `context`'s thread once `work` has finished, unless `context` is gone by then.
void CallKeyringThen(QObject* context, std::function<void()> work, std::function<void()> done);
// Runs `serve` on this thread every few milliseconds until `work` has finished. Whatever `serve`
// raises ends the wait; the work goes on alone.
void AwaitKeyring(std::function<void()> work, const std::function<void()>& serve);
// Waits up to `limit` for every keyring call made so far to finish, then runs on this thread
// what was to follow each (CallKeyringThen's `done`, such as a store's record in the settings
// file), for a program about to end.
void FinishKeyringCalls(std::chrono::milliseconds limit);

}  // namespace tovrel::app
