#include "app/compose_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/error_report.h"
#include "app/form_style.h"
#include "app/help_commands.h"
#include "app/program_locale.h"
#include "app/qt_text.h"
#include "app/settings_dialog.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "http/http_client.h"
#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

namespace {

// The window's client area as it was designed: the form above the status bar.
constexpr int kFormWidth = 364;
constexpr int kFormHeight = 532;
constexpr int kStatusHeight = 19;
constexpr int kLeft = 334;
constexpr int kTop = 117;

}  // namespace

ComposeWindow::ComposeWindow(const std::vector<std::string>& args, QWidget* parent)
    : QMainWindow(parent),
      smtp_(std::make_unique<net::SmtpClient>()),
      message_(std::make_unique<message::Message>()),
      http_(std::make_unique<http::HttpClient>()) {
  // Header and body character sets follow the text the window hands over.
  smtp_->set_locale(ProgramLocale());
  setObjectName(QStringLiteral("composeWindow"));
  setWindowTitle(QString::fromLatin1(texts::kComposeCaption));
  registry_.set_base_key(texts::kBaseKey);
  BuildControls();
  BuildMenu();
  ShrinkUntilCaptionsFit(this, [this] { LayoutLabels(); });
  resize(kFormWidth, menuBar()->sizeHint().height() + kFormHeight + kStatusHeight);
  move(kLeft, kTop);
  RunReported([&] { FormCreate(args); }, this);
  if (!termination_requested_) ShowUnshownBody();
}

ComposeWindow::~ComposeWindow() = default;

void ComposeWindow::BuildControls() {
  setFont(DialogFont());
  form_ = new QWidget(this);
  form_->setObjectName(QStringLiteral("form"));
  form_->setFixedSize(kFormWidth, kFormHeight);
  setCentralWidget(form_);

  auto edit = [this](const char* name, int top) {
    auto* box = new QLineEdit(form_);
    box->setObjectName(QString::fromLatin1(name));
    Place(box, 72, top, 209, 21);
    return box;
  };
  from_box_ = new QComboBox(form_);
  from_box_->setObjectName(QStringLiteral("FromBox"));
  from_box_->setEditable(true);
  from_box_->setInsertPolicy(QComboBox::NoInsert);  // typing picks no new list entry
  Place(from_box_, 72, 24, 209, 21);
  to_box_ = edit("ToBox", 56);
  cc_box_ = edit("CCBox", 88);
  bcc_box_ = edit("BCCBox", 120);
  subject_box_ = edit("SubjectBox", 152);

  const QFont label_font = FormFontPixels(QStringLiteral("Arial"), 13);
  const std::pair<const char*, QWidget*> labels[] = {{texts::kFromLabel, from_box_},
                                                     {texts::kToLabel, to_box_},
                                                     {texts::kCcLabel, cc_box_},
                                                     {texts::kBccLabel, bcc_box_},
                                                     {texts::kSubjectLabel, subject_box_}};
  for (const auto& [caption, field] : labels) {
    auto* label = new QLabel(QString::fromLatin1(caption), form_);
    label->setFont(label_font);
    label->setBuddy(field);
    field_labels_.push_back(label);
  }

  attach_ = new QPushButton(QString::fromLatin1(texts::kAttach), form_);
  attach_->setObjectName(QStringLiteral("Attach"));
  Place(attach_, 16, 192, 75, 25);
  attach_box_ = new QListWidget(form_);
  attach_box_->setObjectName(QStringLiteral("AttachBox"));
  Place(attach_box_, 104, 192, 177, 25);

  msg_box_ = new QPlainTextEdit(form_);
  msg_box_->setObjectName(QStringLiteral("MsgBox"));
  msg_box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  msg_box_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  msg_box_->setTabChangesFocus(true);  // Tab moves on, as in every other field
  Place(msg_box_, 8, 240, 345, 241);

  send_button_ = new QPushButton(QString::fromLatin1(texts::kSend), form_);
  send_button_->setObjectName(QStringLiteral("SendButton"));
  Place(send_button_, 16, 496, 75, 25);
  quit_button_ = new QPushButton(QString::fromLatin1(texts::kQuit), form_);
  quit_button_->setObjectName(QStringLiteral("QuitButton"));
  Place(quit_button_, 104, 496, 75, 25);
  hidden_box_ = new QLineEdit(form_);
  hidden_box_->setObjectName(QStringLiteral("HiddenBox"));
  Place(hidden_box_, 312, 496, 17, 21);
  hidden_box_->setVisible(false);

  // The order of the design: the fields a person fills most come first.
  QWidget* tab_order[] = {from_box_,    to_box_,      subject_box_, msg_box_,
                          send_button_, quit_button_, cc_box_,      bcc_box_,
                          attach_,      attach_box_,  hidden_box_};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }

  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setFixedHeight(kStatusHeight);
  status_panel_ = new QLabel(statusBar());
  status_panel_->setObjectName(QStringLiteral("SimplePanel"));
  statusBar()->addWidget(status_panel_, 1);

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
  };
  QMenu* file = menu("File1", texts::kFileMenu);
  item(file, "Quit1", texts::kQuit, &ComposeWindow::Quit1Click);
  QMenu* edit = menu("Edit1", texts::kEditMenu);
  item(edit, "Wordwrap1", texts::kWordWrap, &ComposeWindow::Wordwrap1Click);
  item(edit, "Settings1", texts::kSettings, &ComposeWindow::Settings1Click);
  QMenu* help = menu("Help1", texts::kHelpMenu);
  item(help, "Help2", texts::kHelp, &ComposeWindow::Help2Click);
  item(help, "FAQ1", texts::kFaq, &ComposeWindow::FAQ1Click);
  item(help, "Checkforupdates1", texts::kCheckForUpdates, &ComposeWindow::Checkforupdates1Click);
  item(help, "About1", texts::kAbout, &ComposeWindow::About1Click);
}

void ComposeWindow::LayoutLabels() {
  for (QLabel* label : field_labels_) PlaceLabel(label, label->buddy(), 16);
}

void ComposeWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_once_) return;
  shown_once_ = true;
  // Let the window appear before the first-run check may open a modal dialog over it.
  QTimer::singleShot(0, this, [this] { RunReported([this] { FormShow(); }, this); });
}

std::string ComposeWindow::ReadSetting(const std::string& section, const std::string& name) {
  registry_.set_target_key(section);
  registry_.set_target_value(name);
  return registry_.ReadString();
}

void ComposeWindow::SetStatus(const std::string& text) { status_panel_->setText(FromText(text)); }

void ComposeWindow::LoadIdentities() {
  from_box_->clear();
  from_box_->setEditText(QString());
  const int count = StrToInt(ReadSetting("ident", "numOfIdents"));
  QString main_entry;
  for (int k = 0; k <= count; ++k) {
    const std::string slot = std::to_string(k);
    const std::string name = ReadSetting("ident", "nameId" + slot);
    const std::string address = ReadSetting("ident", "emailId" + slot);
    if (k == 0) main_entry = FromText(name + address);
    if (!name.empty()) from_box_->addItem(FromText(name + address));
  }
  // Adding the first item selects it; the text must stay the main account's entry.
  from_box_->setEditText(main_entry);
}

std::string ComposeWindow::GetFromPart(int index) const {
  const auto items = CommaTextSplit(ToText(from_box_->currentText()));
  const int count = static_cast<int>(items.size());
  if (index == 0 && count == 4) return items[0] + " " + items[1] + " " + items[2];
  if (index == 0 && count == 3) return items[0] + " " + items[1];
  if (index < 0 || index >= count) return {};
  return items[static_cast<std::size_t>(index)];
}

void ComposeWindow::FormShow() {
  registry_.set_base_key(texts::kBaseKey);
  if (ReadSetting("frst", "") == "a") {
    registry_.WriteString("b");
    if (settings_dialog_ != nullptr) settings_dialog_->exec();
    return;
  }
  LoadIdentities();
}

void ComposeWindow::AttachClick() {
  // Made on first use: building a file dialog is a good part of the start-up time, and an
  // unattended send never needs one. Kept afterwards, so it reopens in the last folder.
  if (open_dialog_ == nullptr) {
    open_dialog_ = new QFileDialog(this);
    open_dialog_->setObjectName(QStringLiteral("OpenDialog1"));
    open_dialog_->setFileMode(QFileDialog::ExistingFile);
    open_dialog_->setAcceptMode(QFileDialog::AcceptOpen);
  }
  if (open_dialog_->exec() != QDialog::Accepted) return;
  const QStringList files = open_dialog_->selectedFiles();
  if (!files.isEmpty()) attach_box_->addItem(files.first());
}

void ComposeWindow::SendButtonClick() {
  SetStatus(texts::kSending);
  if (SendMail()) {
    SetStatus(texts::kSent);
  } else {
    SetStatus("");  // refused before anything was sent
  }
}

void ComposeWindow::QuitButtonClick() { close(); }

void ComposeWindow::Quit1Click() { close(); }

void ComposeWindow::Wordwrap1Click() {
  msg_box_->setLineWrapMode(msg_box_->lineWrapMode() == QPlainTextEdit::NoWrap
                                ? QPlainTextEdit::WidgetWidth
                                : QPlainTextEdit::NoWrap);
}

void ComposeWindow::Settings1Click() {
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
  if (about_box_ != nullptr) ShowAboutBox(*about_box_);
}

}  // namespace tovrel::app
