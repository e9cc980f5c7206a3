#pragma once

// The SMTP client: one connection to one server, the greeting and EHLO/HELO, optional AUTH LOGIN,
// and per message RSET, MAIL, one RCPT per To, CC and BCC address, DATA, the message text and
// the final ".". Every reply is awaited at most as long as the matching limit below (defaults
// after RFC 5321 section 4.5.3.2); a connect at most connect_timeout().
//
// Typical use: set host, port, user id and password; Connect(); Send(message) (as often as
// needed); Disconnect().

#include <string>
#include <string_view>
#include <vector>

#include "message/message.h"
#include "net/message_client.h"
#include "net/tls_intercept.h"

namespace tovrel::net {

enum class AuthenticationType { atNone, atLogin };
// How the connection is secured: not at all, by STARTTLS after the greeting and EHLO (port 587),
// or with TLS from the first byte (port 465).
enum class TlsMode { tmNone, tmStartTls, tmImplicit };

class SmtpClient : public MessageClient {
 public:
  static constexpr int kDefaultPort = 25;
  static constexpr int kGreetingTimeout = 5 * 60 * 1000;
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
  TlsMode tls_mode() const { return tls_mode_; }
  void set_tls_mode(TlsMode mode) { tls_mode_ = mode; }
  // Whether the server's certificate is checked; off only for a server the user knows to have
  // a certificate of its own making.
  CertificateCheck certificate_check() const { return certificate_check_; }
  void set_certificate_check(CertificateCheck check) { certificate_check_ = check; }
  void set_user_id(const std::string& user_id) { user_id_ = user_id; }

  // Limits (kWaitForever for none).
  WaitLimit greeting_timeout() const { return greeting_timeout_; }
  void set_greeting_timeout(WaitLimit limit) { greeting_timeout_ = limit; }
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

  // Copies the settings (authentication type, host, mail agent, password, port, user id).
  void Assign(const SmtpClient& source);

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
  virtual void Send(const message::Message& message);
  // Writes "Quit" when still connected (without awaiting the answer) and closes in every case.
  void Disconnect() override;

  virtual bool MechanismOffered(AuthenticationType type);
  virtual bool PerformAuthentication();

 private:
  void CollectAuthMechanisms();
  // Says hello, EHLO first and HELO when the server does not know it, and takes the extensions
  // from the reply.
  void Greet();
  // Whether the EHLO reply lists the service extension `keyword`.
  bool OffersExtension(std::string_view keyword) const;
  bool Offers(std::string_view mechanism) const;
  void StartTls();
  void DropTls();
  bool NeedsAuthentication();

  AuthenticationType authentication_type_ = AuthenticationType::atNone;
  std::string mail_agent_;
  std::string password_;
  std::string user_id_;
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
};

}  // namespace tovrel::net
