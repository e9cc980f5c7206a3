#include "net/smtp_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <functional>
#include <unordered_set>

#include "message/coders/base64.h"
#include "message/coders/quoted_printable.h"
#include "message/input_file.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/json_text.h"
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
constexpr std::string_view kSmtpUtf8 = "SMTPUTF8";
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

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 128; });
}

// The first address of the envelope or of an address field that is not ASCII, or null. Such an
// address goes out as it stands, in the envelope and in the header alike (RFC 6531, RFC 6532).
const std::string* FirstAddressBeyondAscii(const message::Message& message) {
  for (const message::EmailAddress* single :
       {&message.from(), &message.sender(), &message.receipt_recipient()}) {
    if (!IsAscii(single->address())) return &single->address();
  }
  for (const message::EmailAddressList* list :
       {&message.recipients(), &message.cc_list(), &message.bcc_list(), &message.reply_to()}) {
    for (size_t i = 0; i < list->count(); ++i) {
      if (!IsAscii((*list)[i].address())) return &(*list)[i].address();
    }
  }
  return nullptr;
}

// `bytes` in MB (10^6 bytes) with one decimal, rounded up or down, so that a message just over
// a limit never shows the limit's own figure.
std::string Megabytes(int64_t bytes, bool round_up) {
  constexpr int64_t kTenth = 100000;
  const int64_t tenths = round_up ? (bytes + kTenth - 1) / kTenth : bytes / kTenth;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// The text after "334 " decoded; undecodable text stays as it is.
std::string DecodedChallenge(std::string_view line) {
  if (line.size() < 4) return {};
  message::Base64Decoder decoder;
  std::string text = decoder.Feed(line.substr(4));
  text += decoder.FinishInput();
  return text;
}

// RFC 6750 section 2.1: b64token, 1*( ALPHA / DIGIT / "-" / "." / "_" / "~" / "+" / "/" )
// *"=".
bool IsBearerToken(std::string_view token) {
  const size_t body_end = token.find_last_not_of('=');
  if (body_end == std::string_view::npos) return false;
  return std::all_of(
      token.begin(), token.begin() + static_cast<std::ptrdiff_t>(body_end) + 1, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-._~+/").find(c) != std::string_view::npos;
      });
}

// RFC 5801 section 4: in the GS2 header's authorization identity "," and "=" would end it.
std::string SaslName(std::string_view name) {
  std::string escaped;
  for (char c : name) {
    if (c == ',') {
      escaped += "=2C";
    } else if (c == '=') {
      escaped += "=3D";
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

}  // namespace

std::string HelloName(std::string_view host_name, std::string_view local_ip) {
  if (host_name.find('.') != std::string_view::npos || local_ip.empty()) {
    return std::string(host_name);
  }
  std::string_view ip = local_ip.substr(0, local_ip.find('%'));  // no zone in a literal
  // An IPv4 peer reached through an IPv6 socket.
  constexpr std::string_view kMapped = "::ffff:";
  if (ip.starts_with(kMapped) && SystemStack::IsDottedQuad(ip.substr(kMapped.size()))) {
    ip.remove_prefix(kMapped.size());
  }
  if (ip.find(':') != std::string_view::npos) return "[IPv6:" + std::string(ip) + "]";
  return "[" + std::string(ip) + "]";
}

namespace {}  // namespace

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
  access_token_ = source.access_token_;
  set_port(source.port());
  user_id_ = source.user_id_;
  tls_mode_ = source.tls_mode_;
  certificate_check_ = source.certificate_check_;
}

void SmtpClient::PrepareTls() {
  if (tls_mode_ != TlsMode::tmNone) tls_.PrepareAhead(certificate_check_);
}

WaitLimit SmtpClient::greeting_wait() const {
  if (tls_mode_ == TlsMode::tmImplicit || port() != kImplicitTlsPort) return greeting_timeout_;
  return Shorter(greeting_timeout_, kImplicitTlsPortGreetingTimeout);
}

void SmtpClient::Connect() {
  set_read_timeout(greeting_wait());
  set_write_timeout(data_block_timeout_);
  DropTls();  // every connection starts plain; a session belongs to the one that made it
  PrepareTls();
  MessageClient::Connect();
  try {
    if (tls_mode_ == TlsMode::tmImplicit) StartTls();
    ReadGreeting();
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

void SmtpClient::ReadGreeting() {
  const int16_t greeting[] = {220};
  // A server that expects TLS from the first byte waits silently for a hand-shake: no setting
  // but Security can change that, and no later try would go better.
  const bool tls_port_in_clear = tls_mode_ != TlsMode::tmImplicit && port() == kImplicitTlsPort;
  const auto expected = [](const std::exception& error) {
    return TlsExpected(std::string(error.what()) + "\r\n" + texts::kMayExpectImplicitTls);
  };
  try {
    if (tls_mode_ != TlsMode::tmImplicit) AwaitPlainGreeting();
    ReadReply(greeting);
  } catch (const SocketError& error) {
    if (!tls_port_in_clear || !reply_lines().empty()) throw;
    throw expected(error);
  } catch (const ConnClosedGracefully& error) {
    if (!tls_port_in_clear || !reply_lines().empty()) throw;
    throw expected(error);
  }
}

void SmtpClient::AwaitPlainGreeting() {
  if (input_buffer().empty() &&
      ReceiveOnce(OnPeerClosed::pcRaiseWhenDrained, read_timeout()) == 0 && IsConnected()) {
    RaiseTimedOut();
  }
  // A reply begins with a digit; a TLS record with its content type (ChangeCipherSpec, alert,
  // handshake, application data) and the major version 3. A server of implicit TLS that speaks
  // first says so at once, where its bytes would otherwise be awaited as a line.
  constexpr unsigned char kFirstRecordType = 20;
  constexpr unsigned char kLastRecordType = 23;
  constexpr unsigned char kMajorVersion = 3;
  const std::string_view first = input_buffer().view();
  const auto type = static_cast<unsigned char>(first.empty() ? 0 : first[0]);
  if (type >= kFirstRecordType && type <= kLastRecordType &&
      (first.size() < 2 || static_cast<unsigned char>(first[1]) == kMajorVersion)) {
    CloseConnection();
    throw TlsExpected(texts::kServerSpeaksTls);
  }
}

bool SmtpClient::PeerOnThisMachine() {
  // Through a proxy the peer is the proxy, and the server is wherever it leads.
  if (loopback_counts_as_remote_ || socks_info().version != SocksVersion::svNoSocks) return false;
  std::string_view ip = SystemStack::WithoutZone(binding().remote_ip());
  constexpr std::string_view kMapped = "::ffff:";
  if (ip.starts_with(kMapped)) ip.remove_prefix(kMapped.size());
  return ip == "::1" || (SystemStack::IsDottedQuad(ip) && SystemStack::TextToAddress(ip)[0] == 127);
}

void SmtpClient::StartTls() {
  // Pending commands belong to the plain connection; the session starts on a clean stream.
  FlushPendingOutput();
  // Bytes that came in the clear after the "220" (or after the proxy's answer) would be read
  // as the first replies inside the session: whoever sits in between could answer for the
  // server (RFC 3207 section 5). Nothing more goes out on such a connection.
  if (!input_buffer().empty()) {
    CloseConnection();
    throw TlsError(message::FormatText(texts::kTlsDataBeforeTls, {host()}));
  }
  // The certificate names the address itself, without the brackets the user may have typed.
  std::string name(SystemStack::WithoutZone(SystemStack::Ipv6Literal(host())));
  if (name.empty()) name = host();
  try {
    tls_.Handshake(binding(), name, certificate_check_, data_block_timeout_);
  } catch (...) {
    CloseConnection();
    throw;
  }
  set_intercept(&tls_);
  set_intercept_enabled(true);
  // What the server offered in the clear may have been written by someone in between.
  server_auth_mechanisms_.clear();
  set_eight_bit_allowed(false);
  smtp_utf8_ = false;
  size_limit_ = -1;
  pipelining_ = false;
}

void SmtpClient::DropTls() {
  if (intercept() == &tls_) set_intercept(nullptr);
}

void SmtpClient::Greet() {
  server_auth_mechanisms_.clear();
  hello_name_ = HelloName(LocalHostName(), binding().ip());
  if (SendCommand("ehlo " + hello_name_, kAnyReplyCode) == 250) {
    CollectAuthMechanisms();
    set_eight_bit_allowed(OffersExtension(kEightBitMime));
    smtp_utf8_ = OffersExtension(kSmtpUtf8);
    pipelining_ = OffersExtension("PIPELINING");
    // RFC 1870: "SIZE" alone or "SIZE 0" declares no limit; an unreadable one counts as none.
    size_limit_ = -1;
    if (const auto size = ExtensionParameters("SIZE")) {
      int64_t limit = 0;
      const auto [end, error] = std::from_chars(size->data(), size->data() + size->size(), limit);
      size_limit_ = error == std::errc() && end == size->data() + size->size() ? limit : 0;
    }
  } else {
    SendCommand("Helo " + hello_name_, 250);
    set_eight_bit_allowed(false);
    smtp_utf8_ = false;
    pipelining_ = false;
    size_limit_ = -1;
  }
}

ProtocolReplyError SmtpClient::ReplyError() const {
  return ProtocolReplyError(reply_code(), ReplyReader::Shown(reply_lines()));
}

void SmtpClient::RaiseReplyError() { throw ReplyError(); }

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
      // A control character (a stray CR, say) ends a name as a blank does, so none can reach
      // the texts that list what the server offered.
      size_t end = start;
      while (end < rest.size() && rest[end] != ' ' && rest[end] != '=' &&
             !IsControl(static_cast<unsigned char>(rest[end]))) {
        ++end;
      }
      if (end > start) {
        std::string name(rest.substr(start, end - start));
        if (known.insert(name).second) server_auth_mechanisms_.push_back(std::move(name));
      }
      start = end + 1;
    }
  }
}

bool SmtpClient::OffersExtension(std::string_view keyword) const {
  return ExtensionParameters(keyword).has_value();
}

std::optional<std::string> SmtpClient::ExtensionParameters(std::string_view keyword) const {
  const std::vector<std::string>& lines = reply_lines();
  for (size_t i = 1; i < lines.size(); ++i) {
    // "250-KEYWORD" or "250 KEYWORD params": the keyword right after the code and its separator.
    const std::string_view line = lines[i];
    if (line.size() < 4) continue;
    const std::string_view rest = line.substr(4);
    const size_t blank = rest.find(' ');
    if (!message::EqualsIgnoreCase(rest.substr(0, blank), keyword)) continue;
    if (blank == std::string_view::npos) return std::string();
    const size_t start = rest.find_first_not_of(' ', blank);
    return std::string(start == std::string_view::npos ? std::string_view() : rest.substr(start));
  }
  return std::nullopt;
}

bool SmtpClient::MechanismOffered(AuthenticationType type) {
  if (type == AuthenticationType::atOAuth2) return Offers("OAUTHBEARER") || Offers("XOAUTH2");
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
  const bool no_password_available = authentication_type_ == AuthenticationType::atOAuth2
                                         ? access_token_.empty()
                                         : !user_id_.empty() && password_.empty();
  return authentication_type_ != AuthenticationType::atNone && !no_password_available &&
         MechanismOffered(authentication_type_) && !authenticated_;
}

bool SmtpClient::PerformAuthentication() {
  bool performed = false;
  if (authentication_type_ == AuthenticationType::atOAuth2) {
    AuthenticateWithToken();
    performed = true;
  } else if (authentication_type_ == AuthenticationType::atLogin && Offers("LOGIN")) {
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

void SmtpClient::AuthenticateWithToken() {
  // A ^A or a blank in the token would end its pair early and smuggle pairs of its own in.
  if (!IsBearerToken(access_token_)) throw message::NetError(texts::kBadAccessToken);
  const bool bearer = Offers("OAUTHBEARER");
  // RFC 7628 section 3.1: the GS2 header naming the user, then key=value pairs each ended by ^A
  // and one more ^A; XOAUTH2 is the same pairs without the header.
  const std::string pairs = "auth=Bearer " + access_token_ + "\x01\x01";
  const std::string response =
      bearer ? "n,a=" + SaslName(user_id_) + ",\x01" + pairs : "user=" + user_id_ + "\x01" + pairs;
  const int16_t code = SendCommand(std::string(bearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ") +
                                       message::EncodeBase64Text(response),
                                   kAnyReplyCode);
  if (code == 235) return;
  if (code != 334) RaiseReplyError();
  // The challenge is the provider's error document; the exchange must still be ended with the
  // empty response each mechanism asks for before the server gives its final answer.
  const std::string document = DecodedChallenge(reply_lines().empty() ? "" : reply_lines().back());
  SendCommand(bearer ? "AQ==" : "", kAnyReplyCode);
  throw ProtocolReplyError(
      reply_code(),
      message::FormatText(texts::kOAuthRefused, {ReplyReader::Shown(reply_lines()),
                                                 Printable(JsonText(document, "status")),
                                                 Printable(JsonText(document, "scope"))}));
}

void SmtpClient::CheckServerOffer(const std::string* beyond_ascii, int64_t size) {
  // A bearer token on the wire in the clear would let anyone on the way send as the user.
  if (authentication_type_ == AuthenticationType::atOAuth2 && tls_mode_ == TlsMode::tmNone) {
    throw TlsError(texts::kOAuthNeedsTls);
  }
  // A password in the clear can be read anywhere on the way, unless the way ends on this machine.
  if (authentication_type_ == AuthenticationType::atLogin && tls_mode_ == TlsMode::tmNone &&
      !plain_password_allowed_ && NeedsAuthentication() && !PeerOnThisMachine()) {
    throw TlsError(message::FormatText(texts::kPasswordInClear, {Printable(host())}));
  }
  if (beyond_ascii != nullptr && !smtp_utf8_) {
    throw ServerCapabilityError(
        message::FormatText(texts::kAddressNeedsSmtpUtf8, {Printable(*beyond_ascii)}));
  }
  if (size_limit_ > 0 && size > size_limit_) {
    throw ServerCapabilityError(message::FormatText(
        texts::kMessageTooLarge, {Megabytes(size, true), Megabytes(size_limit_, false)}));
  }
  // A server that lists no AUTH at all may take the mail without a login (a relay of one's own
  // network); one that wants a login we cannot give would only refuse MAIL later, less clearly.
  if (authentication_type_ != AuthenticationType::atNone && !authenticated_ &&
      !server_auth_mechanisms_.empty() && !MechanismOffered(authentication_type_)) {
    std::string offered;
    for (const std::string& name : server_auth_mechanisms_) {
      offered += (offered.empty() ? "" : ", ") + name;
    }
    throw ServerCapabilityError(
        message::FormatText(texts::kNoCommonLoginMethod, {ReplyReader::Shown({offered})}));
  }
}

void SmtpClient::Send(const message::Message& message) {
  delivery_ = {};
  set_read_timeout(command_timeout_);
  // Also how long a body file that is a pipe may keep the layout waiting.
  set_write_timeout(data_block_timeout_);
  // RFC 6152: text that carries 8-bit bytes as they stand must be announced as such; so must
  // addresses beyond ASCII (RFC 6531), which also need SMTPUTF8.
  // Laid out once: the size offered and every transaction's text come from the same plan.
  const MessagePlan plan = PlanMessage(message, mail_agent_, LayOutBody(message));
  const bool utf8_addresses = smtp_utf8_ && FirstAddressBeyondAscii(message) != nullptr;
  std::string parameters;
  if (utf8_addresses || plan.CarriesEightBitText()) parameters = kEightBitParameter;
  if (utf8_addresses) parameters.append(" ").append(kSmtpUtf8);
  // An address that could end its command early would smuggle commands or parameters of its own
  // onto the wire; nothing is written before every address has passed.
  CheckEnvelopeList(message.recipients());
  CheckEnvelopeList(message.cc_list());
  CheckEnvelopeList(message.bcc_list());
  // Sizing looks at every file: one that cannot be sent is refused before the first command.
  const int64_t size = MessageSize(plan);
  // RFC 1870: the server may refuse the size at once instead of after the whole upload.
  if (size_limit_ >= 0) parameters.append(" SIZE=").append(std::to_string(size));
  CheckEnvelopeAddress(kMailCommand, message.from().address(), parameters);
  CheckServerOffer(FirstAddressBeyondAscii(message), size);

  const Envelope envelope = EnvelopeOf(message);
  Recipients recipients;
  for (const std::string& address : envelope.recipients) recipients.push_back(&address);
  Transact(std::string(kMailCommand) + envelope.sender + ">" + parameters, std::move(recipients),
           size, [&] { WriteMessage(plan); });
}

SmtpClient::Envelope SmtpClient::EnvelopeOf(const message::Message& message) {
  Envelope envelope{message.from().address(), {}};
  for (const message::EmailAddressList* list :
       {&message.recipients(), &message.cc_list(), &message.bcc_list()}) {
    for (size_t i = 0; i < list->count(); ++i) envelope.recipients.push_back((*list)[i].address());
  }
  return envelope;
}

std::vector<std::string> SmtpClient::Delivery::Served() const {
  std::vector<std::string> served;
  for (const std::string& address : recipients) {
    for (const FinishedTransaction& transaction : finished) {
      if (std::find(transaction.recipients.begin(), transaction.recipients.end(), address) !=
          transaction.recipients.end()) {
        served.push_back(address);
        break;
      }
    }
  }
  return served;
}

std::vector<std::string> SmtpClient::Delivery::Unserved() const {
  const std::vector<std::string> served = Served();
  std::vector<std::string> rest;
  for (const std::string& address : recipients) {
    if (std::find(served.begin(), served.end(), address) == served.end()) rest.push_back(address);
  }
  return rest;
}

void SmtpClient::Transact(const std::string& mail_command, Recipients recipients, int64_t size,
                          const std::function<void()>& write_text) {
  for (const std::string* address : recipients) delivery_.recipients.push_back(*address);
  if (!pipelining_) {
    SendCommand("Rset", kAnyReplyCode);
    if (NeedsAuthentication()) PerformAuthentication();
    do {
      recipients = SendTransaction(mail_command, recipients, size, write_text);
    } while (!recipients.empty());
    return;
  }
  // The login decides whether anything after it is taken, so it goes alone, before the
  // commands that can go together.
  if (NeedsAuthentication()) PerformAuthentication();
  bool reset = true;
  do {
    recipients = SendPipelined(reset, mail_command, recipients, size, write_text);
    reset = false;
  } while (!recipients.empty());
}

SmtpClient::Recipients SmtpClient::SendTransaction(const std::string& mail_command,
                                                   const Recipients& recipients, int64_t size,
                                                   const std::function<void()>& write_text) {
  SendCommand(mail_command, 250);
  Recipients deferred = SendRecipients(recipients);
  // Those before the first deferred one were taken.
  SendData(size, write_text,
           Recipients(recipients.begin(),
                      recipients.end() - static_cast<std::ptrdiff_t>(deferred.size())));
  return deferred;
}

SmtpClient::Recipients SmtpClient::SendRecipients(const Recipients& recipients) {
  size_t accepted = 0;
  for (size_t i = 0; i < recipients.size(); ++i) {
    const int16_t code =
        SendCommand(std::string(kRcptCommand) + *recipients[i] + ">", kAnyReplyCode);
    // RFC 5321 section 3.4: 251 forwards the mail, which is as good as taking it.
    if (code == 250 || code == 251) {
      ++accepted;
      continue;
    }
    // RFC 5321 section 4.5.3.1.10: "too many recipients" asks for the rest in a new transaction;
    // a transaction that took none has nothing to send.
    if (code == 452 && accepted > 0) return Recipients(recipients.begin() + i, recipients.end());
    throw RecipientRefused(*recipients[i]);
  }
  return {};
}

ProtocolReplyError SmtpClient::RecipientRefused(const std::string& address) const {
  return ProtocolReplyError(
      reply_code(), message::FormatText(texts::kRecipientRefused,
                                        {Printable(address), ReplyReader::Shown(reply_lines())}));
}

SmtpClient::Recipients SmtpClient::SendPipelined(bool reset, const std::string& mail_command,
                                                 const Recipients& recipients, int64_t size,
                                                 const std::function<void()>& write_text) {
  // Gathered, the lines leave in one write as the first reply is awaited.
  if (reset) WriteLine("Rset");
  WriteLine(mail_command);
  for (const std::string* address : recipients) {
    WriteLine(std::string(kRcptCommand) + *address + ">");
  }
  WriteLine("Data");
  // The failure to report once every reply is in; the replies after it are read all the same,
  // so that the next command meets the reply meant for it.
  std::optional<ProtocolReplyError> failure;
  std::optional<ProtocolReplyError> first_deferral;
  Recipients deferred;
  Recipients taken;
  int16_t data_code = 0;
  try {
    if (reset) SendCommand(kNoCommand, kAnyReplyCode);
    if (SendCommand(kNoCommand, kAnyReplyCode) != 250) failure = ReplyError();
    for (const std::string* address : recipients) {
      const int16_t code = SendCommand(kNoCommand, kAnyReplyCode);
      if (failure) continue;
      if (code == 250 || code == 251) {
        taken.push_back(address);
      } else if (code == 452) {
        // Deferred: the next transaction takes it, unless this one took nobody.
        if (!first_deferral) first_deferral = RecipientRefused(*address);
        deferred.push_back(address);
      } else {
        failure = RecipientRefused(*address);
      }
    }
    if (!failure && taken.empty() && first_deferral) failure = first_deferral;
    set_read_timeout(data_init_timeout_);
    data_code = SendCommand(kNoCommand, kAnyReplyCode);
    set_read_timeout(command_timeout_);
  } catch (...) {
    // Without every reply the dialogue cannot go on in step, and DATA may yet be answered 354,
    // after which "Quit" would be taken for message text.
    CloseConnection();
    if (failure) throw *failure;
    throw;
  }
  if (failure) {
    // Whatever came next would be message text, and a "." would deliver it to the recipients
    // taken; closing drops the transaction instead.
    if (data_code == 354) CloseConnection();
    throw *failure;
  }
  if (data_code != 354) RaiseReplyError();
  SendText(size, write_text, taken);
  return deferred;
}

void SmtpClient::SendData(int64_t size, const std::function<void()>& write_text,
                          const Recipients& taken) {
  set_read_timeout(data_init_timeout_);
  SendCommand("Data", 354);
  SendText(size, write_text, taken);
}

void SmtpClient::SendText(int64_t size, const std::function<void()>& write_text,
                          const Recipients& taken) {
  try {
    // One phase over the whole message text, its size known from the start; the gathered tail
    // goes out inside it, so that its end is the end of the text.
    WorkPhase work(*this, WorkMode::wkWrite, size);
    write_text();
    FlushPendingOutput();
    AwaitWritten();
  } catch (...) {
    // The server has part of a message: any further line, "Quit" included, would join it, and a
    // "." would deliver it. Closing with nothing more makes the server drop it.
    CloseConnection();
    throw;
  }
  set_read_timeout(data_termination_timeout_);
  try {
    SendCommand(".", 250);
  } catch (const ProtocolReplyError&) {
    throw;  // answered: not taken
  } catch (...) {
    delivery_.end_unanswered = true;
    throw;
  }
  set_read_timeout(command_timeout_);
  FinishedTransaction finished{{}, ReplyReader::Shown(reply_lines())};
  for (const std::string* address : taken) finished.recipients.push_back(*address);
  delivery_.finished.push_back(std::move(finished));
}

bool SmtpClient::SessionOpen() {
  try {
    if (IsConnected()) {
      // A look without waiting: a server that hung up, or spoke out of turn, is done with us.
      ReceiveOnce(OnPeerClosed::pcReturn, 0);
      if (IsConnected() && input_buffer().empty()) return true;
    }
  } catch (const std::exception&) {
    // Gone as well.
  }
  // Whatever is left of it goes, the login with it, so that the next connect starts afresh.
  try {
    Disconnect();
  } catch (const std::exception&) {
    // Closed all the same.
  }
  return false;
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

namespace {

// A descriptor that closes itself.
class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) Fail(path);
  }
  ~OpenFile() { ::close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }
  [[noreturn]] static void Fail(const std::string& path) {
    throw message::FileError(
        message::FormatText(texts::kStoredMessageUnreadable, {path, std::strerror(errno)}));
  }

 private:
  int fd_;
};

constexpr size_t kRawBlock = 65536;

// A stored text as it goes on the wire: every line end CR LF (a bare LF or CR too, which a file
// edited or copied by hand may hold), lines that begin with "." stuffed, and a CR LF after a
// last line without one, so that the final "." stands on a line of its own.
class WireText {
 public:
  // The wire form of the next block, valid until the next call.
  std::string_view Take(std::string_view block) {
    lines_.clear();
    size_t i = 0;
    if (after_cr_ && !block.empty()) {
      after_cr_ = false;
      lines_ += "\r\n";
      if (block[0] == '\n') i = 1;
    }
    while (i < block.size()) {
      const size_t end = block.find_first_of("\r\n", i);
      if (end == std::string_view::npos) {
        lines_.append(block.substr(i));
        break;
      }
      lines_.append(block.substr(i, end - i));
      i = end + 1;
      if (block[end] == '\r') {
        // Its LF may begin the next block.
        if (i == block.size()) {
          after_cr_ = true;
          break;
        }
        if (block[i] == '\n') ++i;
      }
      lines_ += "\r\n";
    }
    if (!lines_.empty()) ends_line_ = lines_.ends_with("\r\n");
    return stuffer_.Stuff(lines_);
  }
  // What follows the last block.
  std::string_view End() const { return after_cr_ || !ends_line_ ? "\r\n" : ""; }

 private:
  DotStuffer stuffer_;
  std::string lines_;
  bool after_cr_ = false;
  bool ends_line_ = true;  // an empty text needs no line end
};

// Reads the stored text once: its size on the wire, and whether it holds a byte beyond ASCII.
// Returns to the file's start.
struct StoredText {
  int64_t wire_size = 0;
  bool eight_bit = false;
};
StoredText SurveyStoredText(int fd, const std::string& path) {
  std::vector<char> block(kRawBlock);
  StoredText text;
  WireText wire;
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) OpenFile::Fail(path);
    if (got == 0) break;
    const std::string_view bytes(block.data(), static_cast<size_t>(got));
    text.eight_bit = text.eight_bit || !IsAscii(bytes);
    text.wire_size += static_cast<int64_t>(wire.Take(bytes).size());
  }
  text.wire_size += static_cast<int64_t>(wire.End().size());
  if (::lseek(fd, 0, SEEK_SET) != 0) OpenFile::Fail(path);
  return text;
}

}  // namespace

void SmtpClient::SendRaw(const Envelope& envelope, const std::string& path) {
  delivery_ = {};
  set_read_timeout(command_timeout_);
  set_write_timeout(data_block_timeout_);
  const OpenFile file(path);
  const StoredText text = SurveyStoredText(file.fd(), path);
  const int64_t size = text.wire_size;
  const std::string* beyond_ascii = IsAscii(envelope.sender) ? nullptr : &envelope.sender;
  for (const std::string& address : envelope.recipients) {
    if (beyond_ascii == nullptr && !IsAscii(address)) beyond_ascii = &address;
  }
  CheckServerOffer(beyond_ascii, size);
  const bool utf8_addresses = beyond_ascii != nullptr;
  std::string parameters;
  if (utf8_addresses || text.eight_bit) {
    if (!eight_bit_allowed()) throw ServerCapabilityError(texts::kNeedsEightBitMime);
    parameters = kEightBitParameter;
  }
  if (utf8_addresses) parameters.append(" ").append(kSmtpUtf8);
  for (const std::string& address : envelope.recipients) {
    CheckEnvelopeAddress(kRcptCommand, address);
  }
  if (size_limit_ >= 0) parameters.append(" SIZE=").append(std::to_string(size));
  CheckEnvelopeAddress(kMailCommand, envelope.sender, parameters);
  Recipients recipients;
  for (const std::string& address : envelope.recipients) recipients.push_back(&address);
  Transact(std::string(kMailCommand) + envelope.sender + ">" + parameters, std::move(recipients),
           size, [&] {
             if (::lseek(file.fd(), 0, SEEK_SET) != 0) OpenFile::Fail(path);
             WriteRawText(file.fd(), path);
           });
}

void SmtpClient::WriteRawText(int fd, const std::string& path) {
  WireText wire;
  std::vector<char> block(kRawBlock);
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) OpenFile::Fail(path);
    if (got == 0) break;
    WriteText(wire.Take(std::string_view(block.data(), static_cast<size_t>(got))));
  }
  if (const std::string_view end = wire.End(); !end.empty()) WriteText(end);
}

}  // namespace tovrel::net
