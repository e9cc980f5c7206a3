#include "app/settings_dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "app/compose_window.h"
#include "app/error_report.h"
#include "app/form_style.h"
#include "app/help_commands.h"
#include "app/qt_text.h"
#include "app/settings_layout.h"
#include "app/sign_in_dialog.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

constexpr int kClientWidth = 482;
// The form's rows end with the sent copy and the sign-in lines; the buttons come below them.
constexpr int kClientHeight = 380;
constexpr int kButtonTop = 346;
constexpr int kLeft = 192;
constexpr int kTop = 114;

// The choices of the security drop-down in the order shown, and the port each usually takes.
struct SecurityChoice {
  net::TlsMode security;
  const char* caption;
  const char* usual_port;
};
constexpr SecurityChoice kSecurityChoices[] = {
    {net::TlsMode::tmNone, texts::kSecurityNone, "25"},
    {net::TlsMode::tmStartTls, texts::kSecurityStartTls, "587"},
    {net::TlsMode::tmImplicit, texts::kSecurityTls, "465"},
};

int SecurityIndex(net::TlsMode security) {
  for (int i = 0; i < static_cast<int>(std::size(kSecurityChoices)); ++i) {
    if (kSecurityChoices[i].security == security) return i;
  }
  return 0;
}

net::TlsMode SecurityAt(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kSecurityChoices))) {
    return net::TlsMode::tmNone;
  }
  return kSecurityChoices[index].security;
}

}  // namespace

SettingsDialog::SettingsDialog(ComposeWindow* compose)
    : QDialog(compose), compose_(compose), registry_(compose->registry()) {
  setObjectName(QStringLiteral("settingsDialog"));
  setWindowTitle(QString::fromLatin1(texts::kSettingsCaption));
  setModal(true);
  BuildControls();
  AddMnemonicsAndNames();
  ShrinkUntilCaptionsFit(this, [this] { LayoutLabels(); });
  setFixedSize(kClientWidth, kClientHeight);
  move(kLeft, kTop);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::BuildControls() {
  setFont(DialogFont());
  auto edit = [](QWidget* parent, const char* name, int left, int top, int width) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    Place(box, left, top, width, 21);
    return box;
  };
  auto button = [](QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    Place(b, left, top, 75, 25);
    return b;
  };
  auto group = [this](const char* name, const char* title, int left, int top, int width,
                      int height) {
    auto* g = new QGroupBox(QString::fromLatin1(title), this);
    g->setObjectName(QString::fromLatin1(name));
    Place(g, left, top, width, height);
    return g;
  };
  auto field_label = [this](QWidget* parent, const char* caption, QWidget* field) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setBuddy(field);
    field_labels_.push_back(label);
  };

  label1_ = new QLabel(QString::fromLatin1(texts::kMainAccount), this);
  label1_->setObjectName(QStringLiteral("Label1"));
  from_name_box_ = edit(this, "FromNameBox", 88, 40, 137);
  from_email_box_ = edit(this, "FromEmailBox", 88, 72, 137);
  smtp_server_box_ = edit(this, "SMTPServerBox", 88, 104, 137);
  port_box_ = edit(this, "PortBox", 88, 136, 41);
  field_label(this, texts::kFromName, from_name_box_);
  field_label(this, texts::kFromEmail, from_email_box_);
  field_label(this, texts::kSmtpServer, smtp_server_box_);
  field_label(this, texts::kPort, port_box_);
  // No button is the default: Enter in a box stores nothing and closes nothing.
  button1_ = button(this, "Button1", texts::kOk, 96, kButtonTop);
  button2_ = button(this, "Button2", texts::kCancel, 184, kButtonTop);
  button3_ = button(this, "Button3", texts::kHelp, 272, kButtonTop);

  group_box1_ = group("GroupBox1", texts::kAddAddress, 240, 16, 233, 137);
  other_name_ = edit(group_box1_, "OtherName", 72, 24, 121);
  other_email_ = edit(group_box1_, "OtherEmail", 72, 64, 121);
  field_label(group_box1_, texts::kName, other_name_);
  field_label(group_box1_, texts::kEmail, other_email_);
  add_button_ = button(group_box1_, "AddButton", texts::kAdd, 14, 104);

  group_box2_ = group("GroupBox2", texts::kRemoveAddress, 240, 168, 233, 121);
  remove_combo_ = new QComboBox(group_box2_);
  remove_combo_->setObjectName(QStringLiteral("RemoveCombo"));
  remove_combo_->setEditable(true);
  remove_combo_->setInsertPolicy(QComboBox::NoInsert);
  Place(remove_combo_, 8, 24, 209, 21);
  remove_button_ = button(group_box2_, "RemoveButton", texts::kRemove, 8, 56);

  group_box3_ = group("GroupBox3", texts::kAuthentication, 16, 168, 185, 121);
  user_name_box_ = edit(group_box3_, "UserNameBox", 64, 16, 113);
  password_box_ = edit(group_box3_, "PasswordBox", 64, 48, 113);
  // Anyone near the screen would read it; what is stored is unchanged.
  password_box_->setEchoMode(QLineEdit::Password);
  field_label(group_box3_, texts::kUsername, user_name_box_);
  field_label(group_box3_, texts::kPassword, password_box_);
  // The hint fills the login box; the one free place near it is under it, left of OK.
  sign_in_button_ = button(this, "SignInButton", texts::kSignInButton, 16, kButtonTop);
  // Right above the button it belongs to: whether OAuth 2.0 is in use, and for whom.
  oauth_state_label_ = new QLabel(this);
  oauth_state_label_->setObjectName(QStringLiteral("OAuthStateLabel"));
  oauth_state_label_->setGeometry(16, 326, 457, 16);
  label9_ = new QLabel(QString::fromLatin1(texts::kLoginHint), group_box3_);
  label9_->setObjectName(QStringLiteral("Label9"));
  label9_->setWordWrap(true);
  label9_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont italic = font();
  italic.setItalic(true);
  label9_->setFont(italic);
  // Under the login boxes, in the one free row above the buttons. Laid out with the longest of
  // its texts, so that the fonts are chosen for all.
  password_place_label_ =
      new QLabel(FromText(message::FormatText(texts::kPortNeedsPlainStart, {"587"})), this);
  password_place_label_->setObjectName(QStringLiteral("PasswordPlaceLabel"));

  // Beside the port it governs; the row has no room for a caption as well, so the choice names
  // itself to tool tips and screen readers.
  security_combo_ = new QComboBox(this);
  security_combo_->setObjectName(QStringLiteral("SecurityCombo"));
  for (const SecurityChoice& choice : kSecurityChoices) {
    security_combo_->addItem(QString::fromLatin1(choice.caption));
  }
  security_combo_->setToolTip(QString::fromLatin1(texts::kSecurity));
  security_combo_->setAccessibleName(QString::fromLatin1(texts::kSecurity));
  Place(security_combo_, 137, 136, 88, 21);

  // Tab order of the design, group boxes entered in their turn.
  QWidget* tab_order[] = {from_name_box_, from_email_box_, smtp_server_box_, button1_,
                          button2_,       port_box_,       other_name_,      other_email_,
                          add_button_,    remove_combo_,   remove_button_,   user_name_box_,
                          password_box_,  sign_in_button_, button3_,         security_combo_};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }
  AddSentCopyBox();
  AddPlainPasswordBox();

  ConnectReported(button1_, &QPushButton::clicked, this, &SettingsDialog::Button1Click);
  ConnectReported(button2_, &QPushButton::clicked, this, &SettingsDialog::Button2Click);
  ConnectReported(button3_, &QPushButton::clicked, this, &SettingsDialog::Button3Click);
  ConnectReported(add_button_, &QPushButton::clicked, this, &SettingsDialog::AddButtonClick);
  // Enter in the boxes of a new address adds it, as the button beside them does.
  ConnectReported(other_name_, &QLineEdit::returnPressed, this, &SettingsDialog::AddButtonClick);
  ConnectReported(other_email_, &QLineEdit::returnPressed, this, &SettingsDialog::AddButtonClick);
  ConnectReported(remove_button_, &QPushButton::clicked, this, &SettingsDialog::RemoveButtonClick);
  ConnectReported(sign_in_button_, &QPushButton::clicked, this, &SettingsDialog::SignInButtonClick);
  // A port that does not go with the security is pointed out as it is typed or chosen.
  connect(port_box_, &QLineEdit::textChanged, this, &SettingsDialog::ShowNotice);
  connect(security_combo_, &QComboBox::currentIndexChanged, this, &SettingsDialog::ShowNotice);
  connect(password_box_, &QLineEdit::textEdited, this, [this] { password_edited_ = true; });
  // Only the user's choice moves the port; filling the dialog from the store does not.
  ConnectReported(security_combo_, &QComboBox::activated, this,
                  &SettingsDialog::SecurityComboSelect);
}

void SettingsDialog::AddMnemonicsAndNames() {
  // Alt with the underlined letter presses the button or goes to the label's field.
  const std::pair<QAbstractButton*, char> buttons[] = {
      {button1_, 'o'},       {button2_, 'c'},        {button3_, 'h'},      {add_button_, 'd'},
      {remove_button_, 'r'}, {sign_in_button_, 'i'}, {sent_copy_box_, 'k'}};
  for (auto [button, key] : buttons) button->setText(WithMnemonic(button->text(), key));
  const std::pair<QWidget*, char> fields[] = {
      {from_name_box_, 'n'}, {from_email_box_, 'e'}, {smtp_server_box_, 's'}, {port_box_, 'p'},
      {other_name_, 'a'},    {other_email_, 'm'},    {user_name_box_, 'u'},   {password_box_, 'w'}};
  for (QLabel* label : field_labels_) {
    for (auto [field, key] : fields) {
      if (label->buddy() == field) label->setText(WithMnemonic(label->text(), key));
    }
  }
  // The list of addresses to remove has its group's title for a label.
  remove_combo_->setAccessibleName(group_box2_->title().trimmed());
  remove_combo_->setAccessibleDescription(QString::fromLatin1(texts::kRemoveIdentityDescription));
  NameFieldsAfterLabels(this);
  remove_combo_->lineEdit()->setAccessibleName(remove_combo_->accessibleName());
}

void SettingsDialog::AddSentCopyBox() {
  // A setting like the others: in the form, above the buttons that store it.
  sent_copy_box_ = new QCheckBox(QString::fromLatin1(texts::kKeepSentCopy), this);
  sent_copy_box_->setObjectName(QStringLiteral("SentCopyBox"));
  sent_copy_box_->setGeometry(16, 306, 216, 18);
  setTabOrder(security_combo_, sent_copy_box_);
}

void SettingsDialog::AddPlainPasswordBox() {
  // Beside the sent copy's box, the other half of the free row.
  plain_password_box_ = new QCheckBox(QString::fromLatin1(texts::kAllowPlainPassword), this);
  plain_password_box_->setObjectName(QStringLiteral("PlainPasswordBox"));
  plain_password_box_->setGeometry(240, 306, 233, 18);
  setTabOrder(sent_copy_box_, plain_password_box_);
}

void SettingsDialog::LayoutLabels() {
  label1_->adjustSize();
  label1_->move(16, 16);
  for (QLabel* label : field_labels_) {
    const bool top_level = label->parentWidget() == this;
    PlaceLabel(label, label->buddy(), top_level ? 16 : 8, top_level ? 2 : 4);
  }
  password_place_label_->setGeometry(16, 290, 457, 14);
  label9_->setGeometry(8, 72, 169, 39);
  // A wider substitute font may need more lines than the design's; grow downwards within the
  // group box rather than cut the text.
  const int needed = label9_->heightForWidth(169);
  if (needed > 39) label9_->setGeometry(8, 72, 169, std::min(needed, group_box3_->height() - 74));
}

int SettingsDialog::exec() {
  opening_ = true;
  PlaceDialog(this);
  return QDialog::exec();
}

void SettingsDialog::open() {
  opening_ = true;
  PlaceDialog(this);
  QDialog::open();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  // The boxes of a new address take Enter for Add, and keep the focus for the next address.
  QWidget* field = focusWidget();
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
      qobject_cast<QLineEdit*>(field) != nullptr && field != other_name_ && field != other_email_) {
    focusNextChild();
    return;
  }
  QDialog::keyPressEvent(event);
}

void SettingsDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The window system shows the dialog again after it was minimised; what the user typed stays.
  if (!opening_) return;
  opening_ = false;
  RunReported([this] { FormShow(); }, this);
}

void SettingsDialog::FormShow() {
  oauth_change_.reset();
  refresh_change_.reset();
  if (ReadFirstRunMarker(registry_) == kFirstRunDialogOpened) {
    WriteFirstRunMarker(registry_, kFirstRunDone);
    port_box_->setText(FromText(ReadPort(registry_)));
    security_combo_->setCurrentIndex(SecurityIndex(ReadSecurity(registry_)));
    AskKeyring(ReadStoredAccount(registry_), false);
    return;
  }
  const Account account = ReadStoredAccount(registry_);
  smtp_server_box_->setText(FromText(account.smtp_server));
  port_box_->setText(FromText(account.port));
  security_combo_->setCurrentIndex(SecurityIndex(account.security));
  sent_copy_box_->setChecked(account.keep_sent_copy);
  plain_password_box_->setChecked(account.plain_password_allowed);
  user_name_box_->setText(FromText(account.user_name));
  const StoredIdentity main_account = ReadIdentity(registry_, 0);
  from_name_box_->setText(FromText(main_account.name()));
  from_email_box_->setText(FromText(main_account.address));
  LoadRemoveList();
  compose_->LoadIdentities();
  AskKeyring(account, true);
  AskOAuthState(account);
}

void SettingsDialog::AskOAuthState(const Account& account) {
  oauth_signed_in_ = !account.refresh_token.empty();
  ShowOAuthState();
  if (!account.oauth.enabled || oauth_signed_in_) return;
  // The keyring keeps the sign-in where one answers; asked off the window's thread.
  auto lookup = std::make_shared<KeyringLookup>();
  CallKeyringThen(
      this,
      [lookup, &keyring = ProgramKeyring(), entry = RefreshTokenEntry(account)] {
        *lookup = keyring.Find(entry);
      },
      [this, lookup, serial = ++oauth_serial_] {
        if (serial != oauth_serial_) return;
        oauth_signed_in_ = lookup->password && !lookup->password->empty();
        ShowOAuthState();
      });
}

void SettingsDialog::ShowOAuthState() {
  const OAuthSettings settings = oauth_change_.value_or(ReadOAuthSettings(registry_));
  const bool signed_in = refresh_change_ ? !refresh_change_->empty() : oauth_signed_in_;
  std::string text;  // none for the password login
  if (settings.enabled && !settings.token_command.empty()) {
    text = texts::kOAuthTokenCommand;
  } else if (settings.enabled) {
    text = signed_in ? message::FormatText(texts::kOAuthSignedInAs, {SignInName()})
                     : texts::kOAuthNotSignedIn;
  }
  oauth_state_label_->setText(FromText(VisibleText(text)));
}

std::string SettingsDialog::SignInName() const {
  const std::string user_name = ToText(user_name_box_->text());
  return user_name.empty() ? ToText(from_email_box_->text()) : user_name;
}

void SettingsDialog::AskKeyring(Account account, bool show_password) {
  password_box_->clear();
  password_edited_ = false;
  ok_after_lookup_ = false;
  const std::optional<KeyringAccount> entry = KeyringEntryToAsk(account);
  // With no password anywhere, the keyring is asked all the same: the line under the box says
  // where a password typed now will go.
  if (!entry && !account.password.empty()) {
    ShowPassword(account, show_password);
    return;
  }
  SetKeyringBusy(texts::kAskingKeyring);
  auto lookup = std::make_shared<KeyringLookup>();
  CallKeyringThen(
      this,
      [lookup, &keyring = ProgramKeyring(),
       asked = entry.value_or(KeyringAccount{account.smtp_server, account.user_name})] {
        *lookup = keyring.Find(asked);
      },
      [this, lookup, account, show_password, serial = ++keyring_serial_]() mutable {
        if (serial != keyring_serial_) return;  // the dialog was opened again meanwhile
        TakeKeyringLookup(account, *lookup);
        SetKeyringBusy(nullptr);
        ShowPassword(account, show_password);
        // Unless the dialog was closed meanwhile.
        if (std::exchange(ok_after_lookup_, false) && isVisible()) {
          RunReported([this] { Button1Click(); }, this);
        }
      });
}

void SettingsDialog::ShowPassword(const Account& account, bool show_password) {
  // What the user typed meanwhile stays.
  if (show_password && !password_edited_) password_box_->setText(FromText(account.password));
  shown_place_ = account.password_place;
  // Where a password is and where one would go are not the same news.
  password_stored_ = !account.password.empty();
  ShowNotice();
}

void SettingsDialog::SetKeyringBusy(const char* notice) {
  keyring_busy_ = notice;
  button1_->setEnabled(notice != texts::kStoringInKeyring);
  ShowNotice();
}

void SettingsDialog::Button1Click() {
  // OK before the keyring has answered takes effect once it has: only then is it known whether
  // an untouched password box stands for a password the keyring keeps.
  if (keyring_busy_ == texts::kAskingKeyring) {
    ok_after_lookup_ = true;
    return;
  }
  if (keyring_busy_ != nullptr) return;
  const Account account{.smtp_server = ToText(smtp_server_box_->text()),
                        .port = ToText(port_box_->text()),
                        .user_name = ToText(user_name_box_->text()),
                        .password = ToText(password_box_->text()),
                        .security = SecurityAt(security_combo_->currentIndex()),
                        .keep_sent_copy = sent_copy_box_->isChecked(),
                        .plain_password_allowed = plain_password_box_->isChecked()};
  const PasswordChange change = PlanPasswordChange(registry_, account);
  WriteAccountValues(registry_, account);
  if (oauth_change_) WriteOAuthSettings(registry_, *oauth_change_);
  const std::optional<std::string> refresh = refresh_change_;
  const KeyringAccount refresh_entry = RefreshTokenEntry(account);
  WriteIdentity(registry_, 0, ToText(from_name_box_->text()), ToText(from_email_box_->text()));
  compose_->LoadIdentities();
  // A keyring that could not be asked showed no password; left untouched, it keeps its own.
  const bool keep = shown_place_ == PasswordPlace::ppUnreachableKeyring && !password_edited_ &&
                    change.previous == change.entry;
  if (keep && !refresh) {
    accept();
    return;
  }
  SetKeyringBusy(texts::kStoringInKeyring);
  auto answer = std::make_shared<KeyringAnswer>(KeyringAnswer::kaNoKeyring);
  auto refresh_answer = std::make_shared<KeyringAnswer>(KeyringAnswer::kaNoKeyring);
  CallKeyringThen(
      this,
      [answer, refresh_answer, change, keep, refresh, refresh_entry, &keyring = ProgramKeyring()] {
        if (!keep) *answer = ChangeKeyringPassword(keyring, change);
        if (refresh) *refresh_answer = ChangeKeyringRefreshToken(keyring, refresh_entry, *refresh);
      },
      [this, answer, refresh_answer, change, keep, refresh, serial = ++keyring_serial_] {
        RunReported(
            [&] {
              if (!keep) RecordPasswordChange(registry_, change, *answer);
              if (refresh) RecordRefreshToken(registry_, *refresh, *refresh_answer);
            },
            this);
        if (serial != keyring_serial_) return;
        SetKeyringBusy(nullptr);
        accept();
      });
}

void SettingsDialog::SignInButtonClick() {
  Account account;
  account.smtp_server = ToText(smtp_server_box_->text());
  account.user_name = ToText(user_name_box_->text());
  const OAuthSettings settings = oauth_change_.value_or(ReadOAuthSettings(registry_));
  const bool in_store =
      refresh_change_ ? !refresh_change_->empty() : !ReadStoredRefreshToken(registry_).empty();
  const bool refused = !refresh_change_ && ReadSignInRefused(registry_);
  SignInDialog dialog(this, settings, SignInName(), RefreshTokenEntry(account), in_store, refused);
  // Its layout gives its size; only then can it be centred and kept on the screen.
  dialog.adjustSize();
  PlaceDialog(&dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  oauth_change_ = dialog.settings();
  if (dialog.refresh_token_change()) refresh_change_ = dialog.refresh_token_change();
  ShowOAuthState();
}

void SettingsDialog::ShowNotice() {
  const QString port = port_box_->text().trimmed();
  const net::TlsMode security = SecurityAt(security_combo_->currentIndex());
  std::string text;
  if (port == QLatin1String("465") && security != net::TlsMode::tmImplicit) {
    text = texts::kPortNeedsTls;
  } else if ((port == QLatin1String("587") || port == QLatin1String("25")) &&
             security == net::TlsMode::tmImplicit) {
    text = message::FormatText(texts::kPortNeedsPlainStart, {ToText(port)});
  } else if (keyring_busy_ != nullptr) {
    text = keyring_busy_;
  } else {
    switch (shown_place_) {
      case PasswordPlace::ppKeyring:
        text = password_stored_ ? texts::kPasswordInKeyring : texts::kNoPasswordYetKeyring;
        break;
      case PasswordPlace::ppSettingsFile:
        // The last password went to the file, but the keyring was not asked for this one.
        text = password_stored_ ? texts::kPasswordStoredInSettingsFile : texts::kNoPasswordYet;
        break;
      case PasswordPlace::ppNoKeyring:
        text =
            password_stored_ ? texts::kPasswordInSettingsFile : texts::kNoPasswordYetSettingsFile;
        break;
      case PasswordPlace::ppUnreachableKeyring:
        text = std::string(texts::kPasswordKeyringUnreachable) + ".";
        break;
    }
  }
  password_place_label_->setText(FromText(text));
}

void SettingsDialog::Button2Click() { reject(); }

void SettingsDialog::Button3Click() { OpenHelpFile(); }

void SettingsDialog::AddIdentity() {
  AppendIdentity(registry_, ToText(other_name_->text()), ToText(other_email_->text()));
  compose_->LoadIdentities();
}

void SettingsDialog::AddButtonClick() {
  AddIdentity();
  LoadRemoveList();
  compose_->LoadIdentities();
  other_name_->clear();
  other_email_->clear();
}

void SettingsDialog::LoadRemoveList() {
  remove_combo_->clear();
  remove_combo_->setEditText(QString());
  const std::vector<StoredIdentity> identities = ReadIdentities(registry_);
  QStringList entries;
  // The main account (slot 0) is not for removal here.
  for (std::size_t slot = 1; slot < identities.size(); ++slot) {
    if (!identities[slot].removed()) entries.push_back(FromText(identities[slot].removal_entry()));
  }
  remove_combo_->addItems(entries);
  if (!entries.isEmpty()) remove_combo_->setEditText(entries.front());
}

void SettingsDialog::RemoveButtonClick() {
  const auto items = CommaTextSplit(ToText(remove_combo_->currentText()));
  if (items.empty()) return;
  // The address is the last item of the entry.
  if (EmptyIdentitiesWithAddress(registry_, items.back()) > 0) LoadRemoveList();
}

void SettingsDialog::SecurityComboSelect() {
  const int index = security_combo_->currentIndex();
  if (index < 0 || index >= static_cast<int>(std::size(kSecurityChoices))) return;
  const QString port = port_box_->text().trimmed();
  const bool usual = std::any_of(std::begin(kSecurityChoices), std::end(kSecurityChoices),
                                 [&](const SecurityChoice& c) { return port == c.usual_port; });
  if (usual) port_box_->setText(QString::fromLatin1(kSecurityChoices[index].usual_port));
}

}  // namespace tovrel::app
