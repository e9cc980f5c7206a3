#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/registry_store.h"

class QAction;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace tovrel::http {
class HttpClient;
}
namespace tovrel::message {
class Message;
}
namespace tovrel::net {
class SmtpClient;
}

namespace tovrel::app {

class AboutBox;
class SettingsDialog;

// The main window: a sender chosen from the stored identities, recipients, subject, body and
// attachments, and Send. Creating it processes the command line (which may send at once);
// showing it runs the first-run check.
class ComposeWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `args` are the command-line arguments after the program name.
  explicit ComposeWindow(const std::vector<std::string>& args = {}, QWidget* parent = nullptr);
  ~ComposeWindow() override;

  // The settings dialog opened by the Settings menu item and the first-run check.
  void set_settings_dialog(SettingsDialog* dialog) { settings_dialog_ = dialog; }
  // The About box shown by Help > About.
  void set_about_box(AboutBox* box) { about_box_ = box; }

  store::RegistryStore& registry() { return registry_; }

  // Refills FromBox from the stored identities.
  void LoadIdentities();
  // The sender name (index 0) or one item of the comma-text split of FromBox's text.
  std::string GetFromPart(int index) const;
  // The send command: the window's fields become one message delivered through SMTP, and the
  // fields are emptied. Returns false when it was refused for lack of a recipient. Failures are
  // raised; the fields then keep everything, the client is disconnected and the message emptied,
  // so that pressing Send again sends the same message once.
  bool SendMail();

  // Set when the command line asked to send and the program should end without being shown;
  // `exit_status` is then 0 when the message was sent and 1 when it was not.
  bool termination_requested() const { return termination_requested_; }
  int exit_status() const { return exit_status_; }

  // Event handlers, as the menu, buttons and window events call them.
  void FormCreate(const std::vector<std::string>& args);
  void FormShow();
  void AttachClick();
  void SendButtonClick();
  void QuitButtonClick();
  void Quit1Click();
  void Wordwrap1Click();
  void Settings1Click();
  void Help2Click();
  void FAQ1Click();
  void Checkforupdates1Click();
  void About1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void LayoutLabels();
  void SetStatus(const std::string& text);
  std::string ReadSetting(const std::string& section, const std::string& name);
  void ClearFields();
  // Puts the body lines of an unattended send into MsgBox, once the window is to stay open.
  void ShowUnshownBody();

  store::RegistryStore registry_;
  std::unique_ptr<net::SmtpClient> smtp_;
  std::unique_ptr<message::Message> message_;
  std::unique_ptr<http::HttpClient> http_;

  SettingsDialog* settings_dialog_ = nullptr;
  AboutBox* about_box_ = nullptr;

  QWidget* form_ = nullptr;
  QComboBox* from_box_ = nullptr;
  QLineEdit* to_box_ = nullptr;
  QLineEdit* cc_box_ = nullptr;
  QLineEdit* bcc_box_ = nullptr;
  QLineEdit* subject_box_ = nullptr;
  QPushButton* attach_ = nullptr;
  QListWidget* attach_box_ = nullptr;
  QPlainTextEdit* msg_box_ = nullptr;
  QPushButton* send_button_ = nullptr;
  QPushButton* quit_button_ = nullptr;
  QLineEdit* hidden_box_ = nullptr;
  QLabel* status_panel_ = nullptr;
  QFileDialog* open_dialog_ = nullptr;
  std::vector<QLabel*> field_labels_;
  // The "-f" body of an unattended send, kept out of MsgBox: filling a text box with a long body
  // costs many times what sending it does, and the window only stays when the send fails.
  std::optional<std::vector<std::string>> unshown_body_;

  bool shown_once_ = false;
  bool termination_requested_ = false;
  int exit_status_ = 0;
};

}  // namespace tovrel::app
