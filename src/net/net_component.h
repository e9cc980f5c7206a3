#pragma once

// Common base of the network components: keeps the process-wide socket stack alive, turns
// connection states into status texts for an optional handler, and counts transferred bytes in
// nested work phases per direction for optional progress handlers (WorkPhase scopes a phase).
// The outermost write phase is also what a send's observer sees as its total and progress.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "message/base_component.h"

namespace tovrel::net {

enum class ConnectionStatus {
  stResolving,
  stConnecting,
  stConnected,
  stDisconnecting,
  stDisconnected,
  stText
};

enum class WorkMode { wkRead = 0, wkWrite = 1 };

class NetComponent;
class SendObserver;

using StatusEvent = std::function<void(NetComponent& sender, ConnectionStatus status,
                                       const std::string& status_text)>;
using WorkEvent = std::function<void(NetComponent& sender, WorkMode mode, int64_t work_count)>;
using WorkBeginEvent =
    std::function<void(NetComponent& sender, WorkMode mode, int64_t work_count_max)>;
using WorkEndEvent = std::function<void(NetComponent& sender, WorkMode mode)>;

class NetComponent : public message::BaseComponent {
 public:
  explicit NetComponent(BaseComponent* owner = nullptr);
  ~NetComponent() override;

  void set_on_status(StatusEvent handler) { on_status_ = std::move(handler); }
  void set_on_work(WorkEvent handler) { on_work_ = std::move(handler); }
  void set_on_work_begin(WorkBeginEvent handler) { on_work_begin_ = std::move(handler); }
  void set_on_work_end(WorkEndEvent handler) { on_work_end_ = std::move(handler); }
  // Set for the length of a send by ObservedSend.
  void set_send_observer(SendObserver* observer) { send_observer_ = observer; }
  SendObserver* send_observer() const { return send_observer_; }
  // Whether anyone follows the progress: only then is it worth asking the socket what left it.
  bool work_watched() const { return send_observer_ != nullptr || static_cast<bool>(on_work_); }

  // Formats the status text only when a handler wants it.
  void ReportStatus(ConnectionStatus status, std::string_view argument = {});

  virtual void StartWork(WorkMode mode, int64_t maximum);
  virtual void ReportWork(WorkMode mode, int64_t count);
  virtual void FinishWork(WorkMode mode);

  std::string LocalHostName();

 protected:
  bool InWork(WorkMode mode) const { return work_[static_cast<int>(mode)].depth > 0; }

 private:
  struct WorkState {
    int64_t total = 0;
    int64_t maximum = 0;
    int depth = 0;
  };

  StatusEvent on_status_;
  WorkEvent on_work_;
  WorkBeginEvent on_work_begin_;
  WorkEndEvent on_work_end_;
  SendObserver* send_observer_ = nullptr;
  std::array<WorkState, 2> work_{};
};

// Keeps a work phase open for the life of a scope, so that it ends on every path out of it.
class WorkPhase {
 public:
  WorkPhase(NetComponent& component, WorkMode mode, int64_t maximum = 0)
      : component_(component), mode_(mode) {
    component_.StartWork(mode, maximum);
  }
  ~WorkPhase() { component_.FinishWork(mode_); }
  WorkPhase(const WorkPhase&) = delete;
  WorkPhase& operator=(const WorkPhase&) = delete;

 private:
  NetComponent& component_;
  WorkMode mode_;
};

// Live network components; the socket stack exists while this is above zero.
int LiveNetComponents();

}  // namespace tovrel::net
