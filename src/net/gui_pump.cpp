#include "net/gui_pump.h"

#include "message/string_helpers.h"

namespace tovrel::net {

namespace {
GuiPumpBase* current_pump = nullptr;
}

GuiPumpBase* CurrentGuiPump() { return current_pump; }

GuiPumpBase::GuiPumpBase(BaseComponent* owner) : BaseComponent(owner) { current_pump = this; }

GuiPumpBase::~GuiPumpBase() {
  if (current_pump == this) current_pump = nullptr;
}

void GuiPumpBase::IdleHook(IdleOccasion occasion) {
  GuiPumpBase* pump = current_pump;
  if (pump == nullptr || !message::OnGuiThread()) return;
  if ((occasion != IdleOccasion::ioBusy || !pump->only_when_idle_) && pump->active_) {
    pump->ServiceApplication();
  }
}

}  // namespace tovrel::net
