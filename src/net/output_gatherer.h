#pragma once

// Write gathering: once created, writes collect here and go out through the owner's send
// function in fewer, larger pieces: whenever a threshold's worth has gathered, and whenever the
// owner flushes (before it waits for an answer, so that a command and its reply still alternate).
// Until it is created, there is no gathering and the owner sends every write itself.

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

#include "net/byte_buffer.h"

namespace tovrel::net {

class OutputGatherer {
 public:
  using SendFunction = std::function<void(std::span<const char>)>;

  explicit OutputGatherer(SendFunction send) : send_(std::move(send)) {}

  // Starts gathering (keeping what is gathered already); a threshold of 0 sends only on a flush.
  void Create(size_t threshold);
  bool exists() const { return pending_.has_value(); }
  size_t size() const { return pending_ ? pending_->size() : 0; }
  bool empty() const { return size() == 0; }

  // Only while gathering.
  void Gather(std::span<const char> bytes);
  void FlushAll();
  // Sends the first `count` bytes, or everything when fewer are gathered.
  void Flush(size_t count);
  void Discard();

 private:
  SendFunction send_;
  std::optional<ByteBuffer> pending_;
  size_t threshold_ = 0;
};

}  // namespace tovrel::net
