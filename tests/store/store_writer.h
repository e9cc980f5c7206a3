#pragma once

// A second process for the store tests: the test program started again with
// "--store-writer SECTION PREFIX COUNT" writes COUNT values PREFIX0.. into SECTION of the
// program's base key, value k holding the text of k, one operation each, and exits 0.

namespace tovrel::test {

// The program's own base key, so that the tests see the layout a real store file has.
inline constexpr const char* kStoreBaseKey = "\\Software\\tovrel\\tovrelmail\\";
inline constexpr const char* kStoreWriterFlag = "--store-writer";
int RunStoreWriter(int argc, char** argv);

}  // namespace tovrel::test
