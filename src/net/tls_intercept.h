#pragma once

// TLS over a connected socket, as an intercept: once the hand-shake is done, every byte the
// connection receives or sends goes through the TLS session, and the layers above keep reading
// and writing plain lines with their time limits, line cap and partial writes unchanged.
//
// The peer's certificate is checked against the system's CA store (OpenSSL's default paths, so
// SSL_CERT_FILE and SSL_CERT_DIR apply) and against the host name or address that was dialled;
// TLS 1.2 is the least version spoken, and SNI names the host.

#include <memory>
#include <span>
#include <string>

#include "net/connection_intercept.h"
#include "net/wait_limit.h"

struct ssl_ctx_st;

namespace tovrel::net {

enum class CertificateCheck { ccVerify, ccNone };

class TlsIntercept : public ConnectionIntercept {
 public:
  TlsIntercept();
  ~TlsIntercept() override;

  // Starts setting up what a session with `check` needs (OpenSSL itself, its client context, the
  // CA store) on a thread of its own, so that it goes on while the connection is made and the
  // server greets: several milliseconds of a short send. The next Handshake takes it; a setup
  // that failed is made again there, where its failure is reported. Does nothing when one for
  // `check` is under way or ready.
  void PrepareAhead(CertificateCheck check);
  // Hand-shakes over `binding` (connected) as a client of `host`, each wait at most `limit`.
  // Raises TlsError naming the host and the reason when the session cannot be set up or the
  // certificate does not pass.
  void Handshake(SocketHandle& binding, const std::string& host, CertificateCheck check,
                 WaitLimit limit);
  bool established() const { return session_ != nullptr; }

  bool HasBufferedInput() const override;
  long ReceiveInstead(std::span<char> area) override;
  long SendInstead(std::span<const char> bytes) override;
  void BindingClosing() override;
  void BindingClosed() override;

 private:
  struct Session;
  // Waits for what the session asked for after a call that could not finish (-1 and errno
  // EAGAIN to go round again, ETIMEDOUT when `limit` passed, or the mapped failure).
  long AfterIncomplete(int result, WaitLimit limit);

  struct Preparation;
  struct ContextFree {
    void operator()(ssl_ctx_st* context) const;
  };
  using Context = std::unique_ptr<ssl_ctx_st, ContextFree>;
  // The context PrepareAhead made for `check`, or a new one made here.
  Context TakeContext(CertificateCheck check);

  std::unique_ptr<Session> session_;
  WaitLimit wait_limit_ = kWaitForever;
  // Declared last: its thread is waited for before anything else goes.
  std::unique_ptr<Preparation> preparation_;
};

}  // namespace tovrel::net
