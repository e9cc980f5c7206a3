#include "app/program_locale.h"

namespace tovrel::app {

const message::LocaleInfo& ProgramLocale() {
  static const message::LocaleInfo locale = [] {
    message::LocaleInfo read = message::ReadLocaleInfo();
    read.codeset = "UTF-8";
    message::ApplyCodeSet(read);
    return read;
  }();
  return locale;
}

}  // namespace tovrel::app
