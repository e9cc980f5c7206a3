// RFC 822 dates with the local offset, compared with date(1) under several time zones (POSIX TZ
// rules, so no zone database is needed), including half-hour, 45-minute and daylight-saving zones.

#include "message/internet_date.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <optional>
#include <string>

#include "message/message_error.h"
#include "support/test_support.h"

namespace tovrel::message {
namespace {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

std::string DateCommand(const std::string& zone, std::time_t moment) {
  const test::ProcessResult r =
      test::RunProcess({"date", "-d", "@" + std::to_string(moment), "+%a, %-d %b %Y %H:%M:%S %z"},
                       {}, {"TZ=" + zone, "LC_ALL=C"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(UtcOffsetTextTest, SignHoursMinutes) {
  EXPECT_EQ(UtcOffsetText(5.5 / 24), "+0530");
  EXPECT_EQ(UtcOffsetText(-3.0 / 24), "-0300");
  EXPECT_EQ(UtcOffsetText(0), "+0000");
  EXPECT_EQ(UtcOffsetText(-(3 * 60 + 30) / 1440.0), "-0330");
  EXPECT_EQ(UtcOffsetText((5 * 60 + 45) / 1440.0), "+0545");
  EXPECT_EQ(UtcOffsetText(14.0 / 24), "+1400");
}

TEST(DateTimeTest, EncodeDecodeRoundTrip) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  const DateTimeParts p = DecodeDateTime(EncodeDateTime(2026, 12, 6, 12, 21, 49));
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 6);
  EXPECT_EQ(p.hour, 12);
  EXPECT_EQ(p.minute, 21);
  EXPECT_EQ(p.second, 49);
  EXPECT_EQ(p.day_of_week, 0);  // a Sunday
  // 23:59:59.9996 rounds to the next midnight.
  const DateTimeParts q = DecodeDateTime(EncodeDateTime(2024, 2, 28) + (86400 - 0.0004) / 86400);
  EXPECT_EQ(q.month, 2);
  EXPECT_EQ(q.day, 29);
  EXPECT_EQ(q.hour, 0);
}

TEST(FormatInternetDateTest, ExampleAndPadding) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(FormatInternetDate(EncodeDateTime(2026, 12, 6, 12, 21, 49)),
            "Sun, 6 Dec 2026 12:21:49 +0100");
  EXPECT_EQ(FormatInternetDate(EncodeDateTime(2027, 3, 1, 7, 5, 9)),
            "Mon, 1 Mar 2027 07:05:09 +0100");
  // The offset belongs to the date, not to the moment of writing.
  EXPECT_EQ(FormatInternetDate(EncodeDateTime(2026, 7, 14, 0, 0, 0)),
            "Tue, 14 Jul 2026 00:00:00 +0200");
}

TEST(FormatInternetDateTest, MatchesDateCommandInManyZones) {
  const char* zones[] = {
      "UTC0",
      "IST-5:30",                        // +0530
      "NPT-5:45",                        // +0545
      "NST3:30NDT,M3.2.0,M11.1.0",       // -0330 / -0230
      "ACST-9:30ACDT,M10.1.0,M4.1.0/3",  // +0930 / +1030, southern summer
      "EST5EDT,M3.2.0,M11.1.0",
      "CET-1CEST,M3.5.0,M10.5.0/3",
      "<+14>-14",
  };
  // Winter, summer, single-digit day and hour, and moments right around DST changes in 2026.
  const std::time_t moments[] = {1768478400,      1784116800,     1775260800 + 3 * 3600 + 7,
                                 1772953200 + 60, 1774746000 - 1, 1774746000 + 1,
                                 1775368800 + 30, 1792972800 + 5};
  for (const char* z : zones) {
    ScopedTimeZone zone(z);
    for (std::time_t moment : moments) {
      EXPECT_EQ(FormatInternetDate(LocalDateTime(moment)), DateCommand(z, moment))
          << "zone " << z << " moment " << moment;
    }
  }
}

// The moment of sending names its own offset: in the hour that summer time's end repeats, each
// pass keeps the offset in force then, and the hour after the spring skip has the new one.
TEST(FormatInternetDateTest, AMomentInARepeatedOrSkippedHourCarriesItsOwnOffset) {
  const struct {
    const char* zone;
    std::time_t moments[3];
  } cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", {1792888200, 1792891800, 1774746030}},
      {"EST5EDT,M3.2.0,M11.1.0", {1793511000, 1793514600, 1772953230}},
  };
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    for (std::time_t moment : c.moments) {
      EXPECT_EQ(FormatInternetDateOfMoment(moment), DateCommand(c.zone, moment))
          << "zone " << c.zone << " moment " << moment;
    }
  }
}

TEST(FormatInternetDateTest, NowUsesCurrentOffset) {
  ScopedTimeZone zone("IST-5:30");
  EXPECT_DOUBLE_EQ(CurrentUtcOffset(), 5.5 / 24);
  const std::time_t now = std::time(nullptr);
  const std::string text = FormatInternetDate(Now());
  // The seconds may tick between the two readings; the offset and date layout may not.
  EXPECT_EQ(text.substr(text.size() - 5), "+0530");
  EXPECT_EQ(text.substr(0, 5), DateCommand("IST-5:30", now).substr(0, 5));
}

}  // namespace
}  // namespace tovrel::message
