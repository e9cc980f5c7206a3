#pragma once

namespace tovrel::test {

// A loopback port that nothing listens on (bound once to learn a free number, then released).
int ClosedLoopbackPort();

}  // namespace tovrel::test
