#include "net/net_component.h"

#include <cstdio>
#include <memory>

#include "message/string_helpers.h"
#include "net/send_observer.h"
#include "net/socket_stack.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

std::unique_ptr<SystemStack> socket_stack;
int live_components = 0;

const char* StatusFormat(ConnectionStatus status) {
  switch (status) {
    case ConnectionStatus::stResolving:
      return texts::kStatusResolving;
    case ConnectionStatus::stConnecting:
      return texts::kStatusConnecting;
    case ConnectionStatus::stConnected:
      return texts::kStatusConnected;
    case ConnectionStatus::stDisconnecting:
      return texts::kStatusDisconnecting;
    case ConnectionStatus::stDisconnected:
      return texts::kStatusDisconnected;
    case ConnectionStatus::stText:
      break;
  }
  return texts::kStatusText;
}

}  // namespace

SystemStack* SocketStack() { return socket_stack.get(); }

int LiveNetComponents() { return live_components; }

NetComponent::NetComponent(BaseComponent* owner) : BaseComponent(owner) {
  if (!socket_stack) socket_stack = std::make_unique<SystemStack>();
  ++live_components;
}

NetComponent::~NetComponent() {
  if (--live_components == 0) socket_stack.reset();
}

void NetComponent::ReportStatus(ConnectionStatus status, std::string_view argument) {
  if (!on_status_) return;
  on_status_(*this, status, message::FormatText(StatusFormat(status), {argument}));
}

void NetComponent::StartWork(WorkMode mode, int64_t maximum) {
  WorkState& state = work_[static_cast<int>(mode)];
  if (++state.depth == 1) {
    state.maximum = maximum;
    state.total = 0;
    if (on_work_begin_) on_work_begin_(*this, mode, maximum);
    if (mode == WorkMode::wkWrite && send_observer_ != nullptr) send_observer_->Total(maximum);
  }
}

void NetComponent::ReportWork(WorkMode mode, int64_t count) {
  WorkState& state = work_[static_cast<int>(mode)];
  if (state.depth <= 0) return;
  state.total += count;
  if (on_work_) on_work_(*this, mode, state.total);
  if (mode == WorkMode::wkWrite && send_observer_ != nullptr) send_observer_->Progress(state.total);
}

void NetComponent::FinishWork(WorkMode mode) {
  WorkState& state = work_[static_cast<int>(mode)];
  if (state.depth == 1 && on_work_end_) on_work_end_(*this, mode);
  if (state.depth > 0) --state.depth;
}

std::string NetComponent::LocalHostName() { return socket_stack->LocalHostName(); }

}  // namespace tovrel::net
