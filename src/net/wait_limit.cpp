#include "net/wait_limit.h"

namespace tovrel::net {

Deadline::Deadline(WaitLimit limit)
    : forever_(limit.forever()),
      at_(Clock::now() + std::chrono::milliseconds(limit.milliseconds())) {}

WaitLimit Deadline::Remaining() const {
  if (forever_) return kWaitForever;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at_ - Clock::now());
  return WaitLimit(static_cast<int>(left.count()));
}

}  // namespace tovrel::net
