#include "app/password_keyring.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/desktop_session.h"
#include "app/service_calls.h"

namespace tovrel::app {

namespace {

std::atomic<PasswordKeyring*> replacement = nullptr;

// Short enough that a window served between two looks stays smooth.
constexpr int kAwaitSliceMs = 25;

// The keyring's calls in the order they were made, each on the thread it runs on: a ticket is
// taken where the call is made, and the call waits for its turn where it runs. A lookup that
// overtook a store would show, and then store again, the password the store replaced.
class KeyringTurns {
 public:
  std::uint64_t Take() {
    const std::lock_guard lock(mutex_);
    return next_++;
  }
  void Await(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return serving_ == ticket; });
  }
  void Pass() {
    const std::lock_guard lock(mutex_);
    ++serving_;
    turn_.notify_all();
  }
  // Whether every call taken so far has finished by `deadline`.
  bool AwaitAll(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return turn_.wait_until(lock, deadline, [&] { return serving_ == next_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t next_ = 0;
  std::uint64_t serving_ = 0;
};

KeyringTurns& Turns() {
  static KeyringTurns turns;
  return turns;
}

// Set on a thread while its call has the turn: the keyring calls inside it are part of it.
thread_local bool holds_turn = false;

// Holds the turn of `ticket` for as long as it lives.
class Turn {
 public:
  explicit Turn(std::uint64_t ticket) {
    Turns().Await(ticket);
    holds_turn = true;
  }
  ~Turn() {
    holds_turn = false;
    Turns().Pass();
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
};

// The threads of calls not yet finished, for FinishKeyringCalls; made and looked at on the
// window's thread only.
std::vector<QPointer<QThread>>& StartedThreads() {
  static std::vector<QPointer<QThread>> threads;
  return threads;
}

// Not parented: it lives until its work has finished, whoever stopped waiting for it. Its turn
// is taken now, where the call is made.
QThread* KeyringThread(std::function<void()> work) {
  QThread* thread = QThread::create([ticket = Turns().Take(), work = std::move(work)] {
    const Turn turn(ticket);
    work();
  });
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  std::vector<QPointer<QThread>>& started = StartedThreads();
  std::erase_if(started, [](const QPointer<QThread>& done) { return done == nullptr; });
  started.emplace_back(thread);
  return thread;
}

// The Secret Service, unless a test put another keyring in its place.
PasswordKeyring& KeyringInPlace() {
  static SecretServiceKeyring secret_service;
  PasswordKeyring* stand_in = replacement.load();
  return stand_in != nullptr ? *stand_in : secret_service;
}

// Runs `call` with the keyring in place in its turn; a call made inside a turn is part of it.
template <typename Call>
auto InTurn(const Call& call) {
  PasswordKeyring& keyring = KeyringInPlace();
  if (holds_turn) return call(keyring);
  const Turn turn(Turns().Take());
  return call(keyring);
}

// The program's keyring with its calls in turn.
class OrderedKeyring final : public PasswordKeyring {
 public:
  KeyringLookup Find(const KeyringAccount& account) override {
    return InTurn([&](PasswordKeyring& keyring) { return keyring.Find(account); });
  }
  KeyringAnswer Store(const KeyringAccount& account, std::string_view password) override {
    return InTurn([&](PasswordKeyring& keyring) { return keyring.Store(account, password); });
  }
  KeyringAnswer Remove(const KeyringAccount& account) override {
    return InTurn([&](PasswordKeyring& keyring) { return keyring.Remove(account); });
  }
};

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
  static OrderedKeyring ordered;
  return ordered;
}

void SetProgramKeyring(PasswordKeyring* keyring) { replacement = keyring; }

void CallKeyringThen(QObject* context, std::function<void()> work, std::function<void()> done) {
  QThread* thread = KeyringThread(std::move(work));
  // Queued onto the context's thread by Qt, and dropped with the context.
  QObject::connect(thread, &QThread::finished, context, std::move(done));
  thread->start();
}

void FinishKeyringCalls(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  if (!Turns().AwaitAll(deadline)) return;
  // The last steps of each thread (its finished signal, which queues `done`) follow its turn.
  for (const QPointer<QThread>& thread : StartedThreads()) {
    if (thread != nullptr)
      thread->wait(QDeadlineTimer(deadline - std::chrono::steady_clock::now()));
  }
  QCoreApplication::sendPostedEvents();
}

void AwaitKeyring(std::function<void()> work, const std::function<void()>& serve) {
  const QPointer<QThread> thread = KeyringThread(std::move(work));
  thread->start();
  while (thread != nullptr && !thread->wait(QDeadlineTimer(kAwaitSliceMs))) serve();
}

}  // namespace tovrel::app
