#include "app/compose_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHideEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "app/app_errors.h"
#include "app/attachment_list.h"
#include "app/command_line.h"
#include "app/drafts_store.h"
#include "app/error_report.h"
#include "app/form_style.h"
#include "app/help_commands.h"
#include "app/message_box.h"
#include "app/outbox.h"
#include "app/password_keyring.h"
#include "app/qt_text.h"
#include "app/send_command.h"
#include "app/send_progress.h"
#include "app/send_pump.h"
#include "app/sent_copy.h"
#include "app/settings_dialog.h"
#include "app/settings_layout.h"
#include "app/text_file.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "http/http_client.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/send_observer.h"
#include "net/smtp_client.h"

namespace tovrel::app {

namespace {

// The window's client area as it was designed: the form above the status bar.
constexpr int kFormWidth = 364;
constexpr int kFormHeight = 532;
constexpr int kStatusHeight = 19;
constexpr int kLeft = 334;
constexpr int kTop = 117;
// What the window gains in height goes to the body, but one part in kAttachShare to the
// attachment box, so that an enlarged window lists several files.
constexpr int kAttachShare = 4;
// A line edit cuts what it is given at 32,767 characters unless told otherwise; a list of a few
// thousand recipients is longer than that.
constexpr int kUnlimitedLength = std::numeric_limits<int>::max();

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList joined;
  for (const auto& line : lines) joined.push_back(FromText(line));
  return joined.join(QLatin1Char('\n'));
}

// The account for a send from the window: the keyring is asked off the window's thread while
// the send's observer has its turns (and the send may be cancelled).
Account ReadAccountServing(store::RegistryStore& registry, net::ObservedSend& observed) {
  Account account = ReadStoredAccount(registry);
  if (const std::optional<KeyringAccount> entry = KeyringEntryToAsk(account, KeyringUse::kuSend)) {
    auto lookup = std::make_shared<KeyringLookup>();
    AwaitKeyring(
        [lookup, &keyring = ProgramKeyring(), asked = *entry] { *lookup = keyring.Find(asked); },
        [&observed] { observed.TakeTurn(); });
    TakeKeyringLookup(account, *lookup, KeyringUse::kuSend);
  }
  return account;
}

// Where a refresh token the provider rotated during a send from the window goes: the keyring,
// asked off the window's thread, then the store. The provider may already have dropped the old
// token: the new one is kept even when the send fails later. An empty one is a sign-in the
// provider refused, which the store notes for the Sign-in dialog.
RefreshTokenKeeper KeepRotatedToken(QObject* owner, store::RegistryStore& registry,
                                    const Account& account) {
  return [owner, &registry, entry = RefreshTokenEntry(account)](const std::string& token) {
    auto answer = std::make_shared<KeyringAnswer>();
    CallKeyringThen(
        owner,
        [answer, entry, token, &keyring = ProgramKeyring()] {
          *answer = ChangeKeyringRefreshToken(keyring, entry, token);
        },
        [&registry, answer, token] {
          RecordRefreshToken(registry, token, *answer, token.empty());
        });
  };
}

}  // namespace

ComposeWindow::ComposeWindow(const std::vector<std::string>& args, QWidget* parent)
    : QMainWindow(parent),
      smtp_(std::make_unique<net::SmtpClient>()),
      http_(std::make_unique<http::HttpClient>()) {
  setObjectName(QStringLiteral("composeWindow"));
  setWindowTitle(QString::fromLatin1(texts::kComposeCaption));
  // The dialogs take it from here. The theme's, when installed, matches the desktop entry's.
  setWindowIcon(
      QIcon::fromTheme(QStringLiteral("tovrelmail"), QIcon(QStringLiteral(":/tovrelmail.svg"))));
  BuildControls();
  BuildMenu();
  ShrinkUntilCaptionsFit(this, [this] { LayoutLabels(); });
  resize(kFormWidth, menuBar()->sizeHint().height() + kFormHeight + kStatusHeight);
  move(kLeft, kTop);
  CommandLine line;
  RunReported([&] { FormCreate(args, line); }, this);
  // Filled only when the window is to stay: a long body costs a text box many times what sending
  // it does, and an unattended send that went through ends the program unseen.
  if (!termination_requested_) {
    try {
      SetWordWrap(ReadWordWrap(registry_));
    } catch (const std::exception&) {
      // A store that cannot be read leaves the text wrapped, as it always was.
    }
    ShowFields(line.fields);
    try {
      const std::string stored = ReadWindowGeometry(registry_);
      if (!stored.empty())
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(stored)));
    } catch (const std::exception&) {
      // A place that cannot be read is not worth a message: the window opens where it always did.
    }
    FitToScreen();
    SetUpDrafts();
  }
}

ComposeWindow::~ComposeWindow() {
  // The attachment box outlives this part of the window: its model is cleared while the base
  // class takes the children down, and nothing of a window already gone may hear of it.
  if (attach_box_ != nullptr) attach_box_->model()->disconnect(this);
}

void ComposeWindow::BuildControls() {
  setFont(DialogFont());
  // The described size is the least the form takes; it may grow, and the fields with it. On a
  // screen too small for it the form scrolls rather than putting Send out of reach.
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("FormScroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  // Only the fields take the keyboard: the first focus belongs to From.
  scroll_->setFocusPolicy(Qt::NoFocus);
  form_ = new QWidget(scroll_);
  form_->setObjectName(QStringLiteral("form"));
  form_->setMinimumSize(kFormWidth, kFormHeight);
  scroll_->setWidget(form_);
  setCentralWidget(scroll_);

  auto edit = [this](const char* name, int top) {
    auto* box = new QLineEdit(form_);
    box->setObjectName(QString::fromLatin1(name));
    box->setMaxLength(kUnlimitedLength);
    Place(box, 72, top, 209, 21);
    return box;
  };
  from_box_ = new QComboBox(form_);
  from_box_->setObjectName(QStringLiteral("FromBox"));
  from_box_->setEditable(true);
  from_box_->lineEdit()->setMaxLength(kUnlimitedLength);
  from_box_->setInsertPolicy(QComboBox::NoInsert);  // typing picks no new list entry
  Place(from_box_, 72, 24, 209, 21);
  to_box_ = edit("ToBox", 56);
  cc_box_ = edit("CCBox", 88);
  bcc_box_ = edit("BCCBox", 120);
  subject_box_ = edit("SubjectBox", 152);

  const QFont label_font = FormFontPixels(QStringLiteral("Arial"), 13);
  // Alt with the underlined letter goes to the field; F, E and H open the menus, S is Send.
  const struct {
    const char* caption;
    char key;
    QWidget* field;
    const char* description;
  } labels[] = {{texts::kFromLabel, 'r', from_box_, texts::kFromDescription},
                {texts::kToLabel, 't', to_box_, texts::kToDescription},
                {texts::kCcLabel, 'c', cc_box_, texts::kCcDescription},
                {texts::kBccLabel, 'b', bcc_box_, texts::kBccDescription},
                {texts::kSubjectLabel, 'u', subject_box_, ""}};
  for (const auto& [caption, key, field, description] : labels) {
    field->setAccessibleDescription(QString::fromLatin1(description));
    auto* label = new QLabel(WithMnemonic(QString::fromLatin1(caption), key), form_);
    label->setFont(label_font);
    label->setBuddy(field);
    field_labels_.push_back(label);
  }

  attach_ = new QPushButton(WithMnemonic(QString::fromLatin1(texts::kAttach), 'a'), form_);
  attach_->setAccessibleDescription(QString::fromLatin1(texts::kAttachDescription));
  attach_->setObjectName(QStringLiteral("Attach"));
  Place(attach_, 16, 192, 75, 25);
  attach_box_ = new AttachmentList(form_);
  attach_box_->setObjectName(QStringLiteral("AttachBox"));
  attach_box_->setAccessibleName(QString::fromLatin1(texts::kAttachmentsName));
  attach_box_->setAccessibleDescription(QString::fromLatin1(texts::kAttachmentsDescription));
  Place(attach_box_, 104, 192, 177, 25);
  attach_summary_ = new QLabel(form_);
  attach_summary_->setObjectName(QStringLiteral("AttachSummary"));
  attach_summary_->setAccessibleName(QString::fromLatin1(texts::kAttachmentSummaryName));
  Place(attach_summary_, 104, 218, 249, 20);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(attach_box_->model(), signal, this, &ComposeWindow::ShowAttachmentSummary);
  }
  connect(attach_box_->model(), &QAbstractItemModel::modelReset, this,
          &ComposeWindow::ShowAttachmentSummary);

  msg_box_ = new QPlainTextEdit(form_);
  msg_box_->setObjectName(QStringLiteral("MsgBox"));
  msg_box_->setAccessibleName(QString::fromLatin1(texts::kMessageTextName));
  msg_box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  msg_box_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  msg_box_->setTabChangesFocus(true);  // Tab moves on, as in every other field
  Place(msg_box_, 8, 240, 345, 241);

  send_button_ = new QPushButton(WithMnemonic(QString::fromLatin1(texts::kSend), 's'), form_);
  send_button_->setObjectName(QStringLiteral("SendButton"));
  Place(send_button_, 16, 496, 75, 25);
  quit_button_ = new QPushButton(WithMnemonic(QString::fromLatin1(texts::kQuit), 'q'), form_);
  quit_button_->setObjectName(QStringLiteral("QuitButton"));
  Place(quit_button_, 104, 496, 75, 25);
  // The design's scratch field for the command line, which works on plain text and leaves it empty.
  hidden_box_ = new QLineEdit(form_);
  hidden_box_->setObjectName(QStringLiteral("HiddenBox"));
  hidden_box_->setMaxLength(kUnlimitedLength);
  Place(hidden_box_, 312, 496, 17, 21);
  hidden_box_->setVisible(false);

  // The order of the design: the fields a person fills most come first.
  QWidget* tab_order[] = {from_box_,    to_box_,      subject_box_, msg_box_,
                          send_button_, quit_button_, cc_box_,      bcc_box_,
                          attach_,      attach_box_,  hidden_box_};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }
  // What is typed at once goes to the first field of that order.
  from_box_->setFocus();
  NameFieldsAfterLabels(form_);

  // The fields would take a dropped file as the text of its address; the window attaches it.
  setAcceptDrops(true);
  for (QWidget* field : form_->findChildren<QWidget*>()) field->installEventFilter(this);
  form_->installEventFilter(this);
  msg_box_->viewport()->installEventFilter(this);

  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setFixedHeight(kStatusHeight);
  status_panel_ = new QLabel(statusBar());
  status_panel_->setObjectName(QStringLiteral("SimplePanel"));
  status_panel_->setAccessibleName(QString::fromLatin1(texts::kStatusName));
  statusBar()->addWidget(status_panel_, 1);
  outbox_count_ = new QLabel(statusBar());
  outbox_count_->setObjectName(QStringLiteral("OutboxCount"));
  outbox_count_->setVisible(false);
  statusBar()->addPermanentWidget(outbox_count_);
  send_progress_ = new SendProgress(statusBar());
  statusBar()->addPermanentWidget(send_progress_);
  connect(send_progress_, &SendProgress::cancelRequested, this, &ComposeWindow::CancelSend);
  send_locked_widgets_ = {from_box_, to_box_,     cc_box_,  bcc_box_,    subject_box_,
                          attach_,   attach_box_, msg_box_, send_button_};

  for (QLineEdit* field : {from_box_->lineEdit(), to_box_, cc_box_, bcc_box_, subject_box_}) {
    connect(field, &QLineEdit::textEdited, this, &ComposeWindow::ClearSentStatus);
  }
  // Filling the body from the command line or clearing it after a send comes before any success
  // text, so a change of the body is always the user's.
  connect(msg_box_, &QPlainTextEdit::textChanged, this, &ComposeWindow::ClearSentStatus);
  connect(from_box_, &QComboBox::activated, this, &ComposeWindow::ClearSentStatus);

  ConnectReported(attach_, &QPushButton::clicked, this, &ComposeWindow::AttachClick);
  ConnectReported(send_button_, &QPushButton::clicked, this, &ComposeWindow::SendButtonClick);
  ConnectReported(quit_button_, &QPushButton::clicked, this, &ComposeWindow::QuitButtonClick);
}

void ComposeWindow::BuildMenu() {
  auto menu = [this](const char* name, const char* caption) {
    QMenu* m = menuBar()->addMenu(QString::fromLatin1(caption));
    m->setObjectName(QString::fromLatin1(name));
    return m;
  };
  auto item = [this](QMenu* m, const char* name, const char* caption,
                     void (ComposeWindow::*handler)()) {
    QAction* action = m->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    ConnectReported(action, &QAction::triggered, this, handler);
    return action;
  };
  QMenu* file = menu("File1", texts::kFileMenu);
  send_outbox_ = item(file, "SendOutbox1", texts::kSendOutbox, &ComposeWindow::SendOutbox1Click);
  send_outbox_->setEnabled(false);
  // A run from the timer of the system may have emptied or filled the outbox meanwhile.
  connect(file, &QMenu::aboutToShow, this, &ComposeWindow::ShowOutboxCount);
  // Through the window's close, like the title bar's button: whatever a close asks first applies.
  item(file, "Quit1", texts::kQuit, &ComposeWindow::Quit1Click)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  QMenu* edit = menu("Edit1", texts::kEditMenu);
  word_wrap_ = item(edit, "Wordwrap1", texts::kWordWrap, &ComposeWindow::Wordwrap1Click);
  word_wrap_->setCheckable(true);
  word_wrap_->setChecked(true);
  // The settings hold the account the send uses; the update check and the About box would hold
  // the send up behind their own waits and dialogs.
  send_locked_actions_.push_back(
      item(edit, "Settings1", texts::kSettings, &ComposeWindow::Settings1Click));
  QMenu* help = menu("Help1", texts::kHelpMenu);
  item(help, "Help2", texts::kHelp, &ComposeWindow::Help2Click)
      ->setShortcut(QKeySequence(QKeySequence::HelpContents));
  item(help, "FAQ1", texts::kFaq, &ComposeWindow::FAQ1Click);
  send_locked_actions_.push_back(item(help, "Checkforupdates1", texts::kCheckForUpdates,
                                      &ComposeWindow::Checkforupdates1Click));
  send_locked_actions_.push_back(item(help, "About1", texts::kAbout, &ComposeWindow::About1Click));

  // Send from any field; a locked Send button ignores the click while a send runs.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    auto* send = new QShortcut(keys, this);
    send->setObjectName(QStringLiteral("SendShortcut"));
    connect(send, &QShortcut::activated, send_button_, &QPushButton::click);
  }
  auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancel->setObjectName(QStringLiteral("CancelShortcut"));
  connect(cancel, &QShortcut::activated, this, &ComposeWindow::CancelSend);
}

void ComposeWindow::LayoutLabels() {
  for (QLabel* label : field_labels_) PlaceLabel(label, label->buddy(), 16);
}

void ComposeWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The window manager's frame is known now.
  FitToScreen();
  if (shown_once_) return;
  shown_once_ = true;
  connect(windowHandle(), &QWindow::screenChanged, this, &ComposeWindow::FitToScreen);
  // Let the window appear before the first-run check may open a modal dialog over it.
  QTimer::singleShot(0, this, [this] {
    RunReported([this] { FormShow(); }, this);
    // Kept messages go out when the window starts and every ten minutes while it is open.
    outbox_timer_ = new QTimer(this);
    outbox_timer_->setObjectName(QStringLiteral("OutboxTimer"));
    outbox_timer_->setInterval(std::chrono::minutes(10));
    connect(outbox_timer_, &QTimer::timeout, this, [this] { SendKeptMessages(false); });
    outbox_timer_->start();
    SendKeptMessages(false);
  });
}

void ComposeWindow::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  if (event->spontaneous()) return;
  try {
    WriteWindowGeometry(registry_, saveGeometry().toBase64().toStdString());
  } catch (const std::exception&) {
    // On the way out a size that could not be kept is not worth a message.
  }
}

void ComposeWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // The window manager frames the window after it was shown: the title bar must fit as well.
  if (isVisible() && FrameExtra(this) != fitted_frame_) FitToScreen();
}

void ComposeWindow::FitToScreen() {
  const QSize described(kFormWidth, menuBar()->sizeHint().height() + kFormHeight + kStatusHeight);
  const QSize frame = FrameExtra(this);
  fitted_frame_ = frame;
  const QSize room = screen()->availableGeometry().size() - frame;
  QSize least = described;
  // A form that scrolls up and down needs the bar's width beside it, or it scrolls sideways too.
  if (described.height() > room.height()) {
    least.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  }
  setMinimumSize(least.boundedTo(room));
  if (width() > room.width() || height() > room.height()) resize(size().boundedTo(room));
  KeepOnScreen(this, QPoint(x(), y()), frame);
}

void ComposeWindow::ShowAttachmentSummary() {
  attach_summary_->setText(FromText(attach_box_->Summary()));
}

void ComposeWindow::ClearSentStatus() {
  if (status_panel_->text() == QString::fromLatin1(texts::kSent)) SetStatus("");
}

void ComposeWindow::SetStatus(const std::string& text) {
  status_panel_->setText(FromText(VisibleText(text)));
  // A screen reader hears the new status without the focus going there.
  status_panel_->setAccessibleDescription(status_panel_->text());
  QAccessibleEvent said(status_panel_, QAccessible::Alert);
  QAccessible::updateAccessibility(&said);
}

void ComposeWindow::LoadIdentities() {
  from_box_->clear();
  from_box_->setEditText(QString());
  const std::vector<StoredIdentity> identities = ReadIdentities(registry_);
  QStringList entries;
  entries.reserve(static_cast<qsizetype>(identities.size()));
  for (const StoredIdentity& identity : identities) {
    if (!identity.removed()) entries.push_back(FromText(identity.from_entry()));
  }
  from_box_->addItems(entries);
  // Adding the first item selects it; the text must stay the main account's entry.
  from_box_->setEditText(FromText(identities.front().from_entry()));
}

void ComposeWindow::FormCreate(const std::vector<std::string>& args, CommandLine& line) {
  try {
    // The body box shows a body file's lines, also when a send asked for here fails.
    ReadCommandLine(args, line, BodyFileUse::bfLoad);
    if (!line.unattended_send) return;
    LoadIdentities();
    line.fields.from = ToText(from_box_->currentText());
    const bool sent = SendMail(line.fields);
    // The program ends either way: an unattended run must not wait for a person.
    termination_requested_ = true;
    exit_status_ = sent ? kExitSent : kExitNotSent;
    if (!sent) failed_send_reason_ = texts::kNoRecipient;
  } catch (const std::exception& error) {
    // The window stays for the user to mend and send; whoever asked for the send still learns
    // that it did not go out, however the window is closed afterwards.
    if (AsksToSend(args)) {
      exit_status_ = FailedSendStatus(error);
      failed_send_reason_ = ErrorReportText(error.what());
    }
    throw;
  }
}

void ComposeWindow::FormShow() {
  if (ReadFirstRunMarker(registry_) == kFirstRunPending) {
    WriteFirstRunMarker(registry_, kFirstRunDialogOpened);
    const FocusReturn focus_return(this);
    if (settings_dialog_ != nullptr) settings_dialog_->exec();
    return;
  }
  LoadIdentities();
  OfferDrafts();
}

QString ComposeWindow::AttachFolder() const {
  const std::vector<std::string> paths = attach_box_->Paths();
  const std::string& last = paths.empty() ? last_attachment_ : paths.back();
  if (last.empty()) return QDir::homePath();
  const QString folder = QFileInfo(QFile::decodeName(last.c_str())).absolutePath();
  return QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void ComposeWindow::AttachClick() {
  // Made for each use and gone with it: a dialog kept for the next time kept its name box's
  // completion list as well, which stayed over the window after Enter and took its keys.
  QFileDialog dialog(this, QString::fromLatin1(texts::kAttachDialogTitle), AttachFolder());
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  bool accepted = false;
  {
    const FocusReturn focus_return(this);
    accepted = dialog.exec() == QDialog::Accepted;
    for (QCompleter* completer : dialog.findChildren<QCompleter*>()) completer->popup()->hide();
  }
  if (!accepted) return;
  for (const QString& file : dialog.selectedFiles()) {
    const QByteArray path = QFile::encodeName(file);
    last_attachment_.assign(path.constData(), static_cast<std::size_t>(path.size()));
    attach_box_->AddPath(last_attachment_);
  }
}

void ComposeWindow::SendButtonClick() {
  // The window's events are served while it sends; nothing they bring may start another send.
  if (pump_ != nullptr) return;
  const ComposeFields fields = Fields();
  if (!CheckRecipient(fields)) return;  // refused before anything was sent
  SetStatus(texts::kSending);
  bool cancelled = false;
  bool asked = false;  // whether to keep the message after a failure that may pass
  bool kept = false;
  std::string copy_failure;
  Account account;
  try {
    SendPump pump(*send_progress_);
    SetSending(&pump);
    struct Unlock {
      ComposeWindow* window;
      ~Unlock() { window->SetSending(nullptr); }
    } unlock{this};
    try {
      net::ObservedSend observed(*smtp_, pump);
      // "Sending email ..." is on the screen before the first byte goes out, however fast the
      // server answers: the status bar takes its new layout, then the window is painted.
      pump.Yield();
      repaint();
      account = ReadAccountServing(registry_, observed);
      DeliverMail(
          fields, account, *smtp_,
          [&](message::Message& mail, const std::exception* failure) {
            if (failure == nullptr) {
              if (account.keep_sent_copy) copy_failure = KeepSentCopy(mail);
              return;
            }
            asked = IsTemporarySendFailure(*failure);
            kept = asked && OfferOutbox(mail, *failure, account);
          },
          KeepRotatedToken(this, registry_, account));
    } catch (const net::SendCancelled&) {
      cancelled = true;
    }
  } catch (const std::exception& error) {
    const auto* partly = dynamic_cast<const PartlySentError*>(&error);
    SetStatus(partly == nullptr
                  ? std::string(texts::kSendFailed)
                  : message::FormatText(
                        texts::kPartlySentStatus,
                        {std::to_string(partly->served().size()),
                         std::to_string(partly->served().size() + partly->unserved().size())}));
    // The outbox question named the failure already.
    if (!asked) ReportSendError(error, account, this);
    if (kept) {
      ClearFields();
      if (draft_) draft_->Remove();
      SetStatus(texts::kKeptInOutbox);
    } else if (partly != nullptr) {
      KeepFieldsForTheRest(partly->served());
    }
    return;
  } catch (...) {
    SetStatus(texts::kSendFailed);
    throw;
  }
  if (cancelled) {
    // The user asked for it: a box to dismiss would only stand in the way of the next try.
    SetStatus(close_after_send_ ? "" : texts::kSendCancelled);
    if (close_after_send_) close();
    return;
  }
  ClearFields();
  if (draft_) draft_->Remove();
  // The send went through all the same; the status bar says what became of the copy.
  SetStatus(copy_failure.empty() ? texts::kSent : copy_failure);
}

bool ComposeWindow::CheckRecipient(const ComposeFields& fields) {
  if (!fields.to.empty()) return true;
  ShowMessageBox(this, texts::kNoRecipient, "", QMessageBox::NoIcon);
  return false;
}

bool ComposeWindow::SendMail(const ComposeFields& fields) {
  if (!CheckRecipient(fields)) return false;
  // What a send from the command line keeps is the same with a display as without one: the copy
  // in Sent, and a refresh token the provider rotated.
  const Account account = ReadAccount(registry_, ProgramKeyring());
  std::string copy_failure;
  DeliverMail(
      fields, account, *smtp_,
      [&](message::Message& mail, const std::exception* failure) {
        if (failure == nullptr && account.keep_sent_copy) copy_failure = KeepSentCopy(mail);
      },
      [&](const std::string& token) {
        RecordRefreshToken(
            registry_, token,
            ChangeKeyringRefreshToken(ProgramKeyring(), RefreshTokenEntry(account), token),
            token.empty());
      });
  // The send went through all the same.
  if (!copy_failure.empty()) {
    std::fprintf(stderr, "%s\n", VisibleText(OneLine(ErrorReportText(copy_failure))).c_str());
  }
  return true;
}

void ComposeWindow::SetSending(SendPump* pump) {
  const bool locking = pump != nullptr;
  // The field that had the focus gets it back; a locked one cannot keep it meanwhile.
  if (locking) focus_before_send_ = focusWidget();
  pump_ = pump;
  for (QWidget* widget : send_locked_widgets_) widget->setEnabled(!locking);
  for (QAction* action : send_locked_actions_) action->setEnabled(!locking);
  if (locking) {
    close_after_send_ = false;
    send_progress_->Start();
  } else {
    send_progress_->Finish();
    if (focus_before_send_ != nullptr) focus_before_send_->setFocus();
  }
  ShowOutboxCount();
}

void ComposeWindow::CancelSend() {
  if (pump_ != nullptr) pump_->RequestCancel();
}

void ComposeWindow::closeEvent(QCloseEvent* event) {
  if (pump_ == nullptr) {
    // A close the send's own question allowed needs no second one.
    if (!close_after_send_ && !MayDiscard()) {
      event->ignore();
      return;
    }
    QMainWindow::closeEvent(event);
    return;
  }
  event->ignore();
  if (pump_->cancel_requested()) {  // asked already; the window closes once the send has stopped
    close_after_send_ = true;
    return;
  }
  if (close_question_open_) return;
  // Asked without waiting: a send held up behind the question would run into the server's
  // time limit.
  close_question_open_ = true;
  OpenMessageBox(this, texts::kCancelSendQuestion, texts::kApplicationTitle, QMessageBox::Question,
                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
                 [this](QMessageBox::StandardButton answer) {
                   close_question_open_ = false;
                   if (answer != QMessageBox::Yes) return;
                   // The send may have ended meanwhile; the window closes all the same.
                   if (pump_ == nullptr) {
                     close();
                     return;
                   }
                   close_after_send_ = true;
                   pump_->RequestCancel();
                 });
}

ComposeFields ComposeWindow::Fields() const {
  ComposeFields fields;
  fields.from = ToText(from_box_->currentText());
  fields.to = ToText(to_box_->text());
  fields.cc = ToText(cc_box_->text());
  fields.bcc = ToText(bcc_box_->text());
  fields.subject = ToText(subject_box_->text());
  fields.body = SplitLines(ToText(msg_box_->toPlainText()));
  fields.attachments = attach_box_->Paths();
  return fields;
}

// The From box is left to the identities.
void ComposeWindow::ShowFields(const ComposeFields& fields) {
  to_box_->setText(FromText(fields.to));
  cc_box_->setText(FromText(fields.cc));
  bcc_box_->setText(FromText(fields.bcc));
  subject_box_->setText(FromText(fields.subject));
  msg_box_->setPlainText(JoinLines(fields.body));
  for (const std::string& path : fields.attachments) attach_box_->AddPath(path);
}

void ComposeWindow::KeepFieldsForTheRest(const std::vector<std::string>& served) {
  const auto rest = [&](const QLineEdit* box) {
    return FromText(UnservedRecipients(ToText(box->text()), served));
  };
  QString to = rest(to_box_);
  QString cc = rest(cc_box_);
  // A send needs someone in To; the copies move up rather than leave the rest unsendable. Blind
  // copies stay blind.
  if (to.isEmpty()) std::swap(to, cc);
  to_box_->setText(to);
  cc_box_->setText(cc);
  bcc_box_->setText(rest(bcc_box_));
}

void ComposeWindow::ClearFields() {
  to_box_->clear();
  cc_box_->clear();
  bcc_box_->clear();
  subject_box_->clear();
  msg_box_->clear();
  attach_box_->clear();
}

bool ComposeWindow::OfferOutbox(message::Message& mail, const std::exception& failure,
                                const Account& account) {
  const std::string question =
      SendErrorText(failure, account) + "\n\n" + texts::kKeepInOutboxQuestion;
  if (ShowMessageBox(this, question, texts::kApplicationTitle, QMessageBox::Warning,
                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes) {
    return false;
  }
  try {
    KeepInOutbox(mail, *smtp_, failure.what());
  } catch (const std::exception& error) {
    ShowMessageBox(this, ErrorReportText(error.what()), texts::kApplicationTitle,
                   QMessageBox::Critical);
    return false;
  }
  return true;
}

std::string ComposeWindow::KeepSentCopy(const message::Message& mail) {
  try {
    StoreSentCopyOf(mail, *smtp_);
  } catch (const std::exception& error) {
    return error.what();
  }
  return {};
}

void ComposeWindow::ShowOutboxCount() {
  const std::size_t count = KeptMessageCount();
  QString text;
  if (count == 1) {
    text = QString::fromLatin1(texts::kOneKeptMessage);
  } else if (count > 1) {
    text = FromText(message::FormatText(texts::kKeptMessages, {std::to_string(count)}));
  }
  outbox_count_->setText(text);
  outbox_count_->setVisible(count > 0);
  send_outbox_->setEnabled(count > 0 && pump_ == nullptr);
}

void ComposeWindow::SendOutbox1Click() { SendKeptMessages(true); }

void ComposeWindow::SendKeptMessages(bool asked) {
  ShowOutboxCount();
  // Never beside a send already running, nor unasked under a dialog, which may be changing the
  // account: the timer comes again.
  if (pump_ != nullptr || !send_outbox_->isEnabled()) return;
  if (!asked && QApplication::activeModalWidget() != nullptr) return;
  SetStatus(texts::kSendingOutbox);
  std::ostringstream lines;
  int status = kExitTryLater;
  try {
    SendPump pump(*send_progress_);
    // The fields stay the user's: only what would start another send waits.
    pump_ = &pump;
    send_progress_->Start();
    send_button_->setEnabled(false);
    send_outbox_->setEnabled(false);
    for (QAction* action : send_locked_actions_) action->setEnabled(false);
    struct Unlock {
      ComposeWindow* window;
      ~Unlock() {
        window->pump_ = nullptr;
        window->send_progress_->Finish();
        window->send_button_->setEnabled(true);
        for (QAction* action : window->send_locked_actions_) action->setEnabled(true);
      }
    } unlock{this};
    net::ObservedSend observed(*smtp_, pump);
    pump.Yield();
    const Account account = ReadAccountServing(registry_, observed);
    status = SendOutbox(account, *smtp_, lines, KeepRotatedToken(this, registry_, account));
  } catch (const std::exception& error) {
    lines << VisibleText(OneLine(error.what())) << '\n';
  }
  ShowOutboxCount();
  if (close_after_send_) {
    // The message in the fields was not the one being sent: closing still asks about it.
    close_after_send_ = false;
    close();
    return;
  }
  std::string said = lines.str();
  if (said.empty()) {
    SetStatus(status == kExitSent ? texts::kOutboxSent : "");
    return;
  }
  // One line for each message that did not go out; the status bar has room for the last.
  said.pop_back();
  const size_t last = said.rfind('\n');
  SetStatus(last == std::string::npos ? said : said.substr(last + 1));
  if (asked) ShowMessageBox(this, said, texts::kApplicationTitle, QMessageBox::Warning);
}

bool ComposeWindow::HasContent() const {
  return !to_box_->text().isEmpty() || !cc_box_->text().isEmpty() || !bcc_box_->text().isEmpty() ||
         !subject_box_->text().isEmpty() || !msg_box_->toPlainText().isEmpty() ||
         attach_box_->count() > 0;
}

bool ComposeWindow::MayDiscard() {
  if (!HasContent()) return true;
  if (ShowMessageBox(this, texts::kDiscardQuestion, texts::kApplicationTitle, QMessageBox::Question,
                     QMessageBox::Discard | QMessageBox::Cancel,
                     QMessageBox::Cancel) != QMessageBox::Discard) {
    return false;
  }
  if (draft_) draft_->Remove();
  return true;
}

void ComposeWindow::SetUpDrafts() {
  draft_ = std::make_unique<DraftStore>();
  draft_timer_ = new QTimer(this);
  draft_timer_->setSingleShot(true);
  // Well within the two seconds a change may wait to reach the disk.
  draft_timer_->setInterval(1000);
  connect(draft_timer_, &QTimer::timeout, this, &ComposeWindow::SaveDraft);
  const auto changed = [this] { draft_timer_->start(); };
  for (QLineEdit* box : {to_box_, cc_box_, bcc_box_, subject_box_}) {
    connect(box, &QLineEdit::textChanged, this, changed);
  }
  connect(from_box_, &QComboBox::currentTextChanged, this, changed);
  connect(msg_box_, &QPlainTextEdit::textChanged, this, changed);
  connect(attach_box_->model(), &QAbstractItemModel::rowsInserted, this, changed);
  connect(attach_box_->model(), &QAbstractItemModel::rowsRemoved, this, changed);
  if (auto* wrap = findChild<QAction*>(QStringLiteral("Wordwrap1"))) {
    connect(wrap, &QAction::triggered, this, changed);
  }
  // What a link filled in is kept as well.
  if (HasContent()) draft_timer_->start();
}

void ComposeWindow::SaveDraft() {
  try {
    if (!HasContent()) {
      draft_->Remove();
      return;
    }
    draft_->Save({Fields(), msg_box_->lineWrapMode() != QPlainTextEdit::NoWrap});
  } catch (const std::exception& error) {
    SetStatus(error.what());
  }
}

void ComposeWindow::OfferDrafts() {
  // A window a link or a command line filled keeps what it was given: a restored draft would
  // replace it. Left-behind drafts wait for a window that starts empty.
  if (!draft_ || HasContent()) return;
  std::vector<std::string> set_aside;
  const auto drafts = DraftStore::LeftBehind(set_aside);
  if (!set_aside.empty()) SetStatus(set_aside.back());
  for (const auto& [path, draft] : drafts) {
    const ButtonCaption restore[] = {{QMessageBox::Yes, texts::kRestoreDraftButton}};
    const auto answer = ShowMessageBox(
        this, texts::kRestoreDraftQuestion, texts::kApplicationTitle, QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::Discard, QMessageBox::Yes, restore);
    if (answer == QMessageBox::Yes) {
      ShowDraft(draft);
      // The old file goes once this window's save holds what it held, now or at a later save.
      draft_->Adopt(path);
      SaveDraft();
      // One message per window: the others are offered at the next start.
      return;
    }
    DraftStore::Drop(path);
  }
}

void ComposeWindow::ShowDraft(const Draft& draft) {
  ClearFields();
  ShowFields(draft.fields);
  if (!draft.fields.from.empty()) from_box_->setEditText(FromText(draft.fields.from));
  SetWordWrap(draft.word_wrap);
}

void ComposeWindow::QuitButtonClick() { close(); }

void ComposeWindow::Quit1Click() { close(); }

void ComposeWindow::Wordwrap1Click() {
  // The check mark has turned already.
  SetWordWrap(word_wrap_->isChecked());
  WriteWordWrap(registry_, word_wrap_->isChecked());
}

void ComposeWindow::SetWordWrap(bool on) {
  msg_box_->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  word_wrap_->setChecked(on);
}

void ComposeWindow::Settings1Click() {
  const FocusReturn focus_return(this);
  if (settings_dialog_ != nullptr) settings_dialog_->exec();
}

// The Help menu's commands belong to the help and update module; they are connected to it where
// the program is put together.
void ComposeWindow::Help2Click() { OpenHelpFile(); }

void ComposeWindow::FAQ1Click() { OpenFaqPage(); }

void ComposeWindow::Checkforupdates1Click() {
  CheckForUpdates(this, *http_, UpdateHost(registry_));
}

void ComposeWindow::About1Click() {
  const FocusReturn focus_return(this);
  if (about_box_ != nullptr) ShowAboutBox(*about_box_);
}

namespace {

// The local files a drag carries; empty when it carries anything else.
std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    const QByteArray bytes = QFile::encodeName(url.toLocalFile());
    paths.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  return paths;
}

}  // namespace

bool ComposeWindow::AcceptsDrop(const QMimeData* data) const {
  // The message of a send in progress is no longer the fields' to change.
  return pump_ == nullptr && !DroppedFiles(data).empty();
}

void ComposeWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (AcceptsDrop(event->mimeData())) event->acceptProposedAction();
}

void ComposeWindow::dropEvent(QDropEvent* event) { TakeDroppedFiles(event); }

bool ComposeWindow::TakeDroppedFiles(QDropEvent* event) {
  if (!AcceptsDrop(event->mimeData())) return false;
  const std::vector<std::string> paths = DroppedFiles(event->mimeData());
  for (const std::string& path : paths) attach_box_->AddPath(path);
  event->acceptProposedAction();
  return true;
}

void ComposeWindow::FitFieldsToForm() {
  // Everything keeps its described place; what the window gains goes to the widths of the
  // fields and to the body's height, and the buttons below the body move down with it.
  const int grow_x = std::max(0, form_->width() - kFormWidth);
  const int grow_y = std::max(0, form_->height() - kFormHeight);
  for (QWidget* field : {static_cast<QWidget*>(from_box_), static_cast<QWidget*>(to_box_),
                         static_cast<QWidget*>(cc_box_), static_cast<QWidget*>(bcc_box_),
                         static_cast<QWidget*>(subject_box_)}) {
    field->resize(209 + grow_x, field->height());
  }
  const int grow_attach = grow_y / kAttachShare;
  attach_box_->resize(177 + grow_x, 25 + grow_attach);
  attach_summary_->setGeometry(104, 218 + grow_attach, 249 + grow_x, attach_summary_->height());
  msg_box_->setGeometry(8, 240 + grow_attach, 345 + grow_x, 241 + grow_y - grow_attach);
  send_button_->move(send_button_->x(), 496 + grow_y);
  quit_button_->move(quit_button_->x(), 496 + grow_y);
  hidden_box_->move(hidden_box_->x(), 496 + grow_y);
}

bool ComposeWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_ && event->type() == QEvent::Resize) FitFieldsToForm();
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (!AcceptsDrop(drag->mimeData())) break;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop:
      if (TakeDroppedFiles(static_cast<QDropEvent*>(event))) return true;
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace tovrel::app
