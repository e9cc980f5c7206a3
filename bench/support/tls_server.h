#pragma once

// The server side of TLS for the benchmark's SMTP sink: a context made from a certificate and
// its key, and one session per connection over a connected socket. Both ends of a run share this
// machine's cores, so the sink prefers the cheapest strong suite (AES-128-GCM); every sender then
// encrypts with it too.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace tovrel::bench {

class TlsServerContext {
 public:
  // Throws std::runtime_error naming the file and OpenSSL's reason when either cannot be used.
  TlsServerContext(const std::string& certificate_file, const std::string& key_file);

  SSL_CTX* get() const { return context_.get(); }

 private:
  struct Free {
    void operator()(SSL_CTX* context) const;
  };
  std::unique_ptr<SSL_CTX, Free> context_;
};

class TlsServerSession {
 public:
  // Hand-shakes as the server over `fd`, which stays owned by the caller and must outlive this.
  TlsServerSession(const TlsServerContext& context, int fd);

  // Receives at least one byte (0 once the peer closed or said close_notify) and then whatever
  // else OpenSSL already holds, up to `size`: TLS hands out one record per read, and the sink
  // scans larger chunks.
  std::size_t Receive(char* area, std::size_t size);
  void Send(std::string_view bytes);
  // Says close_notify, without waiting for the peer's.
  void Close();

 private:
  struct Free {
    void operator()(SSL* ssl) const;
  };
  std::unique_ptr<SSL, Free> ssl_;
};

}  // namespace tovrel::bench
