#include "net/smtp_client.h"

#include <algorithm>
#include <exception>
#include <unordered_set>

#include "message/coders/base64.h"
#include "message/coders/quoted_printable.h"
#include "message/input_file.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

// Commands gather into sends of about this size; each command still leaves before its reply is
// read, so the dialogue on the wire is unchanged.
constexpr size_t kGatherThreshold = 32768;

// RFC 5321 section 4.5.3.1.4: a command line holds at most 512 octets with its CR LF.
constexpr size_t kMaxCommandLine = 512;
constexpr std::string_view kMailCommand = "Mail from:<";
constexpr std::string_view kRcptCommand = "RCPT to:<";
constexpr std::string_view kEightBitMime = "8BITMIME";
constexpr std::string_view kEightBitParameter = " BODY=8BITMIME";
// How much of an over-long address an error message shows.
constexpr size_t kShownAddressLength = 60;

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

// Whether `address` can stand between the angle brackets of MAIL or RCPT as it is: no control
// character anywhere, and no blank or angle bracket outside a quoted local part, since either
// would end the path early and let the rest pass for parameters of the command.
bool IsSafeEnvelopeAddress(std::string_view address) {
  size_t i = 0;
  if (!address.empty() && address[0] == '"') {
    bool escaped = false;
    for (i = 1; i < address.size() && (escaped || address[i] != '"'); ++i) {
      if (IsControl(static_cast<unsigned char>(address[i]))) return false;
      escaped = !escaped && address[i] == '\\';
    }
    if (i >= address.size()) return false;  // the quote never closes
    ++i;
  }
  for (; i < address.size(); ++i) {
    const auto c = static_cast<unsigned char>(address[i]);
    if (IsControl(c) || c == ' ' || c == '<' || c == '>') return false;
  }
  return true;
}

// The address as it can be shown in one line of an error message.
std::string Printable(std::string_view address) {
  std::string out;
  for (char c : address) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\0') {
      out += "\\0";
    } else if (IsControl(static_cast<unsigned char>(c))) {
      out.push_back('\\');
      message::HexEscape(static_cast<unsigned char>(c), out, 'x');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Raises MessageError when `address` cannot go into `command` (with `parameters` after it).
void CheckEnvelopeAddress(std::string_view command, const std::string& address,
                          std::string_view parameters = {}) {
  if (!IsSafeEnvelopeAddress(address)) {
    throw message::MessageError(
        message::FormatText(texts::kInvalidEnvelopeAddress, {Printable(address)}));
  }
  if (command.size() + address.size() + 1 + parameters.size() + 2 > kMaxCommandLine) {
    const std::string shown = Printable(address.substr(0, kShownAddressLength)) + "...";
    throw message::MessageError(message::FormatText(texts::kEnvelopeAddressTooLong, {shown}));
  }
}

void CheckEnvelopeList(const message::EmailAddressList& list) {
  for (size_t i = 0; i < list.count(); ++i) CheckEnvelopeAddress(kRcptCommand, list[i].address());
}

}  // namespace

SmtpClient::SmtpClient(BaseComponent* owner) : MessageClient(owner) {
  set_port(kDefaultPort);
  CreatePendingOutput(kGatherThreshold);
  // The client gathers its own output and sends it whole before every reply it waits for, so
  // Nagle's algorithm has nothing left to merge; left on, it would hold the last piece of a
  // message (and the "." after it) until the server's delayed acknowledgement, 40 ms later.
  set_use_nagle(false);
}

void SmtpClient::Assign(const SmtpClient& source) {
  authentication_type_ = source.authentication_type_;
  set_host(source.host());
  mail_agent_ = source.mail_agent_;
  password_ = source.password_;
  set_port(source.port());
  user_id_ = source.user_id_;
  tls_mode_ = source.tls_mode_;
  certificate_check_ = source.certificate_check_;
}

void SmtpClient::Connect() {
  set_read_timeout(greeting_timeout_);
  set_write_timeout(data_block_timeout_);
  DropTls();  // every connection starts plain; a session belongs to the one that made it
  MessageClient::Connect();
  try {
    if (tls_mode_ == TlsMode::tmImplicit) StartTls();
    const int16_t greeting[] = {220};
    ReadReply(greeting);
    set_read_timeout(command_timeout_);
    Greet();
    if (tls_mode_ == TlsMode::tmStartTls) {
      // Without the session nothing more may go out: a server (or someone in between) that
      // drops STARTTLS must never be handed the password or the message in the clear.
      if (!OffersExtension("STARTTLS")) {
        CloseConnection();
        throw TlsError(message::FormatText(texts::kTlsNoStartTls, {host()}));
      }
      if (SendCommand("STARTTLS", kAnyReplyCode) != 220) {
        const std::string reply = LastReplyLine();
        CloseConnection();
        throw TlsError(message::FormatText(texts::kTlsStartTlsRefused, {host(), reply}));
      }
      StartTls();
      // What the server offered before the session may have been tampered with: only the
      // answer given inside it counts (RFC 3207 section 4.2).
      Greet();
    }
  } catch (...) {
    try {
      Disconnect();
    } catch (...) {
      // The caller needs the failure that ended the dialogue, not the one of the cleanup.
    }
    throw;
  }
}

void SmtpClient::StartTls() {
  // Pending commands belong to the plain connection; the session starts on a clean stream.
  FlushPendingOutput();
  // The certificate names the address itself, without the brackets the user may have typed.
  std::string name = SystemStack::Ipv6Literal(host());
  if (name.empty()) name = host();
  try {
    tls_.Handshake(binding(), name, certificate_check_, data_block_timeout_);
  } catch (...) {
    CloseConnection();
    throw;
  }
  set_intercept(&tls_);
  set_intercept_enabled(true);
}

void SmtpClient::DropTls() {
  if (intercept() == &tls_) set_intercept(nullptr);
}

void SmtpClient::Greet() {
  server_auth_mechanisms_.clear();
  const std::string host_name = LocalHostName();
  if (SendCommand("ehlo " + host_name, kAnyReplyCode) == 250) {
    CollectAuthMechanisms();
    set_eight_bit_allowed(OffersExtension(kEightBitMime));
  } else {
    SendCommand("Helo " + host_name, 250);
    set_eight_bit_allowed(false);
  }
}

void SmtpClient::CollectAuthMechanisms() {
  const std::vector<std::string>& lines = reply_lines();
  // The names are upper-cased, so equal names compare equal as they stand. One pass over each
  // line and one look-up per name: a reply listing many names costs no more than its length.
  std::unordered_set<std::string> known;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string line = message::AsciiUpper(lines[i]);
    // "250-AUTH ..." or "250 AUTH=...": the keyword right after the code and its separator.
    if (line.find("AUTH") != 4 || line.size() < 9 || (line[8] != ' ' && line[8] != '=')) continue;
    const std::string_view rest = std::string_view(line).substr(9);
    size_t start = 0;
    while (start < rest.size()) {
      size_t end = rest.find_first_of(" =", start);
      if (end == std::string_view::npos) end = rest.size();
      if (end > start) {
        std::string name(rest.substr(start, end - start));
        if (known.insert(name).second) server_auth_mechanisms_.push_back(std::move(name));
      }
      start = end + 1;
    }
  }
}

bool SmtpClient::OffersExtension(std::string_view keyword) const {
  const std::vector<std::string>& lines = reply_lines();
  for (size_t i = 1; i < lines.size(); ++i) {
    // "250-KEYWORD" or "250 KEYWORD params": the keyword right after the code and its separator.
    const std::string_view line = lines[i];
    if (line.size() < 4) continue;
    const std::string_view rest = line.substr(4);
    if (message::EqualsIgnoreCase(rest.substr(0, rest.find(' ')), keyword)) return true;
  }
  return false;
}

bool SmtpClient::MechanismOffered(AuthenticationType type) {
  if (type != AuthenticationType::atLogin) return false;
  return Offers("LOGIN") || Offers("PLAIN");
}

bool SmtpClient::Offers(std::string_view mechanism) const {
  return std::any_of(server_auth_mechanisms_.begin(), server_auth_mechanisms_.end(),
                     [mechanism](const std::string& entry) {
                       return message::EqualsIgnoreCase(entry, mechanism);
                     });
}

bool SmtpClient::NeedsAuthentication() {
  // A login name without a password has no password to give: the send goes without a login,
  // and a server that insists says so in its answer to MAIL.
  const bool no_password_available = !user_id_.empty() && password_.empty();
  return authentication_type_ != AuthenticationType::atNone && !no_password_available &&
         MechanismOffered(authentication_type_) && !authenticated_;
}

bool SmtpClient::PerformAuthentication() {
  bool performed = false;
  if (authentication_type_ == AuthenticationType::atLogin && Offers("LOGIN")) {
    SendCommand("auth LOGIN", 334);
    SendCommand(message::EncodeBase64Text(user_id_), 334);
    SendCommand(message::EncodeBase64Text(password_), 235);
    performed = true;
  } else if (authentication_type_ == AuthenticationType::atLogin && Offers("PLAIN")) {
    // RFC 4616: no authorization identity, then the user and the password, NUL before each,
    // as the initial response on the AUTH line.
    std::string credentials;
    credentials.push_back('\0');
    credentials.append(user_id_).push_back('\0');
    credentials.append(password_);
    SendCommand("AUTH PLAIN " + message::EncodeBase64Text(credentials), 235);
    performed = true;
  }
  authenticated_ = true;
  return performed;
}

void SmtpClient::Send(const message::Message& message) {
  set_read_timeout(command_timeout_);
  // Also how long a body file that is a pipe may keep the layout waiting.
  set_write_timeout(data_block_timeout_);
  // RFC 6152: text that carries 8-bit bytes as they stand must be announced as such.
  const BodyLayout layout = LayOutBody(message);
  const std::string_view parameters =
      CarriesEightBitText(message, layout) ? kEightBitParameter : std::string_view();
  // An address that could end its command early would smuggle commands or parameters of its own
  // onto the wire; nothing is written before every address has passed.
  CheckEnvelopeAddress(kMailCommand, message.from().address(), parameters);
  CheckEnvelopeList(message.recipients());
  CheckEnvelopeList(message.cc_list());
  CheckEnvelopeList(message.bcc_list());
  // A file that cannot be sent is refused before the first command.
  for (size_t i = 0; i < message.parts().count(); ++i) {
    if (auto* attachment = dynamic_cast<const message::Attachment*>(&message.parts()[i])) {
      message::CheckInputFile(attachment->file_name());
    }
  }

  SendCommand("Rset", kAnyReplyCode);
  if (NeedsAuthentication()) PerformAuthentication();
  SendCommand(std::string(kMailCommand) + message.from().address() + ">" + std::string(parameters),
              250);
  for (const message::EmailAddressList* list :
       {&message.recipients(), &message.cc_list(), &message.bcc_list()}) {
    for (size_t i = 0; i < list->count(); ++i) {
      SendCommand(std::string(kRcptCommand) + (*list)[i].address() + ">", 250);
    }
  }
  set_read_timeout(data_init_timeout_);
  SendCommand("Data", 354);
  try {
    // One phase over the whole message text, its size known from the start; the gathered tail
    // goes out inside it, so that its end is the end of the text.
    WorkPhase work(*this, WorkMode::wkWrite, MessageSize(message, mail_agent_, layout));
    WriteMessage(message, mail_agent_, layout);
    FlushPendingOutput();
  } catch (...) {
    // The server has part of a message: any further line, "Quit" included, would join it, and a
    // "." would deliver it. Closing with nothing more makes the server drop it.
    CloseConnection();
    throw;
  }
  set_read_timeout(data_termination_timeout_);
  SendCommand(".", 250);
  set_read_timeout(command_timeout_);
}

void SmtpClient::Disconnect() {
  std::exception_ptr failure;
  try {
    if (IsConnected()) {
      WriteLine("Quit");
      FlushPendingOutput();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  MessageClient::Disconnect();
  DropTls();
  authenticated_ = false;
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tovrel::net
