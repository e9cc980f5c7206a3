#include "net/send_observer.h"

#include "net/net_component.h"
#include "net/net_errors.h"

namespace tovrel::net {

ObservedSend::Turns::Turns(SendObserver& observer) : observer_(observer) {
  set_idle_timeout(observer.turn_interval());
  // Turns after writes too: a server that takes everything at once never leaves a wait idle.
  set_only_when_idle(false);
}

void ObservedSend::Turns::ServiceApplication() {
  if (observer_.Yield() == SendTurn::kStop && !stopped_) {
    stopped_ = true;
    throw SendCancelled();
  }
}

ObservedSend::ObservedSend(NetComponent& component, SendObserver& observer)
    : component_(component), turns_(observer) {
  component_.set_send_observer(&observer);
}

ObservedSend::~ObservedSend() { component_.set_send_observer(nullptr); }

}  // namespace tovrel::net
