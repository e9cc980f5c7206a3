#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace tovrel::test {

// What Python's own URL decoder makes of form-encoded text ("+" for a blank, "%XX" for a byte).
inline std::string PythonFormDecode(const std::string& encoded) {
  const ProcessResult decoded = RunPython(
      "import sys, urllib.parse\n"
      "sys.stdout.buffer.write(urllib.parse.unquote_to_bytes(sys.stdin.read().replace('+', ' ')))",
      {}, encoded);
  EXPECT_EQ(decoded.exit_status, 0) << decoded.err;
  return decoded.out;
}

}  // namespace tovrel::test
