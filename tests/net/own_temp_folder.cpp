// The net tests compare the spool files in $TMPDIR before and after a send: this program's run
// gets a folder of its own there, made before any test reads TMPDIR.

#include "support/test_support.h"

namespace {

const tovrel::test::OwnTempFolder kOwnTempFolder("tovrel-net-tests");

}  // namespace
