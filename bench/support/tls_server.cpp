#include "support/tls_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>

namespace tovrel::bench {
namespace {

[[noreturn]] void ThrowTls(const std::string& what) {
  unsigned long code = ERR_get_error();
  char reason[256] = "no reason given";
  if (code != 0) ERR_error_string_n(code, reason, sizeof reason);
  ERR_clear_error();
  throw std::runtime_error(what + ": " + reason);
}

}  // namespace

void TlsServerContext::Free::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

TlsServerContext::TlsServerContext(const std::string& certificate_file, const std::string& key_file)
    : context_(SSL_CTX_new(TLS_server_method())) {
  SSL_CTX* context = context_.get();
  if (context == nullptr) ThrowTls("SSL_CTX_new");
  if (SSL_CTX_use_certificate_chain_file(context, certificate_file.c_str()) != 1) {
    ThrowTls(certificate_file);
  }
  if (SSL_CTX_use_PrivateKey_file(context, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    ThrowTls(key_file);
  }
  if (SSL_CTX_check_private_key(context) != 1) ThrowTls(key_file);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  if (SSL_CTX_set_ciphersuites(context,
                               "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                               "TLS_CHACHA20_POLY1305_SHA256") != 1 ||
      SSL_CTX_set_cipher_list(context, "ECDHE+AESGCM:ECDHE+CHACHA20") != 1) {
    ThrowTls("cipher list");
  }
  // A client that closes after QUIT without close_notify has still delivered its message.
  SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                   SSL_OP_NO_RENEGOTIATION);
  // No client resumes a session: tickets would only cost both ends time.
  SSL_CTX_set_num_tickets(context, 0);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  // Read ahead: one receive takes every record at hand off the socket (up to OpenSSL's buffer of
  // one largest record), not a record header and then its body. A larger buffer makes OpenSSL
  // slower on the many small records some senders write, one per line.
  SSL_CTX_set_read_ahead(context, 1);
}

void TlsServerSession::Free::operator()(SSL* ssl) const { SSL_free(ssl); }

TlsServerSession::TlsServerSession(const TlsServerContext& context, int fd)
    : ssl_(SSL_new(context.get())) {
  if (!ssl_) ThrowTls("SSL_new");
  if (SSL_set_fd(ssl_.get(), fd) != 1) ThrowTls("SSL_set_fd");
  int result = SSL_accept(ssl_.get());
  if (result != 1) ThrowTls("TLS hand-shake");
}

std::size_t TlsServerSession::Receive(char* area, std::size_t size) {
  std::size_t total = 0;
  while (total < size && (total == 0 || SSL_has_pending(ssl_.get()) == 1)) {
    std::size_t got = 0;
    int result = SSL_read_ex(ssl_.get(), area + total, size - total, &got);
    if (result != 1) {
      int error = SSL_get_error(ssl_.get(), result);
      if (error == SSL_ERROR_ZERO_RETURN) break;
      if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) break;  // closed without a word
      ThrowTls("TLS receive");
    }
    total += got;
  }
  return total;
}

void TlsServerSession::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t sent = 0;
    if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &sent) != 1) ThrowTls("TLS send");
    bytes.remove_prefix(sent);
  }
}

void TlsServerSession::Close() { SSL_shutdown(ssl_.get()); }

}  // namespace tovrel::bench
