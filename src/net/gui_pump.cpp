#include "net/gui_pump.h"

#include <thread>

namespace tovrel::net {

namespace {
GuiPumpBase* current_pump = nullptr;
// Static initialisation runs on the thread that starts the program.
const std::thread::id kMainThread = std::this_thread::get_id();
}  // namespace

bool OnGuiThread() { return std::this_thread::get_id() == kMainThread; }

GuiPumpBase* CurrentGuiPump() { return current_pump; }

GuiPumpBase::GuiPumpBase(BaseComponent* owner) : BaseComponent(owner) { current_pump = this; }

GuiPumpBase::~GuiPumpBase() {
  if (current_pump == this) current_pump = nullptr;
}

void GuiPumpBase::IdleHook(IdleOccasion occasion) {
  GuiPumpBase* pump = current_pump;
  if (pump == nullptr || !OnGuiThread()) return;
  if ((occasion != IdleOccasion::ioBusy || !pump->only_when_idle_) && pump->active_) {
    pump->ServiceApplication();
  }
}

}  // namespace tovrel::net
