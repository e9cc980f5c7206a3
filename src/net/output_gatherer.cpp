#include "net/output_gatherer.h"

#include <string>

namespace tovrel::net {

void OutputGatherer::Create(size_t threshold) {
  if (!pending_) pending_.emplace();
  threshold_ = threshold;
}

void OutputGatherer::Gather(std::span<const char> bytes) {
  // Less than a threshold's worth is ever held between writes.
  if (threshold_ > 0 && pending_->size() + bytes.size() >= threshold_) {
    if (!pending_->empty()) {
      const size_t top_up = threshold_ - pending_->size();
      pending_->Append(bytes.first(top_up));
      bytes = bytes.subspan(top_up);
      FlushAll();
    }
    if (bytes.size() >= threshold_) {
      // Large enough to go out on its own, in one piece: spare the copy and the sends.
      send_(bytes);
      return;
    }
  }
  pending_->Append(bytes);
}

void OutputGatherer::FlushAll() {
  if (empty()) return;
  // Take the bytes out first: a failed send must not leave them to go out again later. The
  // storage comes back afterwards, so that gathering allocates nothing once it runs.
  ByteBuffer sending = std::move(*pending_);
  pending_->Clear();
  send_(sending.view());
  if (pending_->empty()) {
    sending.Clear();
    *pending_ = std::move(sending);
  }
}

void OutputGatherer::Flush(size_t count) {
  if (empty()) return;
  if (pending_->size() < count) {
    FlushAll();
    return;
  }
  try {
    send_(pending_->view().substr(0, count));
  } catch (...) {
    // Part of it may be out already; what is left must not follow later out of order.
    pending_->Clear();
    throw;
  }
  pending_->RemoveFromFront(count);
}

void OutputGatherer::Discard() {
  if (pending_) pending_->Clear();
}

}  // namespace tovrel::net
