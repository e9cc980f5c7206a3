#pragma once

// Access tokens for the OAuth 2.0 login: from the user's token command, or from the refresh
// token at the provider's token endpoint. Both wait synchronously, with a limit.

#include <chrono>
#include <map>
#include <string>

#include "app/app_errors.h"
#include "app/oauth_settings.h"

namespace tovrel::app {

// No token to be had: the command failed, the endpoint refused, or nobody signed in. The send
// stops with the text; it needs the user, not a later try.
class TokenError : public AppError {
 public:
  using AppError::AppError;
};
// The token endpoint could not be reached or did not answer in time: a later try may pass.
class TokenUnreachable : public TokenError {
 public:
  using TokenError::TokenError;
};
// The provider no longer takes the saved sign-in (invalid_grant): only a new sign-in helps.
class SignInRefused : public TokenError {
 public:
  using TokenError::TokenError;
};

struct TokenGrant {
  std::string access_token;
  std::string refresh_token;  // empty: the provider kept the one it had
};

inline constexpr std::chrono::milliseconds kTokenCommandLimit = std::chrono::seconds(30);
// For the whole request, however slowly the answer trickles in.
inline constexpr std::chrono::milliseconds kTokenRequestLimit = std::chrono::seconds(60);
// A token answer is a few hundred bytes; the token command's first line a few thousand.
inline constexpr int kTokenAnswerLimit = 64 * 1024;
inline constexpr int kTokenCommandLineLimit = 64 * 1024;

// Runs `command` through /bin/sh -c in a process group of its own; its first line of output is
// the token. A command that fails, prints nothing or outlives `limit` raises TokenError with its
// exit status and the first line of its error output, and so does a first line longer than
// kTokenCommandLineLimit. While it runs, the window's send pump has its turns; a cancel there
// (SendCancelled) and the limit end the whole group.
std::string RunTokenCommand(const std::string& command,
                            std::chrono::milliseconds limit = kTokenCommandLimit);

// POSTs `form` to the token endpoint over HTTPS with verified certificates (a CA file named in
// SSL_CERT_FILE is trusted as well, as OpenSSL's own programs do) and reads the JSON answer. A
// URL that is not https, a redirect and an answer beyond kTokenAnswerLimit raise TokenError; an
// endpoint out of reach, silent or outliving `limit` raises TokenUnreachable.
// The answer's "error" raises TokenError, SignInRefused for invalid_grant. The request is made
// by the services module; one that cannot be loaded raises TokenError as well.
TokenGrant RequestToken(const std::string& token_url,
                        const std::multimap<std::string, std::string>& form,
                        std::chrono::milliseconds limit = kTokenRequestLimit);

// A fresh access token for the settings and the refresh token kept for them.
TokenGrant ObtainAccessToken(const OAuthSettings& settings, const std::string& refresh_token);

}  // namespace tovrel::app
