#include "net/output_gatherer.h"

#include <string>

namespace tovrel::net {

void OutputGatherer::Create(size_t threshold) {
  if (!pending_) pending_.emplace();
  threshold_ = threshold;
}

void OutputGatherer::Gather(std::span<const char> bytes) {
  if (threshold_ > 0 && pending_->empty() && bytes.size() >= threshold_) {
    // Already large enough to go out on its own: spare the copy.
    send_(bytes);
    return;
  }
  pending_->Append(bytes);
  while (threshold_ > 0 && pending_->size() >= threshold_) Flush(threshold_);
}

void OutputGatherer::FlushAll() {
  if (empty()) return;
  // Take the bytes out first: a failed send must not leave them to go out again later.
  std::string all(pending_->view());
  pending_->Clear();
  send_(all);
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
