#include "net/tls_intercept.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <thread>

#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/socket_handle.h"
#include "net/socket_stack.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct BioMethodFree {
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

// What the records of one write may add up to before they go to the socket together.
constexpr std::size_t kHeldRecordsLimit = 512 * 1024;

// The session's records on their way to the socket. While the application's bytes are written,
// the records (16 KiB each at most) are held and sent together: a system call per record cost as
// much as encrypting it.
struct RecordWrites {
  SocketHandle* binding = nullptr;
  bool holding = false;
  std::string held;
  std::size_t held_sent = 0;

  // Sends what is held, in order, as far as the socket takes it now. False with errno set when
  // some is left (EAGAIN: no room yet) or the socket failed.
  bool SendHeld() {
    while (held_sent < held.size()) {
      const ssize_t sent =
          binding->SendBytes(held.data() + held_sent, held.size() - held_sent, MSG_DONTWAIT);
      if (sent < 0) return false;
      held_sent += static_cast<std::size_t>(sent);
    }
    held.clear();
    held_sent = 0;
    return true;
  }
};

// OpenSSL's socket BIO writes with write(2), and a write to a connection the server has closed
// raises SIGPIPE, which ends the process. The session writes through this one instead, which
// sends like the rest of the transport: MSG_NOSIGNAL, so that a closed peer is an EPIPE.
int SendWithoutSignal(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  auto* writes = static_cast<RecordWrites*>(BIO_get_data(bio));
  const auto size = static_cast<std::size_t>(std::max(length, 0));
  if (writes->holding) {
    // A full hold goes out in one piece and this record starts the next: a record sent on its own
    // would cost a system call of its own.
    if (writes->held.size() + size <= kHeldRecordsLimit || writes->SendHeld()) {
      writes->held.append(data, size);
      return length;
    }
  } else if (writes->SendHeld()) {
    // Whatever was held goes before this record.
    const ssize_t sent = writes->binding->SendBytes(data, size, MSG_DONTWAIT);
    if (sent >= 0) return static_cast<int>(sent);
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
  return -1;
}

// Held records are sent at the end of each write of ours, which OpenSSL's own flush never
// follows; every other request is not ours.
long ControlSocketWrites(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int CreateSocketWrites(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

// The oldest reason OpenSSL queued, or what the socket said when it queued none.
std::string FailureReason(int ssl_error, int system_error) {
  const unsigned long queued = ERR_peek_error();
  if (queued != 0) {
    const char* reason = ERR_reason_error_string(queued);
    ERR_clear_error();
    if (reason != nullptr) return reason;
  }
  if (ssl_error == SSL_ERROR_SYSCALL && system_error != 0) return std::strerror(system_error);
  return texts::kTlsPeerClosed;
}

size_t ClampToInt(size_t size) { return size > INT_MAX ? INT_MAX : size; }

// A client context that speaks TLS 1.2 at least and, to verify, trusts the system's CA store.
// Null when OpenSSL could not make it (its queue says why).
SSL_CTX* NewContext(CertificateCheck check) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
    SSL_CTX_free(context);
    return nullptr;
  }
  if (check == CertificateCheck::ccVerify) {
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  }
  return context;
}

}  // namespace

void TlsIntercept::ContextFree::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

struct TlsIntercept::Preparation {
  CertificateCheck check = CertificateCheck::ccVerify;
  Context context;  // the thread's result, read only after the thread was joined
  std::thread thread;
  ~Preparation() {
    if (thread.joinable()) thread.join();
  }
};

struct TlsIntercept::Session {
  Context context;
  // Declared before `ssl`, whose write BIO is made from it and must go first.
  std::unique_ptr<BIO_METHOD, BioMethodFree> socket_writes;
  std::unique_ptr<SSL, SslFree> ssl;
  RecordWrites writes;
  // After a fatal error the session must not be used again, not even to say goodbye.
  bool broken = false;
};

TlsIntercept::TlsIntercept() {
  set_handles_receive(true);
  set_handles_send(true);
}

TlsIntercept::~TlsIntercept() = default;

void TlsIntercept::PrepareAhead(CertificateCheck check) {
  if (preparation_ != nullptr && preparation_->check == check) return;
  preparation_.reset();
  auto preparation = std::make_unique<Preparation>();
  preparation->check = check;
  try {
    preparation->thread = std::thread([target = preparation.get()] {
      try {
        target->context.reset(NewContext(target->check));
      } catch (...) {
        // OpenSSL cannot be had: the hand-shake makes the context again and reports why.
      }
    });
  } catch (const std::system_error&) {
    return;  // no thread to be had: the hand-shake makes the context itself
  }
  preparation_ = std::move(preparation);
}

TlsIntercept::Context TlsIntercept::TakeContext(CertificateCheck check) {
  if (const std::unique_ptr<Preparation> preparation = std::move(preparation_)) {
    if (preparation->thread.joinable()) preparation->thread.join();
    if (preparation->check == check && preparation->context != nullptr) {
      return std::move(preparation->context);
    }
  }
  ERR_clear_error();
  return Context(NewContext(check));
}

void TlsIntercept::Handshake(SocketHandle& binding, const std::string& host, CertificateCheck check,
                             WaitLimit limit) {
  auto fail = [&host](const char* text, const std::string& reason) -> TlsError {
    return TlsError(message::FormatText(text, {host, reason}));
  };
  auto session = std::make_unique<Session>();
  session->context = TakeContext(check);
  SSL_CTX* context = session->context.get();
  if (context == nullptr) throw fail(texts::kTlsSetupFailed, FailureReason(SSL_ERROR_SSL, 0));
  session->ssl.reset(SSL_new(context));
  SSL* ssl = session->ssl.get();
  session->socket_writes.reset(BIO_meth_new(BIO_TYPE_SOURCE_SINK, "socket writes"));
  BIO_METHOD* socket_writes = session->socket_writes.get();
  if (ssl == nullptr || socket_writes == nullptr ||
      BIO_meth_set_write(socket_writes, SendWithoutSignal) != 1 ||
      BIO_meth_set_ctrl(socket_writes, ControlSocketWrites) != 1 ||
      BIO_meth_set_create(socket_writes, CreateSocketWrites) != 1) {
    throw fail(texts::kTlsSetupFailed, FailureReason(SSL_ERROR_SSL, 0));
  }
  BIO* reads = BIO_new_socket(binding.handle(), BIO_NOCLOSE);
  BIO* writes = BIO_new(socket_writes);
  if (reads == nullptr || writes == nullptr) {
    BIO_free(reads);
    BIO_free(writes);
    throw fail(texts::kTlsSetupFailed, FailureReason(SSL_ERROR_SSL, 0));
  }
  session->writes.binding = &binding;
  BIO_set_data(writes, &session->writes);
  SSL_set_bio(ssl, reads, writes);  // the session owns both from here
  SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // The certificate must name what the user dialled: an address is matched as an address, and
  // SNI carries names only (RFC 6066 forbids literal addresses there).
  // A certificate for "f*.example.test" names no host in particular, and one that names its
  // host only in the subject is from before subjectAltName was required (RFC 6125 section 6.4).
  const bool literal = SystemStack::IsDottedQuad(host) || !SystemStack::Ipv6Literal(host).empty();
  if (literal) {
    const std::string address(SystemStack::WithoutZone(host));
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), address.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set_hostflags(ssl,
                      X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    SSL_set1_host(ssl, host.c_str());
  }
  // The transport waits with poll and never blocks in a call; OpenSSL's reads and writes must
  // not either, or a silent peer would outlast every time limit.
  const int flags = fcntl(binding.handle(), F_GETFL);
  if (flags >= 0) fcntl(binding.handle(), F_SETFL, flags | O_NONBLOCK);

  const Deadline deadline(limit);
  for (;;) {
    ERR_clear_error();
    const int result = SSL_connect(ssl);
    if (result == 1) break;
    const int system_error = errno;
    const int error = SSL_get_error(ssl, result);
    bool ready = false;
    if (error == SSL_ERROR_WANT_READ) {
      ready = binding.WaitReadable(deadline.Remaining());
    } else if (error == SSL_ERROR_WANT_WRITE) {
      ready = binding.WaitWritable(deadline.Remaining());
    } else {
      const long verdict = SSL_get_verify_result(ssl);
      if (check == CertificateCheck::ccVerify && verdict != X509_V_OK) {
        ERR_clear_error();
        throw TlsCertificateRefused(message::FormatText(
            texts::kTlsVerifyFailed, {host, X509_verify_cert_error_string(verdict)}));
      }
      throw fail(texts::kTlsHandshakeFailed, FailureReason(error, system_error));
    }
    if (!ready) throw fail(texts::kTlsHandshakeFailed, texts::kTlsTimedOut);
  }
  wait_limit_ = limit;
  session_ = std::move(session);
  BindingConnected(binding);
}

bool TlsIntercept::HasBufferedInput() const {
  // Decrypted bytes only: the start of a record that has not all arrived is pending too, but
  // reading it again before the socket has more would go round without end.
  return session_ != nullptr && SSL_pending(session_->ssl.get()) > 0;
}

long TlsIntercept::AfterIncomplete(int result, WaitLimit limit) {
  const int system_error = errno;
  const int error = SSL_get_error(session_->ssl.get(), result);
  ERR_clear_error();
  switch (error) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      // The caller waits for the direction it moves data in; the other one is waited for here.
      if (error == SSL_ERROR_WANT_WRITE ? !binding()->WaitWritable(limit)
                                        : !binding()->WaitReadable(limit)) {
        errno = ETIMEDOUT;
        return -1;
      }
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_SYSCALL:
      session_->broken = true;
      if (system_error == 0) return 0;  // the peer went away without closing the session
      errno = system_error;
      return -1;
    default:
      // A broken record or a failed check: the session cannot go on.
      session_->broken = true;
      errno = ECONNRESET;
      return -1;
  }
}

long TlsIntercept::ReceiveInstead(std::span<char> area) {
  if (session_ == nullptr) return 0;
  ERR_clear_error();
  const int count =
      SSL_read(session_->ssl.get(), area.data(), static_cast<int>(ClampToInt(area.size())));
  if (count > 0) return count;
  if (SSL_get_error(session_->ssl.get(), count) == SSL_ERROR_WANT_READ) {
    errno = EAGAIN;  // the connection itself waits for more of the record, within its limit
    return -1;
  }
  return AfterIncomplete(count, wait_limit_);
}

long TlsIntercept::SendInstead(std::span<const char> bytes) {
  if (session_ == nullptr) {
    errno = EPIPE;
    return -1;
  }
  SSL* ssl = session_->ssl.get();
  RecordWrites& writes = session_->writes;
  // A call writes one record; as many go as the socket takes now, since the connection waits
  // for room before each call of ours and a wait per record would double the system calls.
  std::size_t moved = 0;
  writes.holding = true;
  struct StopHolding {
    RecordWrites& writes;
    ~StopHolding() { writes.holding = false; }
  } stop_holding{writes};
  while (moved < bytes.size()) {
    const std::span<const char> rest = bytes.subspan(moved);
    ERR_clear_error();
    const int count = SSL_write(ssl, rest.data(), static_cast<int>(ClampToInt(rest.size())));
    if (count > 0) {
      moved += static_cast<std::size_t>(count);
      continue;
    }
    const int error = SSL_get_error(ssl, count);
    // The record that did not go is written again from the same bytes by the next call.
    if (moved > 0 && (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ)) break;
    if (error == SSL_ERROR_WANT_WRITE) {
      errno = EAGAIN;  // the connection waits until the socket takes more, within its limit
      return -1;
    }
    const long result = AfterIncomplete(count, wait_limit_);
    if (result == 0) errno = EPIPE;  // a closed session takes nothing more
    return -1;
  }
  // The bytes counted as moved are in records; none may stay behind once the call returns, or
  // the server would wait for them while we wait for its reply.
  while (!writes.SendHeld()) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!binding()->WaitWritable(wait_limit_)) {
      errno = ETIMEDOUT;
      return -1;
    }
  }
  return static_cast<long>(moved);
}

void TlsIntercept::BindingClosing() {
  // The close alert tells the server that the end is meant and no data was cut off. It is sent
  // without waiting: nothing the server might still answer is needed.
  if (session_ == nullptr || session_->broken) return;
  ERR_clear_error();
  SSL_shutdown(session_->ssl.get());
  ERR_clear_error();
}

void TlsIntercept::BindingClosed() {
  // The socket is gone already; the close alert, if any, went before.
  session_.reset();
  ConnectionIntercept::BindingClosed();
}

}  // namespace tovrel::net
