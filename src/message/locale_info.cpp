#include "message/locale_info.h"

#include <langinfo.h>

#include <atomic>
#include <clocale>

namespace tovrel::message {
namespace {

// Upper case without "-" and "_", so "Shift_JIS", "SHIFT-JIS" and "shiftjis" compare equal.
std::string NormalizedCodeset(std::string_view codeset) {
  std::string result;
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    result.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return result;
}

enum class LeadBytes { kNone, kShiftJis, kHighHalf, kEucJp };

LeadBytes LeadBytesOf(std::string_view codeset) {
  const std::string n = NormalizedCodeset(codeset);
  if (n == "SHIFTJIS" || n == "SJIS" || n == "CP932" || n == "WINDOWS31J" || n == "MSKANJI") {
    return LeadBytes::kShiftJis;
  }
  if (n == "GBK" || n == "GB18030" || n == "GB2312" || n == "EUCCN" || n == "CP936" ||
      n == "BIG5" || n == "BIG5HKSCS" || n == "CP950" || n == "EUCKR" || n == "CP949" ||
      n == "UHC") {
    return LeadBytes::kHighHalf;
  }
  if (n == "EUCJP") return LeadBytes::kEucJp;
  return LeadBytes::kNone;
}

// Written once at start-up and read afterwards; atomic so that a late call stays well defined.
std::atomic<LeadBytes> g_lead_bytes{LeadBytes::kNone};

}  // namespace

bool LocaleInfo::IsUtf8() const {
  const std::string n = NormalizedCodeset(codeset);
  return n == "UTF8";
}

bool LocaleInfo::IsShiftJis() const { return LeadBytesOf(codeset) == LeadBytes::kShiftJis; }

std::string LocaleInfo::PrimaryLanguage() const {
  std::string result;
  for (char c : language) {
    if (c == '_' || c == '.' || c == '@') break;
    result.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (result == "c" || result == "posix") result.clear();
  return result;
}

std::string LocaleInfo::Territory() const {
  const std::size_t underscore = language.find('_');
  if (underscore == std::string::npos) return {};
  std::string result;
  for (std::size_t i = underscore + 1; i < language.size(); ++i) {
    const char c = language[i];
    if (c == '.' || c == '@') break;
    result.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return result;
}

LocaleInfo LocaleInfoFromName(std::string_view locale_name) {
  LocaleInfo info;
  const std::size_t modifier = locale_name.find('@');
  if (modifier != std::string_view::npos) locale_name = locale_name.substr(0, modifier);
  const std::size_t dot = locale_name.find('.');
  info.language = std::string(locale_name.substr(0, dot));
  if (dot != std::string_view::npos) info.codeset = std::string(locale_name.substr(dot + 1));
  return info;
}

LocaleInfo ReadLocaleInfo() {
  const char* name = std::setlocale(LC_CTYPE, "");
  if (name == nullptr) name = std::setlocale(LC_CTYPE, nullptr);
  LocaleInfo info = LocaleInfoFromName(name != nullptr ? name : "C");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && *codeset != '\0') info.codeset = codeset;
  return info;
}

void ApplyCodeSet(const LocaleInfo& locale) { g_lead_bytes = LeadBytesOf(locale.codeset); }

bool HasLeadBytes() { return g_lead_bytes.load() != LeadBytes::kNone; }

bool IsLeadByte(unsigned char c) {
  switch (g_lead_bytes.load()) {
    case LeadBytes::kNone:
      return false;
    case LeadBytes::kShiftJis:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case LeadBytes::kHighHalf:
      return c >= 0x81 && c <= 0xFE;
    case LeadBytes::kEucJp:
      return c == 0x8E || (c >= 0xA1 && c <= 0xFE);
  }
  return false;
}

}  // namespace tovrel::message
