#pragma once

// The idle hook: a way for blocking socket waits to give the application's window a turn. A
// descendant of GuiPumpBase services the window's queue; while one exists, waits are cut into
// slices of idle_timeout() milliseconds.

#include "message/base_component.h"

namespace tovrel::net {

// Why the transport offers the window a turn.
enum class IdleOccasion {
  ioIdle,    // a wait ended without anything to do
  ioBusy,    // between two pieces of work, such as after a send
  ioForced,  // a turn whatever only_when_idle() says
};

class GuiPumpBase : public message::BaseComponent {
 public:
  explicit GuiPumpBase(BaseComponent* owner = nullptr);
  ~GuiPumpBase() override;

  bool active() const { return active_; }
  void set_active(bool active) { active_ = active; }
  bool application_has_priority() const { return application_has_priority_; }
  void set_application_has_priority(bool value) { application_has_priority_ = value; }
  int idle_timeout() const { return idle_timeout_; }
  void set_idle_timeout(int milliseconds) { idle_timeout_ = milliseconds; }
  bool only_when_idle() const { return only_when_idle_; }
  void set_only_when_idle(bool value) { only_when_idle_ = value; }

  virtual void ServiceApplication() = 0;

  // Called by the transport after every wait and every send. A busy occasion gets a turn only
  // when the pump does not restrict itself to idle ones.
  static void IdleHook(IdleOccasion occasion);

 private:
  bool active_ = true;
  bool application_has_priority_ = true;
  int idle_timeout_ = 250;
  bool only_when_idle_ = true;
};

// The pump in force, or nullptr.
GuiPumpBase* CurrentGuiPump();

// True on the thread that started the program (the one that ran static initialisation): the
// only thread whose waits the pump may serve.
bool OnGuiThread();

}  // namespace tovrel::net
