#include "net/line_reader.h"

#include <cstring>

#include "net/net_errors.h"

namespace tovrel::net {

std::string LineReader::Front(size_t count) const {
  if (count > buffer_.size()) throw NotEnoughDataInBuffer();
  return std::string(buffer_.view().substr(0, count));
}

void LineReader::CopyFront(std::span<char> destination) const {
  if (destination.size() > buffer_.size()) throw NotEnoughDataInBuffer();
  std::memcpy(destination.data(), buffer_.view().data(), destination.size());
}

std::optional<size_t> LineReader::FindLineEnd(Search& search) const {
  const std::string_view terminator = search.terminator_;
  if (buffer_.empty()) return std::nullopt;
  const size_t found = buffer_.view().find(terminator, search.searched_);
  if (found == std::string_view::npos) {
    if (buffer_.size() > kMaxLineLength + 1 + terminator.size()) throw LineTooLong();
    search.searched_ =
        buffer_.size() >= terminator.size() ? buffer_.size() - terminator.size() + 1 : 0;
    return std::nullopt;
  }
  if (found > kMaxLineLength + 1) throw LineTooLong();
  return found;
}

}  // namespace tovrel::net
