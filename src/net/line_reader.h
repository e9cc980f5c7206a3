#pragma once

// The received bytes that no reader has consumed yet, with the line search over them. Bytes are
// appended as they arrive and consumed from the front. A search remembers how far it looked, so
// that a line arriving in many pieces is not searched again from its start after each piece.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/byte_buffer.h"

namespace tovrel::net {

class LineReader {
 public:
  static constexpr size_t kMaxLineLength = 64 * 1024;

  // One search for the end of a line.
  class Search {
   public:
    explicit Search(std::string_view terminator) : terminator_(terminator) {}
    std::string_view terminator() const { return terminator_; }

   private:
    friend class LineReader;
    std::string_view terminator_;
    size_t searched_ = 0;  // leading bytes known to hold no start of the terminator
  };

  const ByteBuffer& buffer() const { return buffer_; }
  size_t size() const { return buffer_.size(); }
  bool empty() const { return buffer_.empty(); }

  void Append(std::span<const char> bytes) { buffer_.Append(bytes); }
  void Clear() { buffer_.Clear(); }
  // Copies of the first bytes, without consuming them. Raise NotEnoughDataInBuffer when fewer
  // are buffered.
  std::string Front(size_t count) const;
  void CopyFront(std::span<char> destination) const;
  // Raises NotEnoughDataInBuffer, and leaves the buffer as it was, when fewer than `count` bytes
  // are buffered.
  void Drop(size_t count) { buffer_.RemoveFromFront(count); }

  // The length of the line before the search's terminator, once that is buffered. Raises
  // LineTooLong when the line has grown past kMaxLineLength (one CR more is allowed, since the
  // default line end drops it).
  std::optional<size_t> FindLineEnd(Search& search) const;

 private:
  ByteBuffer buffer_;
};

}  // namespace tovrel::net
