// The TLS receive loop with records cut anywhere: a server of our own encrypts the input's text
// and hands the records over in pieces of the input's choosing; after each piece the connection
// reads what lines it can without waiting. A piece that ends inside a record must end the read
// (never a loop without end), and once all pieces are in, the lines read are the text sent.

#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_check.h"
#include "net/tcp_client.h"
#include "net/tls_intercept.h"

namespace tovrel::fuzz {
namespace {

// A throw-away key and certificate: the client does not check it, the session only has to be.
void UseFreshCertificate(SSL_CTX* context) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  X509_sign(cert, key, EVP_sha256());
  Require(SSL_CTX_use_certificate(context, cert) == 1 && SSL_CTX_use_PrivateKey(context, key) == 1,
          "cannot make the server's certificate");
  X509_free(cert);
  EVP_PKEY_free(key);
}

// One session for the whole run; every input leaves it with nothing unread.
struct Session {
  Session() {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_num_tickets(context, 0);
    UseFreshCertificate(context);
    server = SSL_new(context);
    SSL_CTX_free(context);  // the session keeps its own reference
    int listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listen_fd, 1);
    ::getsockname(listen_fd, reinterpret_cast<sockaddr*>(&address), &length);
    client.set_host("127.0.0.1");
    client.set_port(ntohs(address.sin_port));
    client.Connect();
    server_fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listen_fd);
    SSL_set_fd(server, server_fd);
    std::thread accepting([this] { SSL_accept(server); });
    tls.Handshake(client.binding(), "127.0.0.1", net::CertificateCheck::ccNone, 10000);
    accepting.join();
    // From here the server's records go to memory, to be handed over in pieces.
    SSL_set0_wbio(server, BIO_new(BIO_s_mem()));
    client.set_intercept(&tls);
    client.set_intercept_enabled(true);
  }

  SSL* server = nullptr;
  int server_fd = -1;
  net::TcpClient client;
  net::TlsIntercept tls;
};

void ReadWhatIsWhole(net::TcpClient& client, std::vector<std::string>& lines, int wait) {
  for (;;) {
    std::string line = client.ReadLine("\n", wait);
    if (client.line_timed_out()) return;
    lines.push_back(std::move(line));
  }
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  static Session session;
  FuzzedDataProvider input(data, size);
  std::string text = input.ConsumeRandomLengthString(4096) + "\n";
  // Several records when the input says so.
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t take = input.ConsumeIntegralInRange<std::size_t>(1, text.size() - at);
    Require(SSL_write(session.server, text.data() + at, static_cast<int>(take)) ==
                static_cast<int>(take),
            "the server cannot write");
    at += take;
  }
  BIO* records = SSL_get_wbio(session.server);
  std::string wire(static_cast<std::size_t>(BIO_pending(records)), '\0');
  BIO_read(records, wire.data(), static_cast<int>(wire.size()));

  std::vector<std::string> lines;
  std::size_t sent = 0;
  while (sent < wire.size()) {
    const std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(1, wire.size() - sent);
    Require(::send(session.server_fd, wire.data() + sent, piece, MSG_NOSIGNAL) ==
                static_cast<ssize_t>(piece),
            "the server cannot send");
    sent += piece;
    ReadWhatIsWhole(session.client, lines, 0);
  }
  std::vector<std::string> expected;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    expected.push_back(text.substr(start, end - start));
  }
  if (lines.size() < expected.size()) ReadWhatIsWhole(session.client, lines, 1000);
  Require(lines == expected, "the lines read are not the text sent");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
