// The TLS floor of the end-to-end benchmarks: a minimal client linked to OpenSSL that sends a file
// already prepared as wire text (CR LF lines, dot-stuffed, without the end-of-data line) over
// STARTTLS with the least dialogue. Connect, EHLO, STARTTLS, then the hand-shake as TovrelMail
// makes it (TLS 1.2 at least, OpenSSL's default suites, the peer verified against the default CA
// store, which SSL_CERT_FILE may name, and the certificate matched to the address 127.0.0.1);
// inside TLS EHLO, MAIL, RCPT, DATA, the text with one SSL_write per 16 KiB record (read from the
// page cache 256 KiB at a time), the end-of-data line and QUIT. After the hand-shake the records go
// to a memory BIO and leave with one send per command and per 256 KiB of text, as TovrelMail's
// client gathers them: with OpenSSL's socket BIO a system call per record cost this floor more
// than the whole send cost TovrelMail's library path, and larger sends leave the receiver idle
// longer.
//
// Usage: tovrel_tls_push PORT FILE
// Prints "sent BYTES" (the message text, the end-of-data line excluded) on success.

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/smtp_client_steps.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;  // read, encrypted and sent at a time
constexpr std::size_t kRecordSize = 16 * 1024;  // the largest plain text of one record

[[noreturn]] void ThrowTls(const std::string& what) {
  char reason[256] = "no reason given";
  if (unsigned long code = ERR_get_error(); code != 0) {
    ERR_error_string_n(code, reason, sizeof reason);
  }
  throw std::runtime_error(what + ": " + reason);
}

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

std::unique_ptr<SSL_CTX, ContextFree> NewContext() {
  std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(context.get()) != 1) {
    ThrowTls("TLS context");
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  return context;
}

long long Push(int port, const char* path) {
  WireFile file(path);
  Fd socket = ConnectLoopback(port);
  LineReader plain_reader(socket.get());
  SendFunction plain_send = [&socket](std::string_view bytes) { SendAll(socket.get(), bytes); };
  Expect(plain_reader, 220);
  Command(plain_send, plain_reader, "EHLO bench.invalid", 250);
  Command(plain_send, plain_reader, "STARTTLS", 220);

  auto context = NewContext();
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
  if (!ssl || SSL_set_fd(ssl.get(), socket.get()) != 1 ||
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), "127.0.0.1") != 1) {
    ThrowTls("TLS session");
  }
  if (SSL_connect(ssl.get()) != 1) ThrowTls("TLS hand-shake");
  if (SSL_get_verify_result(ssl.get()) != X509_V_OK) throw std::runtime_error("not verified");

  // Reads stay on the socket; the session now owns the memory BIO it writes to.
  BIO* held = BIO_new(BIO_s_mem());
  if (held == nullptr) ThrowTls("BIO_new");
  SSL_set0_wbio(ssl.get(), held);
  const auto write_records = [&ssl](std::string_view bytes) {
    while (!bytes.empty()) {
      std::size_t written = 0;
      if (SSL_write_ex(ssl.get(), bytes.data(), bytes.size(), &written) != 1) {
        ThrowTls("TLS send");
      }
      bytes.remove_prefix(written);
    }
  };
  const auto send_held = [&socket, held] {
    BUF_MEM* records = nullptr;
    BIO_get_mem_ptr(held, &records);
    SendAll(socket.get(), std::string_view(records->data, records->length));
    (void)BIO_reset(held);
  };
  SendFunction send = [&](std::string_view bytes) {
    write_records(bytes);
    send_held();
  };
  LineReader reader([&ssl](char* area, std::size_t size) -> std::size_t {
    std::size_t got = 0;
    int result = SSL_read_ex(ssl.get(), area, size, &got);
    if (result == 1) return got;
    if (SSL_get_error(ssl.get(), result) == SSL_ERROR_ZERO_RETURN) return 0;
    ThrowTls("TLS receive");
  });
  Command(send, reader, "EHLO bench.invalid", 250);
  StartMessage(send, reader);
  file.ForEachBlock(kBlockSize, [&](std::string_view rest) {
    while (!rest.empty()) {
      write_records(rest.substr(0, kRecordSize));
      rest.remove_prefix(std::min(rest.size(), kRecordSize));
    }
    send_held();
  });
  long long sent =
      file.size + static_cast<long long>(EndMessage(send, reader, file.ends_with_crlf));
  Command(send, reader, "QUIT", 221);
  return sent;
}

}  // namespace
}  // namespace tovrel::bench

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tovrel_tls_push PORT FILE\n");
    return 2;
  }
  try {
    long long sent = tovrel::bench::Push(std::stoi(argv[1]), argv[2]);
    std::printf("sent %lld\n", sent);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovrel_tls_push: %s\n", e.what());
    return 1;
  }
}
