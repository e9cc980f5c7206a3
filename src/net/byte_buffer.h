#pragma once

// Growable byte buffer for received and pending bytes: appended at the end, consumed from the
// front. Consumed bytes are dropped lazily so that taking a line does not move the rest each time.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tovrel::net {

class ByteBuffer {
 public:
  size_t size() const { return data_.size() - head_; }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return std::string_view(data_).substr(head_); }

  void Append(std::span<const char> bytes) { data_.append(bytes.data(), bytes.size()); }
  void Append(std::string_view bytes) { data_.append(bytes); }
  // Raises NotEnoughDataInBuffer when fewer than `count` bytes are held.
  void RemoveFromFront(size_t count);
  void Clear();

 private:
  std::string data_;
  size_t head_ = 0;
};

}  // namespace tovrel::net
