#pragma once

// The SMTP client: one connection to one server, the greeting and EHLO/HELO, optional AUTH LOGIN,
// and per message RSET, MAIL, one RCPT per To, CC and BCC address, DATA, the message text and
// the final ".". A server that takes fewer recipients at a time (452 to a RCPT) gets the rest in
// further transactions on the same connection. A server that offers PIPELINING gets RSET, MAIL,
// the RCPTs and DATA in one write (after the login, which goes alone) and its replies are read in
// order after; the message text follows only a 354, and a transaction with a recipient refused
// ends with the connection closed when the server answered DATA with 354 all the same.
// Every reply is awaited at most as long as the matching limit below (defaults after RFC 5321
// section 4.5.3.2); a connect at most connect_timeout(). A refusal raises ProtocolReplyError
// with the reply's code and all of its lines (ReplyReader::Shown).
//
// Typical use: set host, port, user id and password; Connect(); Send(message) (as often as
// needed); Disconnect().

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/message.h"
#include "net/message_client.h"
#include "net/net_errors.h"
#include "net/tls_intercept.h"

namespace tovrel::net {

// atOAuth2 signs in with an OAuth 2.0 access token (SASL OAUTHBEARER, else XOAUTH2), and only
// inside TLS: the token is as good as a password for as long as it lasts.
enum class AuthenticationType { atNone, atLogin, atOAuth2 };
// How the connection is secured: not at all, by STARTTLS after the greeting and EHLO (port 587),
// or with TLS from the first byte (port 465).
enum class TlsMode { tmNone, tmStartTls, tmImplicit };

// The name EHLO and HELO give: `host_name` when it has a dot, else the address literal of the
// connection's own address `local_ip` ("[192.0.2.1]", "[IPv6:2001:db8::1]"), since RFC 5321
// section 4.1.4 asks for a fully qualified name and servers refuse a bare one.
std::string HelloName(std::string_view host_name, std::string_view local_ip);

class SmtpClient : public MessageClient {
 public:
  static constexpr int kDefaultPort = 25;
  // Where servers expect TLS from the first byte.
  static constexpr int kImplicitTlsPort = 465;
  static constexpr int kGreetingTimeout = 5 * 60 * 1000;
  // How long a greeting is awaited on the port of implicit TLS without TLS: a server there waits
  // for a hand-shake and never greets, so the wait only delays the hint.
  static constexpr int kImplicitTlsPortGreetingTimeout = 20 * 1000;
  static constexpr int kCommandTimeout = 5 * 60 * 1000;
  static constexpr int kDataInitTimeout = 2 * 60 * 1000;
  static constexpr int kDataBlockTimeout = 3 * 60 * 1000;
  static constexpr int kDataTerminationTimeout = 10 * 60 * 1000;

  explicit SmtpClient(BaseComponent* owner = nullptr);

  AuthenticationType authentication_type() const { return authentication_type_; }
  void set_authentication_type(AuthenticationType type) { authentication_type_ = type; }
  const std::string& mail_agent() const { return mail_agent_; }
  void set_mail_agent(const std::string& agent) { mail_agent_ = agent; }
  const std::string& password() const { return password_; }
  void set_password(const std::string& password) { password_ = password; }
  const std::string& user_id() const { return user_id_; }
  // The bearer token of atOAuth2, obtained by the caller before Connect.
  const std::string& access_token() const { return access_token_; }
  void set_access_token(const std::string& token) { access_token_ = token; }
  TlsMode tls_mode() const { return tls_mode_; }
  void set_tls_mode(TlsMode mode) { tls_mode_ = mode; }
  // Whether the server's certificate is checked; off only for a server the user knows to have
  // a certificate of its own making.
  CertificateCheck certificate_check() const { return certificate_check_; }
  void set_certificate_check(CertificateCheck check) { certificate_check_ = check; }
  void set_user_id(const std::string& user_id) { user_id_ = user_id; }
  // A password login without TLS to a server not on this machine (the connected peer not in
  // 127.0.0.0/8 or ::1) raises TlsError before AUTH unless this allows it.
  bool plain_password_allowed() const { return plain_password_allowed_; }
  void set_plain_password_allowed(bool allowed) { plain_password_allowed_ = allowed; }
  // For tests, whose servers are all on this machine: with this on, no peer counts as on it.
  void set_loopback_counts_as_remote(bool remote) { loopback_counts_as_remote_ = remote; }

  // Limits (kWaitForever for none).
  WaitLimit greeting_timeout() const { return greeting_timeout_; }
  void set_greeting_timeout(WaitLimit limit) { greeting_timeout_ = limit; }
  // The limit the greeting is awaited with: greeting_timeout(), at most
  // kImplicitTlsPortGreetingTimeout on the port of implicit TLS when tls_mode() is not tmImplicit.
  WaitLimit greeting_wait() const;
  // EHLO, HELO, RSET, AUTH, MAIL and RCPT replies.
  WaitLimit command_timeout() const { return command_timeout_; }
  void set_command_timeout(WaitLimit limit) { command_timeout_ = limit; }
  // The reply to "Data".
  WaitLimit data_init_timeout() const { return data_init_timeout_; }
  void set_data_init_timeout(WaitLimit limit) { data_init_timeout_ = limit; }
  // Each wait to write command or message bytes.
  WaitLimit data_block_timeout() const { return data_block_timeout_; }
  void set_data_block_timeout(WaitLimit limit) { data_block_timeout_ = limit; }
  // The reply to the final ".".
  WaitLimit data_termination_timeout() const { return data_termination_timeout_; }
  void set_data_termination_timeout(WaitLimit limit) { data_termination_timeout_ = limit; }

  // The mechanisms the server announced in its EHLO reply.
  const std::vector<std::string>& server_auth_mechanisms() const { return server_auth_mechanisms_; }
  bool authenticated() const { return authenticated_; }
  // The name the last EHLO or HELO gave (see HelloName).
  const std::string& hello_name() const { return hello_name_; }

  // Copies the settings (authentication type, host, mail agent, password, port, user id).
  void Assign(const SmtpClient& source);

  // Starts TLS's own set-up ahead when tls_mode() asks for TLS (TlsIntercept::PrepareAhead).
  // Connect does so itself; a caller that has the settings sooner gains by calling it then.
  void PrepareTls();
  void Connect() override;
  // Raises MessageError naming the address, before anything is written, when the sender or a
  // recipient address holds a control character, or a blank or angle bracket outside a quoted
  // local part, or makes its command longer than 512 octets. The message text carries
  // mail_agent() as its X-Mailer field (none when empty); the message itself stays as it is.
  // Text with 8-bit bytes is announced with BODY=8BITMIME when the server offers 8BITMIME, else
  // sent quoted-printable. An attachment that is neither a regular file nor a pipe raises
  // FileError before anything is written. A failure while the message text is being written
  // closes the connection without writing anything more, so the partial text is never taken for
  // a message.
  // The message text is one wkWrite work phase whose maximum is its MessageSize.
  // From the EHLO reply: the MessageSize goes on MAIL as SIZE= when the server lists SIZE, and a
  // message larger than its limit, an address beyond ASCII without SMTPUTF8, or a login the
  // server offers no mechanism for raise ServerCapabilityError before anything is written.
  // Addresses beyond ASCII go out as they stand, announced with SMTPUTF8 and BODY=8BITMIME.
  // A RCPT refused raises ProtocolReplyError naming the address.
  virtual void Send(const message::Message& message);
  // Sends a message written before (by WriteMessage into a file, without dot-stuffing) on the
  // same MAIL, RCPT and DATA path as Send: the envelope is checked the same way,
  // 8-bit bytes are announced with BODY=8BITMIME (ServerCapabilityError when the server does not
  // offer it), and the text is dot-stuffed on the way out. Raises FileError when the file cannot
  // be read.
  // The text's line ends go out as CR LF whatever the file holds (a bare LF or CR as well), and
  // SIZE counts the text as it goes on the wire, stuffed dots included, as Send's does.
  struct Envelope {
    std::string sender;
    std::vector<std::string> recipients;
  };
  void SendRaw(const Envelope& envelope, const std::string& path);

  // Who has the message after the last Send or SendRaw, also when it failed: each transaction
  // whose end of data the server answered 250 has the recipients it took and that reply. A
  // message the server took is sent, whatever becomes of the connection after.
  struct FinishedTransaction {
    std::vector<std::string> recipients;
    std::string reply;
  };
  struct Delivery {
    // Every recipient of the send, in the envelope's order.
    std::vector<std::string> recipients;
    std::vector<FinishedTransaction> finished;
    // The end of the data went out and no reply came back: the server may have the message.
    bool end_unanswered = false;
    // The recipients of the finished transactions, and the others, each in envelope order.
    std::vector<std::string> Served() const;
    std::vector<std::string> Unserved() const;
  };
  const Delivery& delivery() const { return delivery_; }
  // Starts a send's record afresh before anything of it (the connect) can fail.
  void ForgetDelivery() { delivery_ = {}; }
  // Whether the session can carry another message: still connected, and the server has neither
  // closed it nor said anything unasked (a 421 before it hangs up). A session that cannot is
  // closed here.
  bool SessionOpen();
  // The envelope Send gives `message`: its sender, then every To, CC and BCC address.
  static Envelope EnvelopeOf(const message::Message& message);
  // Writes "Quit" when still connected (without awaiting the answer) and closes in every case.
  void Disconnect() override;

  virtual bool MechanismOffered(AuthenticationType type);
  virtual bool PerformAuthentication();

 private:
  void CollectAuthMechanisms();
  [[noreturn]] void RaiseReplyError() override;
  // Raises ServerCapabilityError when the server's offer rules out a message of `size` bytes
  // whose first address beyond ASCII is `beyond_ascii` (null: none), and TlsError when an
  // OAuth 2.0 token would go out in the clear. Both the composed and the stored path ask here.
  void CheckServerOffer(const std::string* beyond_ascii, int64_t size);
  using Recipients = std::vector<const std::string*>;
  // RSET and the login when due, then one transaction after another with the same text, each
  // with the recipients the one before had deferred, so that every recipient gets it once.
  void Transact(const std::string& mail_command, Recipients recipients, int64_t size,
                const std::function<void()>& write_text);
  // One transaction, each command awaiting its reply; returns the recipients deferred.
  Recipients SendTransaction(const std::string& mail_command, const Recipients& recipients,
                             int64_t size, const std::function<void()>& write_text);
  // The same with RSET (when `reset`), MAIL, every RCPT and DATA written at once (RFC 2920),
  // and their replies read in order after.
  Recipients SendPipelined(bool reset, const std::string& mail_command,
                           const Recipients& recipients, int64_t size,
                           const std::function<void()>& write_text);
  // Sends RCPT for the recipients in turn until one is deferred; returns it and those after it.
  Recipients SendRecipients(const Recipients& recipients);
  ProtocolReplyError RecipientRefused(const std::string& address) const;
  // The last reply as the failure it stands for, with all its lines.
  ProtocolReplyError ReplyError() const;
  // The stored text from the descriptor's position as it goes on the wire (see SendRaw).
  void WriteRawText(int fd, const std::string& path);
  // "Data", then SendText.
  void SendData(int64_t size, const std::function<void()>& write_text, const Recipients& taken);
  // The text `write_text` writes after a 354, then the final "."; a failure half-way closes the
  // connection so that the server never takes a part for the whole. A 250 to the "." makes the
  // transaction, with the recipients `taken`, a finished one of delivery().
  void SendText(int64_t size, const std::function<void()>& write_text, const Recipients& taken);
  // Says hello, EHLO first and HELO when the server does not know it, and takes the extensions
  // from the reply.
  void Greet();
  // Whether the EHLO reply lists the service extension `keyword`.
  bool OffersExtension(std::string_view keyword) const;
  // The parameters after `keyword` in its EHLO reply line; none when it is not listed.
  std::optional<std::string> ExtensionParameters(std::string_view keyword) const;
  bool Offers(std::string_view mechanism) const;
  // Reads the 220 greeting. On the port of implicit TLS without TLS, a failure before any line
  // came raises TlsExpected saying that the server may expect TLS; so does, on any port, a TLS
  // record where the greeting was due.
  void ReadGreeting();
  // Waits for the first bytes of a greeting in the clear and raises TlsExpected when they open a
  // TLS record.
  void AwaitPlainGreeting();
  // Whether the connected peer is this machine, where a password in the clear meets nobody.
  bool PeerOnThisMachine();
  void StartTls();
  void DropTls();
  bool NeedsAuthentication();
  // Sends AUTH with the bearer token as its initial response; a refusal raises
  // ProtocolReplyError with the provider's "status" and "scope".
  void AuthenticateWithToken();

  AuthenticationType authentication_type_ = AuthenticationType::atNone;
  std::string mail_agent_;
  std::string password_;
  std::string user_id_;
  std::string access_token_;
  TlsMode tls_mode_ = TlsMode::tmNone;
  CertificateCheck certificate_check_ = CertificateCheck::ccVerify;
  TlsIntercept tls_;
  WaitLimit greeting_timeout_ = kGreetingTimeout;
  WaitLimit command_timeout_ = kCommandTimeout;
  WaitLimit data_init_timeout_ = kDataInitTimeout;
  WaitLimit data_block_timeout_ = kDataBlockTimeout;
  WaitLimit data_termination_timeout_ = kDataTerminationTimeout;
  std::vector<std::string> server_auth_mechanisms_;
  bool authenticated_ = false;
  std::string hello_name_;
  // From the EHLO reply: the SIZE limit (0: listed without one; -1: not listed), and SMTPUTF8.
  int64_t size_limit_ = -1;
  bool smtp_utf8_ = false;
  bool pipelining_ = false;
  Delivery delivery_;
  bool plain_password_allowed_ = false;
  bool loopback_counts_as_remote_ = false;
};

}  // namespace tovrel::net
