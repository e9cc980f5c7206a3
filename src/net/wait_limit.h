#pragma once

// How long a blocking call may wait: a number of milliseconds, or without limit. A plain count
// converts implicitly, so that limits read as numbers where they are set.

#include <chrono>

namespace tovrel::net {

class WaitLimit {
 public:
  // A count below zero waits not at all.
  constexpr WaitLimit(int milliseconds)  // NOLINT(google-explicit-constructor)
      : milliseconds_(milliseconds > 0 ? milliseconds : 0) {}
  static constexpr WaitLimit Forever() { return WaitLimit(); }

  constexpr bool forever() const { return forever_; }
  // The count; 0 when the limit is forever.
  constexpr int milliseconds() const { return milliseconds_; }
  constexpr bool operator==(const WaitLimit&) const = default;

 private:
  constexpr WaitLimit() : forever_(true) {}

  bool forever_ = false;
  int milliseconds_ = 0;
};

inline constexpr WaitLimit kWaitForever = WaitLimit::Forever();

// The stricter of two limits.
constexpr WaitLimit Shorter(WaitLimit a, WaitLimit b) {
  if (a.forever()) return b;
  if (b.forever()) return a;
  return a.milliseconds() < b.milliseconds() ? a : b;
}

// The moment a limit runs out, so that one limit can cover several waits in a row.
class Deadline {
 public:
  explicit Deadline(WaitLimit limit);
  // What is left of the limit now; no time at all once it has passed.
  WaitLimit Remaining() const;

 private:
  using Clock = std::chrono::steady_clock;

  bool forever_;
  Clock::time_point at_;
};

}  // namespace tovrel::net
