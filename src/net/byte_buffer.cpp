#include "net/byte_buffer.h"

#include "net/net_errors.h"

namespace tovrel::net {

void ByteBuffer::RemoveFromFront(size_t count) {
  if (count > size()) throw NotEnoughDataInBuffer();
  head_ += count;
  if (head_ == data_.size()) {
    Clear();
  } else if (head_ >= 65536 && head_ * 2 >= data_.size()) {
    data_.erase(0, head_);
    head_ = 0;
  }
}

void ByteBuffer::Clear() {
  data_.clear();
  head_ = 0;
}

}  // namespace tovrel::net
