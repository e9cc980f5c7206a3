#pragma once

// The JSON a token endpoint answers with (RFC 6749 sections 5.1 and 5.2), read into the reply
// the send and the sign-in act on.

#include <string_view>

#include "app/service_calls.h"

namespace tovrel::app {

// Granted with the tokens when the answer holds an access token and no "error" and the transfer
// did not fail; SignInAgain for invalid_grant; else failed, with the provider's error and
// description, or naming `host` with `transfer_failure` (Qt's reason, empty when the transfer
// went well) or that no access token came. Every answer, JSON or not, gives one of the three;
// the failure is one line without control characters.
TokenReply ReadTokenAnswer(std::string_view body, std::string_view host,
                           std::string_view transfer_failure);

}  // namespace tovrel::app
