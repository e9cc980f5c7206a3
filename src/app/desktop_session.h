#pragma once

// What the program finds of the desktop session before it decides how to run: whether a display
// named in the environment answers, and whether there is a session bus to find a keyring on.

namespace tovrel::app {

// True when DISPLAY or WAYLAND_DISPLAY names a display that takes a connection, or the toolkit
// is set to a platform that needs none. A display that does not answer would end the window
// toolkit at its start. When only one of the two answers and
// QT_QPA_PLATFORM is unset, the toolkit is pointed at that one.
bool DisplayAnswers();

// Without DBUS_SESSION_BUS_ADDRESS, the bus libraries fall back to starting a bus of their own
// for the display, which then outlives the program. The address is set to the user's bus at its
// usual place ($XDG_RUNTIME_DIR/bus): when nothing answers there, nothing is started and the
// program simply has no keyring.
void SettleSessionBus();

// Whether a bus may answer at DBUS_SESSION_BUS_ADDRESS: set, and when it names a socket file,
// that file exists. SettleSessionBus always sets an address, so the address alone says nothing.
bool SessionBusMayAnswer();

}  // namespace tovrel::app
