#pragma once

// What the one who starts a send learns of it while it runs, and its say in whether it goes on:
// the size of the message text, how much of it has left this machine, and a turn in every wait
// and after every write, whose answer may stop the send. The window shows the progress and
// serves its events in the turns; a send nobody watches has no observer.

#include <cstdint>

#include "net/gui_pump.h"

namespace tovrel::net {

class NetComponent;

enum class SendTurn { kGoOn, kStop };

class SendObserver {
 public:
  virtual ~SendObserver() = default;

  // The size of the message text, known once it begins to go out.
  virtual void Total(int64_t total) = 0;
  // The bytes of it that have left this machine's send queue so far; they may exceed the total
  // (the size is counted before dots are stuffed).
  virtual void Progress(int64_t done) = 0;
  // A turn. kStop ends the send: the transport raises SendCancelled from where it stands.
  virtual SendTurn Yield() = 0;
  // The longest a wait goes on without a turn, in milliseconds.
  virtual int turn_interval() const = 0;
};

// For its life, the sends of `component` report to `observer`, and the waits of the thread that
// made it (when that is the program's main thread) give `observer` its turns. The first kStop
// raises SendCancelled; later ones are not heeded, so that the clean-up after a cancel is not cut
// short again.
class ObservedSend {
 public:
  ObservedSend(NetComponent& component, SendObserver& observer);
  ~ObservedSend();
  ObservedSend(const ObservedSend&) = delete;
  ObservedSend& operator=(const ObservedSend&) = delete;

  // A turn in a wait of the caller's own, outside the transport (the keyring's, say), heeded
  // as the transport's are.
  void TakeTurn() { turns_.ServiceApplication(); }

 private:
  class Turns : public GuiPumpBase {
   public:
    explicit Turns(SendObserver& observer);
    void ServiceApplication() override;

   private:
    SendObserver& observer_;
    bool stopped_ = false;
  };

  NetComponent& component_;
  Turns turns_;
};

}  // namespace tovrel::net
