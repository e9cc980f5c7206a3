#include "app/program_locale.h"

namespace tovrel {

const LocaleInfo& ProgramLocale() {
  static const LocaleInfo locale = [] {
    LocaleInfo read = ReadLocaleInfo();
    read.codeset = "UTF-8";
    ApplyCodeSet(read);
    return read;
  }();
  return locale;
}

}  // namespace tovrel
