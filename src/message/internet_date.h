#pragma once

// Date-time values of the message model and their RFC 822 text ("Sun, 6 Dec 2026 12:21:49 +0100").
// A DateTime is a count of days since midnight of 30 December 1899 in local time; the fraction is
// the time of day and 0 means "no date".

#include <ctime>
#include <string>

namespace tovrel::message {

using DateTime = double;

// Fixed English names, whatever the user's locale. Index 0 is Sunday / January.
inline constexpr const char* kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr const char* kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct DateTimeParts {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int day_of_week = 0;  // 0 = Sunday
};

DateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        int millisecond = 0);
// Times are rounded to the millisecond.
DateTimeParts DecodeDateTime(DateTime value);
// The local date-time of a moment, and of the present moment.
DateTime LocalDateTime(std::time_t moment);
DateTime Now();

// The RFC 822 date of a local date-time. The offset is the one in force at that local time (so a
// winter date written in summer still carries the winter offset). Throws
// FailedToRetrieveTimeZoneInfo when the time zone cannot be read.
std::string FormatInternetDate(DateTime value);
// The same for a moment: clock fields and offset come from one broken-down local time, so the
// offset is right even in the hour that the end of summer time repeats.
std::string FormatInternetDateOfMoment(std::time_t moment);

// Offset of local time from UTC now, as a fraction of a day, positive east of UTC.
double CurrentUtcOffset();
// Offset in force at the given local date-time.
double UtcOffsetAt(DateTime local_value);
// "+hhmm" / "-hhmm"; zero gives "+0000".
std::string UtcOffsetText(double offset);

}  // namespace tovrel::message
