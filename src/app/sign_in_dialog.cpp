#include "app/sign_in_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>

#include "app/form_style.h"
#include "app/oauth_sign_in.h"
#include "app/qt_text.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

struct ProviderChoice {
  std::string_view stored;
  const char* caption;
};
constexpr ProviderChoice kProviders[] = {{kProviderGoogle, texts::kProviderGoogleName},
                                         {kProviderMicrosoft, texts::kProviderMicrosoftName},
                                         {kProviderCustom, texts::kProviderCustomName}};

QLineEdit* Box(QWidget* parent, const char* name, const std::string& text) {
  auto* box = new QLineEdit(FromText(text), parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

}  // namespace

SignInDialog::SignInDialog(QWidget* parent, const OAuthSettings& settings, const std::string& who,
                           const KeyringAccount& entry, bool signed_in_in_store, bool refused)
    : QDialog(parent), who_(who), signed_in_(signed_in_in_store && !refused), refused_(refused) {
  setObjectName(QStringLiteral("SignInDialog"));
  setWindowTitle(QString::fromLatin1(texts::kSignInCaption));
  auth_combo_ = new QComboBox(this);
  auth_combo_->setObjectName(QStringLiteral("AuthCombo"));
  auth_combo_->addItems(
      {QString::fromLatin1(texts::kAuthPassword), QString::fromLatin1(texts::kAuthOAuth2)});
  auth_combo_->setCurrentIndex(settings.enabled ? 1 : 0);
  provider_combo_ = new QComboBox(this);
  provider_combo_->setObjectName(QStringLiteral("ProviderCombo"));
  int provider_index = 0;
  for (int i = 0; i < static_cast<int>(std::size(kProviders)); ++i) {
    provider_combo_->addItem(QString::fromLatin1(kProviders[i].caption));
    if (settings.provider == kProviders[i].stored) provider_index = i;
  }
  provider_combo_->setCurrentIndex(provider_index);
  client_id_box_ = Box(this, "ClientIdBox", settings.client_id);
  client_secret_box_ = Box(this, "ClientSecretBox", settings.client_secret);
  auth_url_box_ = Box(this, "AuthUrlBox", settings.custom.auth_url);
  token_url_box_ = Box(this, "TokenUrlBox", settings.custom.token_url);
  scope_box_ = Box(this, "ScopeBox", settings.custom.scope);
  token_command_box_ = Box(this, "TokenCommandBox", settings.token_command);
  state_label_ = new QLabel(this);
  state_label_->setObjectName(QStringLiteral("SignInState"));
  state_label_->setWordWrap(true);
  sign_in_button_ = new QPushButton(QString::fromLatin1(texts::kSignIn), this);
  sign_in_button_->setObjectName(QStringLiteral("SignInButton"));
  sign_out_button_ = new QPushButton(QString::fromLatin1(texts::kSignOut), this);
  sign_out_button_->setObjectName(QStringLiteral("SignOutButton"));
  for (QPushButton* button : {sign_in_button_, sign_out_button_}) button->setAutoDefault(false);

  auto* form = new QFormLayout;
  form->addRow(QString::fromLatin1(texts::kAuthenticationLabel), auth_combo_);
  form->addRow(QString::fromLatin1(texts::kProviderLabel), provider_combo_);
  form->addRow(QString::fromLatin1(texts::kClientIdLabel), client_id_box_);
  form->addRow(QString::fromLatin1(texts::kClientSecretLabel), client_secret_box_);
  form->addRow(QString::fromLatin1(texts::kAuthUrlLabel), auth_url_box_);
  form->addRow(QString::fromLatin1(texts::kTokenUrlLabel), token_url_box_);
  form->addRow(QString::fromLatin1(texts::kScopeLabel), scope_box_);
  form->addRow(QString::fromLatin1(texts::kTokenCommandLabel), token_command_box_);
  auto* sign_row = new QHBoxLayout;
  sign_row->addWidget(state_label_, 1);
  sign_row->addWidget(sign_in_button_);
  sign_row->addWidget(sign_out_button_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(sign_row);
  layout->addWidget(buttons);
  setMinimumWidth(420);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(sign_in_button_, &QPushButton::clicked, this, &SignInDialog::SignIn);
  connect(sign_out_button_, &QPushButton::clicked, this, &SignInDialog::SignOut);
  connect(auth_combo_, &QComboBox::currentIndexChanged, this, &SignInDialog::ShowState);
  connect(provider_combo_, &QComboBox::currentIndexChanged, this, &SignInDialog::ProviderChanged);
  connect(token_command_box_, &QLineEdit::textChanged, this, &SignInDialog::ShowState);
  NameFieldsAfterLabels(this);
  ProviderChanged();
  // Whether the keyring keeps a sign-in is asked off the window's thread.
  {
    busy_ = texts::kAskingKeyringSignIn;
    auto lookup = std::make_shared<KeyringLookup>();
    CallKeyringThen(
        this, [lookup, entry, &keyring = ProgramKeyring()] { *lookup = keyring.Find(entry); },
        [this, lookup] {
          busy_ = nullptr;
          in_settings_file_ = !lookup->answered;
          const bool in_keyring = lookup->password && !lookup->password->empty();
          // A refused sign-in the keyring could not forget is no sign-in either.
          if (!refresh_change_ && !refused_) signed_in_ = signed_in_ || in_keyring;
          ShowState();
        });
  }
  ShowState();
}

SignInDialog::~SignInDialog() = default;

OAuthSettings SignInDialog::settings() const {
  OAuthSettings settings;
  settings.enabled = auth_combo_->currentIndex() == 1;
  settings.provider = kProviders[std::max(0, provider_combo_->currentIndex())].stored;
  settings.client_id = ToText(client_id_box_->text().trimmed());
  settings.client_secret = ToText(client_secret_box_->text().trimmed());
  settings.custom = {ToText(auth_url_box_->text().trimmed()),
                     ToText(token_url_box_->text().trimmed()),
                     ToText(scope_box_->text().trimmed())};
  settings.token_command = ToText(token_command_box_->text());
  return settings;
}

void SignInDialog::ProviderChanged() {
  // The known providers' endpoints are fixed; only a custom provider's are typed.
  const OAuthSettings chosen = settings();
  const bool custom = chosen.provider == kProviderCustom;
  if (!custom) {
    const OAuthEndpoints endpoints = chosen.endpoints();
    auth_url_box_->setPlaceholderText(FromText(endpoints.auth_url));
    token_url_box_->setPlaceholderText(FromText(endpoints.token_url));
    scope_box_->setPlaceholderText(FromText(endpoints.scope));
  }
  for (QLineEdit* box : {auth_url_box_, token_url_box_, scope_box_}) {
    box->setEnabled(custom);
    if (custom) box->setPlaceholderText({});
  }
  ShowState();
}

void SignInDialog::ShowState() {
  const bool oauth = auth_combo_->currentIndex() == 1;
  for (QWidget* control :
       std::initializer_list<QWidget*>{provider_combo_, client_id_box_, client_secret_box_,
                                       token_command_box_, sign_in_button_, sign_out_button_}) {
    control->setEnabled(oauth);
  }
  const bool custom = settings().provider == kProviderCustom;
  for (QLineEdit* box : {auth_url_box_, token_url_box_, scope_box_})
    box->setEnabled(oauth && custom);
  sign_in_button_->setEnabled(oauth && busy_ == nullptr);
  sign_out_button_->setEnabled(oauth && busy_ == nullptr && signed_in_);
  std::string text;
  if (busy_ != nullptr) {
    text = busy_;
  } else if (!failure_.empty()) {
    text = message::FormatText(texts::kSignInFailed, {failure_});
  } else if (signed_in_) {
    text = message::FormatText(texts::kSignedInAs, {who_});
    if (in_settings_file_) text.append(" ").append(texts::kRefreshInSettingsFile);
  } else {
    text = refused_ ? texts::kSignInRefusedAgain : texts::kNotSignedInYet;
  }
  state_label_->setText(FromText(text));
}

void SignInDialog::SignIn() {
  failure_.clear();
  busy_ = texts::kSigningIn;
  ShowState();
  sign_in_ = std::make_unique<OAuthSignIn>(
      settings(), [this](const std::string& refresh_token, const std::string& error) {
        busy_ = nullptr;
        failure_ = error;
        if (error.empty()) {
          refresh_change_ = refresh_token;
          signed_in_ = true;
          refused_ = false;
        }
        ShowState();
      });
  sign_in_->Start();
}

void SignInDialog::SignOut() {
  failure_.clear();
  refresh_change_ = std::string();
  signed_in_ = false;
  refused_ = false;
  ShowState();
}

}  // namespace tovrel::app
