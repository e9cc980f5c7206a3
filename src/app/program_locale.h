#pragma once

// The user's locale as the message layer needs it, read once for the whole run.

#include "message/locale_info.h"

namespace tovrel::app {

// The language of the user's locale with the code set of the text the window hands over: Qt 6
// gives every QString to us as UTF-8 on Linux (toLocal8Bit is toUtf8 there), whatever the
// locale's own code set says, so headers and body must be labelled UTF-8 to match. Read on the
// first call; later calls return the same value.
const message::LocaleInfo& ProgramLocale();

}  // namespace tovrel::app
