#pragma once

// The services themselves: the Secret Service through libsecret and the token request through
// Qt's network module. Only the window module, the services module and the tests link them;
// the rest of the program reaches them through Services().

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/service_calls.h"

class QObject;

namespace tovrel::app {

// The calls of this library, for UseLinkedServices or the services module's entry.
const ServiceCalls& LinkedServices();

// The calls one by one, with the contracts of SecretServiceKeyring and RequestToken.
KeyringLookup FindInSecretService(const KeyringAccount& account,
                                  std::chrono::milliseconds answer_wait,
                                  std::chrono::milliseconds prompt_wait);
KeyringAnswer StoreInSecretService(const KeyringAccount& account, std::string_view password,
                                   std::chrono::milliseconds answer_wait,
                                   std::chrono::milliseconds prompt_wait);
KeyringAnswer RemoveFromSecretService(const KeyringAccount& account,
                                      std::chrono::milliseconds answer_wait,
                                      std::chrono::milliseconds prompt_wait);
TokenReply PostTokenRequest(const std::string& token_url,
                            const std::multimap<std::string, std::string>& form,
                            std::chrono::milliseconds limit);
// The same request without waiting: `done` hears the reply once, from the event loop (at once
// for a URL refused before sending). The request's objects are children of `context`, so that
// deleting it ends the request unheard.
void StartTokenRequest(QObject* context, const std::string& token_url,
                       const std::multimap<std::string, std::string>& form,
                       std::chrono::milliseconds limit, std::function<void(TokenReply)> done);

}  // namespace tovrel::app
