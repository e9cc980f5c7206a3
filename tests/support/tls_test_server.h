#pragma once

// The certificates of scripts/make_test_certs, and a TLS server that follows a script of steps
// (tests/support/tls_script_server.py describes them) for faults no real server commits.

#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tovrel::test {

// Made once per test program; from then on SSL_CERT_FILE names their CA, the way a user's
// setting would stand in for the system's store.
const TempDir& TestCertificates();

class ScriptedTlsServer {
 public:
  // `cert` names a certificate of TestCertificates() ("server", "partial", ...).
  ScriptedTlsServer(const std::string& cert, const std::vector<std::string>& steps);

  int port() const { return port_; }
  // The next result line the script printed.
  std::string Result() { return process_->ReadLine(); }

 private:
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace tovrel::test
