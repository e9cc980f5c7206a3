#pragma once

// The OAuth 2.0 part of the Settings: how the account signs in, with whom, and the sign-in
// itself. Its values are taken by the Settings dialog's OK; the dialog's own OK only keeps them.

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "app/oauth_settings.h"
#include "app/password_keyring.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tovrel::app {

class OAuthSignIn;

class SignInDialog : public QDialog {
 public:
  // `who` names the account in the status line; `entry` is where the keyring keeps its sign-in;
  // `refused`: the provider refused the saved sign-in, and a new one is needed.
  SignInDialog(QWidget* parent, const OAuthSettings& settings, const std::string& who,
               const KeyringAccount& entry, bool signed_in_in_store, bool refused = false);
  ~SignInDialog() override;

  OAuthSettings settings() const;
  // The refresh token to keep after the Settings dialog's OK: a new one, or empty after
  // "Sign out"; nothing when neither was pressed.
  const std::optional<std::string>& refresh_token_change() const { return refresh_change_; }
  // Tests follow the provider's page themselves.
  OAuthSignIn* sign_in() const { return sign_in_.get(); }
  void SignIn();
  void SignOut();

 private:
  void ShowState();
  void ProviderChanged();

  QComboBox* auth_combo_;
  QComboBox* provider_combo_;
  QLineEdit* client_id_box_;
  QLineEdit* client_secret_box_;
  QLineEdit* auth_url_box_;
  QLineEdit* token_url_box_;
  QLineEdit* scope_box_;
  QLineEdit* token_command_box_;
  QLabel* state_label_;
  QPushButton* sign_in_button_;
  QPushButton* sign_out_button_;
  std::string who_;
  std::unique_ptr<OAuthSignIn> sign_in_;
  std::optional<std::string> refresh_change_;
  bool signed_in_ = false;
  bool refused_ = false;
  bool in_settings_file_ = false;  // no keyring answered: the sign-in stays in user.reg
  const char* busy_ = nullptr;
  std::string failure_;
};

}  // namespace tovrel::app
