#pragma once

#include <QMainWindow>
#include <QPointer>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/compose_fields.h"
#include "store/registry_store.h"

class QAction;
class QCloseEvent;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTimer;

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
class AttachmentList;
class DraftStore;
struct Draft;
class SendProgress;
struct Account;
class SendPump;
class SettingsDialog;
struct CommandLine;

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

  // The store the settings dialog works through as well.
  store::RegistryStore& registry() { return registry_; }

  // Refills FromBox from the stored identities.
  void LoadIdentities();

  // Set when the command line asked to send and the program should end without being shown.
  bool termination_requested() const { return termination_requested_; }
  // The status the program ends with for a send the command line asked for: 0 when it went
  // out or none was asked for, else that of FailedSendStatus (also when the window stays).
  int exit_status() const { return exit_status_; }
  // Why that send did not go out, as the error report words it; empty when it did.
  const std::string& failed_send_reason() const { return failed_send_reason_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // The size and place are stored whenever the window is put away (not when minimised).
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  // Closing while a send runs asks whether to cancel it; the window closes once it has stopped.
  void closeEvent(QCloseEvent* event) override;
  // Files dropped anywhere on the window (a file manager's text/uri-list of file:// URLs) are
  // attached; anything else dropped is left to the widget under it or ignored.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Event handlers, as the menu, buttons and window events call them.
  void FormCreate(const std::vector<std::string>& args, CommandLine& line);
  void FormShow();
  void AttachClick();
  void SendButtonClick();
  void QuitButtonClick();
  void Quit1Click();
  void SendOutbox1Click();
  void Wordwrap1Click();
  void Settings1Click();
  void Help2Click();
  void FAQ1Click();
  void Checkforupdates1Click();
  void About1Click();

  void BuildControls();
  void FitFieldsToForm();
  // The least size is the described one where the screen has room for it, else the screen's; the
  // fields then scroll.
  void FitToScreen();
  void ShowAttachmentSummary();
  // The success text is for the message just sent; the next one makes it stale.
  void ClearSentStatus();
  // True when the drop carried local files, which are then attached.
  bool TakeDroppedFiles(QDropEvent* event);
  bool AcceptsDrop(const QMimeData* data) const;
  void BuildMenu();
  void LayoutLabels();
  // Wraps the text's long lines or not, and the menu's check mark shows which.
  void SetWordWrap(bool on);
  // Where the Attach dialog opens: the folder of the last file attached, else the home folder.
  QString AttachFolder() const;
  void SetStatus(const std::string& text);
  // The send command over the window's client; false when it was refused for lack of a
  // recipient. Failures are raised.
  bool SendMail(const ComposeFields& fields);
  // False, after telling the user, when the To field is empty.
  bool CheckRecipient(const ComposeFields& fields);
  // With a pump: locks every control that could change the message or start another send, and
  // shows the progress; without: the other way round.
  void SetSending(SendPump* pump);
  void CancelSend();
  ComposeFields Fields() const;
  void ShowFields(const ComposeFields& fields);
  void ClearFields();
  // After a send the server took for the recipients `served` only: To, CC and BCC keep the rest.
  void KeepFieldsForTheRest(const std::vector<std::string>& served);
  // Drafts and the close guard: whatever the user typed (or a link filled in) outlives a crash,
  // and leaves only when sent or discarded.
  bool HasContent() const;
  void SetUpDrafts();
  void SaveDraft();
  void OfferDrafts();
  void ShowDraft(const Draft& draft);
  // After a failure that may pass: asks whether to keep the message in the outbox and keeps it;
  // false when the user says no or it could not be kept (said in a box of its own).
  bool OfferOutbox(message::Message& mail, const std::exception& failure, const Account& account);
  // The copy in Sent of a message that went out; the failure's text when it could not be kept.
  std::string KeepSentCopy(const message::Message& mail);
  // The outbox from the window: the status bar counts the kept messages and File > Send Outbox
  // is there for them. SendKeptMessages sends them as --send-outbox does (at the start, every ten
  // minutes and from the menu, `asked`), the window served meanwhile; what did not go out is
  // said in the status bar, and in a box as well when asked.
  void ShowOutboxCount();
  void SendKeptMessages(bool asked);
  // True when the window may close: nothing to lose, or the user discards it.
  bool MayDiscard();

  store::RegistryStore registry_;
  std::unique_ptr<net::SmtpClient> smtp_;
  std::unique_ptr<http::HttpClient> http_;

  SettingsDialog* settings_dialog_ = nullptr;
  AboutBox* about_box_ = nullptr;

  QScrollArea* scroll_ = nullptr;
  QWidget* form_ = nullptr;
  QComboBox* from_box_ = nullptr;
  QLineEdit* to_box_ = nullptr;
  QLineEdit* cc_box_ = nullptr;
  QLineEdit* bcc_box_ = nullptr;
  QLineEdit* subject_box_ = nullptr;
  QPushButton* attach_ = nullptr;
  AttachmentList* attach_box_ = nullptr;
  QLabel* attach_summary_ = nullptr;
  QPlainTextEdit* msg_box_ = nullptr;
  QPushButton* send_button_ = nullptr;
  QPushButton* quit_button_ = nullptr;
  QLineEdit* hidden_box_ = nullptr;
  QLabel* status_panel_ = nullptr;
  SendProgress* send_progress_ = nullptr;
  // Whatever could start a second send or change the message while one runs.
  std::vector<QWidget*> send_locked_widgets_;
  std::vector<QAction*> send_locked_actions_;
  QAction* word_wrap_ = nullptr;
  std::string last_attachment_;
  std::vector<QLabel*> field_labels_;

  std::unique_ptr<DraftStore> draft_;
  QTimer* draft_timer_ = nullptr;

  QAction* send_outbox_ = nullptr;
  QLabel* outbox_count_ = nullptr;
  QTimer* outbox_timer_ = nullptr;

  bool shown_once_ = false;
  QSize fitted_frame_;  // the window manager's frame as the last fit to the screen knew it
  // The pump of the send in progress from the window, or nullptr.
  SendPump* pump_ = nullptr;
  bool close_after_send_ = false;
  bool close_question_open_ = false;
  QPointer<QWidget> focus_before_send_;
  bool termination_requested_ = false;
  int exit_status_ = 0;
  std::string failed_send_reason_;
};

}  // namespace tovrel::app
