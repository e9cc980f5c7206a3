#include "app/password_keyring.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <functional>
#include <string>

#include "app/desktop_session.h"
#include "app/service_calls.h"

namespace tovrel::app {

namespace {

PasswordKeyring* replacement = nullptr;

// Short enough that a window served between two looks stays smooth.
constexpr int kAwaitSliceMs = 25;

// Not parented: it lives until its work has finished, whoever stopped waiting for it.
QThread* KeyringThread(std::function<void()> work) {
  QThread* thread = QThread::create(std::move(work));
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  return thread;
}

// The services module, when a keyring can be asked at all. Where no bus can answer (an unattended
// send from a plain shell, cron, a container) the module and its libraries are not even loaded.
// Without the module no keyring can be asked either: as if none answered.
const ServiceCalls* KeyringServices() {
  if (!SessionBusMayAnswer()) return nullptr;
  std::string failure;
  return Services(failure);
}

}  // namespace

SecretServiceKeyring::SecretServiceKeyring(std::chrono::milliseconds answer_wait,
                                           std::chrono::milliseconds prompt_wait)
    : answer_wait_(answer_wait), prompt_wait_(prompt_wait) {}

KeyringLookup SecretServiceKeyring::Find(const KeyringAccount& account) {
  const ServiceCalls* calls = KeyringServices();
  return calls != nullptr ? calls->find_password(account, answer_wait_, prompt_wait_)
                          : KeyringLookup{};
}

KeyringAnswer SecretServiceKeyring::Store(const KeyringAccount& account,
                                          std::string_view password) {
  const ServiceCalls* calls = KeyringServices();
  return calls != nullptr ? calls->store_password(account, password, answer_wait_, prompt_wait_)
                          : KeyringAnswer::kaNoKeyring;
}

KeyringAnswer SecretServiceKeyring::Remove(const KeyringAccount& account) {
  const ServiceCalls* calls = KeyringServices();
  return calls != nullptr ? calls->remove_password(account, answer_wait_, prompt_wait_)
                          : KeyringAnswer::kaNoKeyring;
}

PasswordKeyring& ProgramKeyring() {
  static SecretServiceKeyring secret_service;
  return replacement != nullptr ? *replacement : secret_service;
}

void SetProgramKeyring(PasswordKeyring* keyring) { replacement = keyring; }

void CallKeyringThen(QObject* context, std::function<void()> work, std::function<void()> done) {
  QThread* thread = KeyringThread(std::move(work));
  // Queued onto the context's thread by Qt, and dropped with the context.
  QObject::connect(thread, &QThread::finished, context, std::move(done));
  thread->start();
}

void AwaitKeyring(std::function<void()> work, const std::function<void()>& serve) {
  const QPointer<QThread> thread = KeyringThread(std::move(work));
  thread->start();
  while (thread != nullptr && !thread->wait(QDeadlineTimer(kAwaitSliceMs))) serve();
}

}  // namespace tovrel::app
