#pragma once

// The scripted HTTP server of scripts/http_test_server.py, driven from the tests: each
// connection gets the behaviour of one script entry, and every request it read comes back
// byte for byte.

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tovrel::test {

struct ServerStep {
  std::string reply{};        // bytes sent back
  int chunk = 0;              // piece size, 0: all at once
  double chunk_delay = 0;     // seconds between pieces
  double delay = 0;           // seconds before answering
  bool keep_open = false;     // keep the connection open after the reply
  bool silent = false;        // accept, then neither read nor answer
  bool line_request = false;  // the request is one line, not a header block
};

class ScriptedServer {
 public:
  // Listens on `address` alone: "127.0.0.1", or "::1" for the IPv6 loopback.
  ScriptedServer(std::initializer_list<ServerStep> steps, std::string address = "127.0.0.1");

  int port() const { return port_; }
  // "<address>:<port>" followed by `path`, an IPv6 address in brackets.
  std::string Url(const std::string& path) const;
  // The next request the server read (throws when none comes in time).
  std::string NextRequest(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the next "CONNECTED" line of a silent step.
  void WaitConnected(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  TempDir dir_;
  std::string address_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// A reply with the given status line, extra header lines (each ending in CR LF) and body.
std::string HttpReply(const std::string& status, const std::string& headers,
                      const std::string& body);

}  // namespace tovrel::test
