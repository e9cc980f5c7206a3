// OpenSSL is opened on the first TLS session, not linked: a plain send never maps libssl and
// libcrypto, whose thousands of relocations were the largest part of a short run's start. Each
// function the TLS session calls is defined here with OpenSSL's own declaration and passes the
// call on to the library's. The file is built with hidden visibility, so these definitions bind
// only our own calls and never stand in for the library in anyone else's.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

#include "message/on_demand_library.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/texts.h"

namespace tovrel::net {
namespace {

// The library's own function `name`; libcrypto's are reached through libssl, which needs it.
// A library that cannot be loaded fails the session that wanted it, as any TLS failure does.
void* Symbol(const char* name) {
  // The library these headers are of: libssl.so.3 for OpenSSL 3.
  static message::OnDemandLibrary library("libssl.so." + std::to_string(OPENSSL_VERSION_MAJOR));
  std::string failure;
  void* symbol = library.Symbol(name, failure);
  if (symbol == nullptr) {
    throw TlsError(message::FormatText(texts::kTlsLibraryMissing, {library.file_name(), failure}));
  }
  return symbol;
}

// Calls the library's function of the same name as `kDeclared`; looked up once.
template <auto kDeclared, typename... Args>
auto Call(const char* name, Args... args) {
  static const auto real = reinterpret_cast<decltype(kDeclared)>(Symbol(name));
  return real(args...);
}

}  // namespace
}  // namespace tovrel::net

using tovrel::net::Call;

extern "C" {

const SSL_METHOD* TLS_client_method() { return Call<&TLS_client_method>("TLS_client_method"); }
SSL_CTX* SSL_CTX_new(const SSL_METHOD* method) { return Call<&SSL_CTX_new>("SSL_CTX_new", method); }
void SSL_CTX_free(SSL_CTX* context) { Call<&SSL_CTX_free>("SSL_CTX_free", context); }
long SSL_CTX_ctrl(SSL_CTX* context, int command, long number, void* pointer) {
  return Call<&SSL_CTX_ctrl>("SSL_CTX_ctrl", context, command, number, pointer);
}
int SSL_CTX_set_default_verify_paths(SSL_CTX* context) {
  return Call<&SSL_CTX_set_default_verify_paths>("SSL_CTX_set_default_verify_paths", context);
}
void SSL_CTX_set_verify(SSL_CTX* context, int mode, SSL_verify_cb callback) {
  Call<&SSL_CTX_set_verify>("SSL_CTX_set_verify", context, mode, callback);
}
SSL* SSL_new(SSL_CTX* context) { return Call<&SSL_new>("SSL_new", context); }
void SSL_free(SSL* ssl) { Call<&SSL_free>("SSL_free", ssl); }
long SSL_ctrl(SSL* ssl, int command, long number, void* pointer) {
  return Call<&SSL_ctrl>("SSL_ctrl", ssl, command, number, pointer);
}
int SSL_connect(SSL* ssl) { return Call<&SSL_connect>("SSL_connect", ssl); }
int SSL_get_error(const SSL* ssl, int result) {
  return Call<&SSL_get_error>("SSL_get_error", ssl, result);
}
long SSL_get_verify_result(const SSL* ssl) {
  return Call<&SSL_get_verify_result>("SSL_get_verify_result", ssl);
}
X509_VERIFY_PARAM* SSL_get0_param(SSL* ssl) { return Call<&SSL_get0_param>("SSL_get0_param", ssl); }
int SSL_pending(const SSL* ssl) { return Call<&SSL_pending>("SSL_pending", ssl); }
int SSL_read(SSL* ssl, void* buffer, int size) {
  return Call<&SSL_read>("SSL_read", ssl, buffer, size);
}
int SSL_write(SSL* ssl, const void* buffer, int size) {
  return Call<&SSL_write>("SSL_write", ssl, buffer, size);
}
int SSL_set1_host(SSL* ssl, const char* host) {
  return Call<&SSL_set1_host>("SSL_set1_host", ssl, host);
}
void SSL_set_hostflags(SSL* ssl, unsigned int flags) {
  Call<&SSL_set_hostflags>("SSL_set_hostflags", ssl, flags);
}
void SSL_set_bio(SSL* ssl, BIO* read_bio, BIO* write_bio) {
  Call<&SSL_set_bio>("SSL_set_bio", ssl, read_bio, write_bio);
}
int SSL_shutdown(SSL* ssl) { return Call<&SSL_shutdown>("SSL_shutdown", ssl); }
int X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* parameters, const char* address) {
  return Call<&X509_VERIFY_PARAM_set1_ip_asc>("X509_VERIFY_PARAM_set1_ip_asc", parameters, address);
}
const char* X509_verify_cert_error_string(long code) {
  return Call<&X509_verify_cert_error_string>("X509_verify_cert_error_string", code);
}

BIO* BIO_new(const BIO_METHOD* method) { return Call<&BIO_new>("BIO_new", method); }
BIO* BIO_new_socket(int socket, int close_flag) {
  return Call<&BIO_new_socket>("BIO_new_socket", socket, close_flag);
}
int BIO_free(BIO* bio) { return Call<&BIO_free>("BIO_free", bio); }
void BIO_set_flags(BIO* bio, int flags) { Call<&BIO_set_flags>("BIO_set_flags", bio, flags); }
void BIO_clear_flags(BIO* bio, int flags) { Call<&BIO_clear_flags>("BIO_clear_flags", bio, flags); }
void* BIO_get_data(BIO* bio) { return Call<&BIO_get_data>("BIO_get_data", bio); }
void BIO_set_data(BIO* bio, void* data) { Call<&BIO_set_data>("BIO_set_data", bio, data); }
void BIO_set_init(BIO* bio, int init) { Call<&BIO_set_init>("BIO_set_init", bio, init); }
BIO_METHOD* BIO_meth_new(int type, const char* name) {
  return Call<&BIO_meth_new>("BIO_meth_new", type, name);
}
void BIO_meth_free(BIO_METHOD* method) { Call<&BIO_meth_free>("BIO_meth_free", method); }
int BIO_meth_set_create(BIO_METHOD* method, int (*create)(BIO*)) {
  return Call<&BIO_meth_set_create>("BIO_meth_set_create", method, create);
}
int BIO_meth_set_ctrl(BIO_METHOD* method, long (*control)(BIO*, int, long, void*)) {
  return Call<&BIO_meth_set_ctrl>("BIO_meth_set_ctrl", method, control);
}
int BIO_meth_set_write(BIO_METHOD* method, int (*write)(BIO*, const char*, int)) {
  return Call<&BIO_meth_set_write>("BIO_meth_set_write", method, write);
}

void ERR_clear_error() { Call<&ERR_clear_error>("ERR_clear_error"); }
unsigned long ERR_peek_error() { return Call<&ERR_peek_error>("ERR_peek_error"); }
const char* ERR_reason_error_string(unsigned long code) {
  return Call<&ERR_reason_error_string>("ERR_reason_error_string", code);
}

}  // extern "C"
