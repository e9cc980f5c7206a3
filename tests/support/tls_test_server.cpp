#include "support/tls_test_server.h"

#include <stdlib.h>

#include <stdexcept>

namespace tovrel::test {

const TempDir& TestCertificates() {
  static const TempDir* const made = [] {
    static TempDir dir;
    const ProcessResult result = RunProcess({SourcePath("scripts/make_test_certs"), dir.path()});
    if (result.exit_status != 0) throw std::runtime_error("make_test_certs: " + result.err);
    setenv("SSL_CERT_FILE", dir.File("ca.pem").c_str(), 1);
    return &dir;
  }();
  return *made;
}

ScriptedTlsServer::ScriptedTlsServer(const std::string& cert,
                                     const std::vector<std::string>& steps) {
  const TempDir& certs = TestCertificates();
  std::vector<std::string> argv = {kPython, SourcePath("tests/support/tls_script_server.py"),
                                   certs.File(cert + ".pem"), certs.File(cert + ".key")};
  argv.insert(argv.end(), steps.begin(), steps.end());
  process_ = std::make_unique<ChildProcess>(argv);
  port_ = std::stoi(process_->ReadLine());
}

}  // namespace tovrel::test
