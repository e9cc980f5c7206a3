#pragma once

// How the account signs in with OAuth 2.0, as the store keeps it (settings_layout reads and
// writes it), and the endpoints of the providers TovrelMail knows.

#include <string>
#include <string_view>

namespace tovrel::app {

inline constexpr std::string_view kProviderGoogle = "google";
inline constexpr std::string_view kProviderMicrosoft = "microsoft";
inline constexpr std::string_view kProviderCustom = "custom";

struct OAuthEndpoints {
  std::string auth_url;
  std::string token_url;
  std::string scope;
};

struct OAuthSettings {
  bool enabled = false;  // stored "auth" is "oauth2"; else the password login
  std::string provider;  // google, microsoft or custom
  std::string client_id;
  std::string client_secret;  // only where the provider issues one to installed programs
  OAuthEndpoints custom;      // the endpoints of "custom"
  // A command whose first line of output is an access token; when set, the built-in flow is
  // not used at all.
  std::string token_command;

  // The published endpoints and SMTP scope of a known provider, else the custom ones.
  OAuthEndpoints endpoints() const;
};

}  // namespace tovrel::app
