#pragma once

// The calls that need the desktop's keyring library or Qt's network module. They live in a
// module of their own, loaded on first use: a send with the password in the settings file (or
// none) never maps those libraries and their dozen dependencies. The window module and the
// tests link them in instead and say so with UseLinkedServices.

#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "app/password_keyring.h"

namespace tovrel::app {

// The token endpoint's answer, handed over without an exception: the module keeps copies of
// our exception types of its own.
struct TokenReply {
  // kUnreachable: no answer at all (refused, timed out, no route), which may pass.
  enum class Outcome { kGranted, kFailed, kSignInAgain, kUnreachable };
  Outcome outcome = Outcome::kFailed;
  std::string access_token;
  std::string refresh_token;
  std::string failure;  // the user's text unless granted
};

struct ServiceCalls {
  KeyringLookup (*find_password)(const KeyringAccount& account,
                                 std::chrono::milliseconds answer_wait,
                                 std::chrono::milliseconds prompt_wait);
  KeyringAnswer (*store_password)(const KeyringAccount& account, std::string_view password,
                                  std::chrono::milliseconds answer_wait,
                                  std::chrono::milliseconds prompt_wait);
  KeyringAnswer (*remove_password)(const KeyringAccount& account,
                                   std::chrono::milliseconds answer_wait,
                                   std::chrono::milliseconds prompt_wait);
  TokenReply (*request_token)(const std::string& token_url,
                              const std::multimap<std::string, std::string>& form,
                              std::chrono::milliseconds limit);
};

// What the services module exports for the program: const ServiceCalls* (), never null.
inline constexpr const char* kServicesEntryName = "tovrel_services";
// Its file name, found where the window module is.
inline constexpr const char* kServicesModuleName = "tovrelmail_services.so";

// The calls linked in, or else the module's, loaded by the first caller of any thread and kept.
// Null when the module cannot be loaded; `failure` then says why.
const ServiceCalls* Services(std::string& failure);
// Puts calls linked into the program in place of the module's; null goes back to the module.
void UseLinkedServices(const ServiceCalls* calls);

}  // namespace tovrel::app
