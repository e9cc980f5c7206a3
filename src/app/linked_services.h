#pragma once

// The services themselves: the Secret Service through libsecret and the token request through
// Qt's network module. Only the window module, the services module and the tests link them;
// the rest of the program reaches them through Services().

#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "app/service_calls.h"

namespace tovrel::app {

// The calls of this library, for UseLinkedServices or the services module's entry.
const ServiceCalls& LinkedServices();

// Trusts a CA file named in SSL_CERT_FILE as well as the system's (OpenSSL's own programs do);
// for the whole program, so that the sign-in flow's own requests follow the same rule.
void TrustCertificateFileOfEnvironment();

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

}  // namespace tovrel::app
