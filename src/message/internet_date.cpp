#include "message/internet_date.h"

#include <cmath>
#include <cstdio>

#include "message/message_error.h"

namespace tovrel::message {
namespace {

constexpr long long kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

const long long kEpochDays = DaysFromCivil(1899, 12, 30);

double OffsetFromBiasMinutes(long total_bias) {
  const long m = total_bias < 0 ? -total_bias : total_bias;
  const double fraction = static_cast<double>(m) / 1440.0;
  return total_bias > 0 ? -fraction : fraction;
}

double OffsetOfMoment(std::time_t moment) {
  tzset();
  struct tm local {};
  if (localtime_r(&moment, &local) == nullptr) throw FailedToRetrieveTimeZoneInfo();
  // Bias as the system reports it: UTC = local time + bias.
  return OffsetFromBiasMinutes(-local.tm_gmtoff / 60);
}

}  // namespace

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  const long long days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays;
  const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the fraction still counts forward from midnight.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeParts DecodeDateTime(DateTime value) {
  DateTimeParts parts;
  long long days = static_cast<long long>(std::trunc(value));
  long long ms = std::llround(std::fabs(value - std::trunc(value)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  const long long unix_days = days + kEpochDays;
  CivilFromDays(unix_days, parts.year, parts.month, parts.day);
  parts.day_of_week = static_cast<int>(((unix_days % 7) + 7 + 4) % 7);  // 1970-01-01 was Thursday
  parts.hour = static_cast<int>(ms / 3600000);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.millisecond = static_cast<int>(ms % 1000);
  return parts;
}

DateTime LocalDateTime(std::time_t moment) {
  tzset();
  struct tm local {};
  if (localtime_r(&moment, &local) == nullptr) throw FailedToRetrieveTimeZoneInfo();
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

DateTime Now() { return LocalDateTime(std::time(nullptr)); }

double CurrentUtcOffset() { return OffsetOfMoment(std::time(nullptr)); }

double UtcOffsetAt(DateTime local_value) {
  const DateTimeParts p = DecodeDateTime(local_value);
  struct tm local {};
  local.tm_year = p.year - 1900;
  local.tm_mon = p.month - 1;
  local.tm_mday = p.day;
  local.tm_hour = p.hour;
  local.tm_min = p.minute;
  local.tm_sec = p.second;
  local.tm_isdst = -1;  // let the zone rules decide
  tzset();
  const std::time_t moment = mktime(&local);
  if (moment == static_cast<std::time_t>(-1)) return CurrentUtcOffset();  // out of range
  return OffsetOfMoment(moment);
}

std::string UtcOffsetText(double offset) {
  const long minutes = std::lround(std::fabs(offset) * 1440.0);
  char text[16];
  std::snprintf(text, sizeof text, "%c%02ld%02ld", offset >= 0 ? '+' : '-', minutes / 60 % 100,
                minutes % 60);
  return text;
}

std::string FormatInternetDate(DateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  const std::string offset = UtcOffsetText(UtcOffsetAt(value));
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d ", kShortDayNames[p.day_of_week],
                p.day, kShortMonthNames[p.month - 1], p.year, p.hour, p.minute, p.second);
  return text + offset;
}

std::string FormatInternetDateOfMoment(std::time_t moment) {
  tzset();
  struct tm local {};
  if (localtime_r(&moment, &local) == nullptr) throw FailedToRetrieveTimeZoneInfo();
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d ", kShortDayNames[local.tm_wday],
                local.tm_mday, kShortMonthNames[local.tm_mon], local.tm_year + 1900, local.tm_hour,
                local.tm_min, local.tm_sec);
  return text + UtcOffsetText(OffsetFromBiasMinutes(-local.tm_gmtoff / 60));
}

}  // namespace tovrel::message
