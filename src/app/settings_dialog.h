#pragma once

#include <QCheckBox>
#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_layout.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tovrel::store {
class RegistryStore;
}

namespace tovrel::app {

class ComposeWindow;

// Edits everything the program stores: the main account, the SMTP login and the extra sender
// identities. It has no store of its own: it works through the compose window's store and has
// the window reload its sender list after a change.
class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SettingsDialog(ComposeWindow* compose);
  ~SettingsDialog() override;

  // Refills RemoveCombo from the extra identity slots.
  void LoadRemoveList();
  // Stores the identity typed in OtherName and OtherEmail as a new slot.
  void AddIdentity();

  // Opening the dialog (modal or not) fills it from the store once it is shown.
  int exec() override;
  void open() override;

  void FormShow();
  void Button1Click();  // OK
  void Button2Click();  // Cancel
  void Button3Click();  // Help
  void AddButtonClick();
  void RemoveButtonClick();
  // The user chose a security: a port box holding the usual port of another choice takes the
  // usual one of this; a port of the user's own stays.
  void SecurityComboSelect();
  // Opens the sign-in dialog; what it was left with is stored with OK.
  void SignInButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter in a field moves on to the next one, as Tab does (but adds in the boxes of a new
  // address); it never closes the dialog.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void LayoutLabels();
  void AddMnemonicsAndNames();
  void AddSentCopyBox();
  void AddPlainPasswordBox();
  // Fills the password box (when asked to) from the keyring, off the window's thread.
  void AskKeyring(Account account, bool show_password);
  void ShowPassword(const Account& account, bool show_password);
  // While the keyring works on the password, the line says so (nullptr: it is done); OK waits
  // for a lookup and is off while a password is stored.
  void SetKeyringBusy(const char* notice);
  // The one line under the login boxes: a port that does not go with the security, else what
  // the keyring is doing, else where the password is.
  void ShowNotice();
  // The line above the Sign-in button: whether the account signs in with OAuth 2.0, and as whom
  // (a sign-in the keyring keeps is asked for off the window's thread).
  void AskOAuthState(const Account& account);
  void ShowOAuthState();
  // The name the provider knows the account by: the user name, else the sender address.
  std::string SignInName() const;

  ComposeWindow* compose_;
  store::RegistryStore& registry_;

  QLineEdit* from_name_box_ = nullptr;
  QLineEdit* from_email_box_ = nullptr;
  QLineEdit* smtp_server_box_ = nullptr;
  QLineEdit* port_box_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
  QPushButton* button3_ = nullptr;
  QGroupBox* group_box1_ = nullptr;
  QLineEdit* other_name_ = nullptr;
  QLineEdit* other_email_ = nullptr;
  QPushButton* add_button_ = nullptr;
  QGroupBox* group_box2_ = nullptr;
  QComboBox* remove_combo_ = nullptr;
  QPushButton* remove_button_ = nullptr;
  QGroupBox* group_box3_ = nullptr;
  QLineEdit* user_name_box_ = nullptr;
  QLineEdit* password_box_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label9_ = nullptr;
  QLabel* password_place_label_ = nullptr;
  QComboBox* security_combo_ = nullptr;
  QCheckBox* sent_copy_box_ = nullptr;
  QCheckBox* plain_password_box_ = nullptr;
  QPushButton* sign_in_button_ = nullptr;
  QLabel* oauth_state_label_ = nullptr;
  bool oauth_signed_in_ = false;
  int oauth_serial_ = 0;
  std::optional<OAuthSettings> oauth_change_;
  std::optional<std::string> refresh_change_;
  std::vector<QLabel*> field_labels_;
  PasswordPlace shown_place_ = PasswordPlace::ppSettingsFile;
  const char* keyring_busy_ = nullptr;
  bool password_edited_ = false;
  bool password_stored_ = false;
  bool ok_after_lookup_ = false;
  int keyring_serial_ = 0;  // the keyring's answers to an earlier opening are not wanted
  bool opening_ = false;    // opened, and the showing that loads the boxes has not come yet
};

}  // namespace tovrel::app
