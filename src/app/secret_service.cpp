// The Secret Service through libsecret, one of the services of linked_services.h.
#include <libsecret/secret.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/linked_services.h"

namespace tovrel::app {

namespace {

// Every entry carries the program's name, so that it can be found (and told apart from other
// programs' entries) with the desktop's keyring tools as well.
constexpr const char* kSchemaName = "org.tovrel.tovrelmail";
constexpr const char* kServiceName = "tovrelmail";

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct SchemaUnref {
  void operator()(SecretSchema* schema) const { secret_schema_unref(schema); }
};

const SecretSchema* Schema() {
  static const std::unique_ptr<SecretSchema, SchemaUnref> schema(secret_schema_new(
      kSchemaName, SECRET_SCHEMA_NONE, "service", SECRET_SCHEMA_ATTRIBUTE_STRING, "server",
      SECRET_SCHEMA_ATTRIBUTE_STRING, "user", SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr));
  return schema.get();
}

// Cancels a blocking call that has not come back when `wait` has passed. The calls themselves
// wait for the bus's own time-out, far longer than a person waits for OK, or for ever when
// something takes the connection but never answers on it.
class Deadline {
 public:
  Deadline(GCancellable* cancellable, std::chrono::milliseconds wait)
      : watcher_([this, cancellable, wait] {
          std::unique_lock lock(mutex_);
          if (!ended_.wait_for(lock, wait, [this] { return done_; })) {
            g_cancellable_cancel(cancellable);
          }
        }) {}
  ~Deadline() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ended_.notify_one();
    watcher_.join();
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread watcher_;  // last: it starts once the members it uses exist
};

// The bus carries attribute values and labels as UTF-8 text without NULs; the store may hold
// other bytes, and such an account simply has no place in the keyring.
bool Utf8(std::string_view text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}
bool Utf8(const KeyringAccount& account) { return Utf8(account.server) && Utf8(account.user); }

struct HashTableUnref {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ValueUnref {
  void operator()(SecretValue* value) const { secret_value_unref(value); }
};

// The attributes an entry is filed under. The table borrows the account's texts.
std::unique_ptr<GHashTable, HashTableUnref> Attributes(const KeyringAccount& account) {
  std::unique_ptr<GHashTable, HashTableUnref> table(g_hash_table_new(g_str_hash, g_str_equal));
  g_hash_table_insert(table.get(), const_cast<char*>("service"), const_cast<char*>(kServiceName));
  g_hash_table_insert(table.get(), const_cast<char*>("server"),
                      const_cast<char*>(account.server.c_str()));
  g_hash_table_insert(table.get(), const_cast<char*>("user"),
                      const_cast<char*>(account.user.c_str()));
  return table;
}

// Connects to the Secret Service and, when it answers, runs `operation` with it and the
// cancellable of the operation's own deadline. False when no service answered in time.
bool Converse(std::chrono::milliseconds answer_wait, std::chrono::milliseconds prompt_wait,
              const std::function<void(SecretService*, GCancellable*)>& operation) {
  GObjectPtr<GDBusConnection> bus;
  GObjectPtr<SecretService> service;
  {
    GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    const Deadline deadline(cancellable.get(), answer_wait);
    bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable.get(), nullptr));
    if (!bus) return false;
    // GLib ends the whole process when the session bus closes; a keyring that goes away must
    // not take the program (or a send in progress) with it.
    g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    // Opening the session is the service's first answer.
    service.reset(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable.get(), nullptr));
  }
  if (service) {
    GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    const Deadline deadline(cancellable.get(), prompt_wait);
    operation(service.get(), cancellable.get());
  }
  const bool answered = service != nullptr;
  // The next operation opens the service again, so that a keyring restarted in between is
  // found rather than a session it no longer knows.
  service.reset();
  secret_service_disconnect();
  return answered;
}

}  // namespace

KeyringLookup FindInSecretService(const KeyringAccount& account,
                                  std::chrono::milliseconds answer_wait,
                                  std::chrono::milliseconds prompt_wait) {
  if (!Utf8(account)) return {};
  KeyringLookup lookup;
  const auto attributes = Attributes(account);
  const bool answered =
      Converse(answer_wait, prompt_wait, [&](SecretService* service, GCancellable* cancellable) {
        GError* error = nullptr;
        const std::unique_ptr<SecretValue, ValueUnref> value(
            secret_service_lookup_sync(service, Schema(), attributes.get(), cancellable, &error));
        if (error != nullptr) {
          // Locked, and the user did not unlock it: read the settings file as if there were none.
          g_error_free(error);
          return;
        }
        lookup.answered = true;
        if (value) {
          gsize length = 0;
          const gchar* bytes = secret_value_get(value.get(), &length);
          lookup.password = std::string(bytes, length);
        }
      });
  if (!answered) return {};
  return lookup;
}

KeyringAnswer StoreInSecretService(const KeyringAccount& account, std::string_view password,
                                   std::chrono::milliseconds answer_wait,
                                   std::chrono::milliseconds prompt_wait) {
  if (!Utf8(account)) return KeyringAnswer::kaNoKeyring;
  const std::string label = "TovrelMail: " + account.user + " on " + account.server;
  const auto attributes = Attributes(account);
  const std::unique_ptr<SecretValue, ValueUnref> value(
      secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain"));
  bool stored = false;
  const bool answered =
      Converse(answer_wait, prompt_wait, [&](SecretService* service, GCancellable* cancellable) {
        GError* error = nullptr;
        stored = secret_service_store_sync(service, Schema(), attributes.get(),
                                           SECRET_COLLECTION_DEFAULT, label.c_str(), value.get(),
                                           cancellable, &error);
        if (error != nullptr) {
          stored = false;
          g_error_free(error);
        }
      });
  if (!answered) return KeyringAnswer::kaNoKeyring;
  return stored ? KeyringAnswer::kaDone : KeyringAnswer::kaRefused;
}

KeyringAnswer RemoveFromSecretService(const KeyringAccount& account,
                                      std::chrono::milliseconds answer_wait,
                                      std::chrono::milliseconds prompt_wait) {
  if (!Utf8(account)) return KeyringAnswer::kaNoKeyring;
  const auto attributes = Attributes(account);
  bool failed = false;
  const bool answered =
      Converse(answer_wait, prompt_wait, [&](SecretService* service, GCancellable* cancellable) {
        GError* error = nullptr;
        // False without an error: there was no entry, which is as good as removed.
        secret_service_clear_sync(service, Schema(), attributes.get(), cancellable, &error);
        if (error != nullptr) {
          failed = true;
          g_error_free(error);
        }
      });
  if (!answered) return KeyringAnswer::kaNoKeyring;
  return failed ? KeyringAnswer::kaRefused : KeyringAnswer::kaDone;
}

}  // namespace tovrel::app
