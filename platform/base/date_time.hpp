#pragma once
// Points in time as the platform holds them: days since 30 December 1899, the fraction being the
// time of day. Before that day the whole part is negative while the time of day still counts
// forwards (-1.25 is 29 December 1899, 06:00), as the platform's own dates do.
#include <cstdint>
#include <string_view>

namespace platform {

using TDateTime = double;
using TTime = double;

inline constexpr int64_t KMSecsPerDay = 86400000;
// Days from 1899-12-30 to 1970-01-01.
inline constexpr int64_t KUnixDateDelta = 25569;

// False for a date that does not exist (month 13, 30 February, year 0 or above 9999).
bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& AValue) noexcept;
// False for hours above 23, minutes or seconds above 59, milliseconds above 999.
bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TTime& AValue) noexcept;

// Whole days since 1899-12-30 and milliseconds into that day, joined into one value.
TDateTime ComposeDateTime(int64_t ADays, int64_t AMsOfDay) noexcept;
// The reverse: days since 1899-12-30 and milliseconds into that day (rounded to the nearest).
void SplitDateTime(TDateTime AValue, int64_t& ADays, int64_t& AMsOfDay) noexcept;

// Milliseconds since 1970-01-01 00:00 and back.
int64_t DateTimeToUnixMs(TDateTime AValue) noexcept;
TDateTime UnixMsToDateTime(int64_t AMs) noexcept;

// Reads an ISO 8601 date, optionally followed by "T" and a time with an optional fraction and
// zone offset: "2024-01-15", "20240115", "2024-01-15T10:30", "2024-01-15T10:30:00.250+02:00",
// "2024-01-15T103000Z". With AReturnUTC the zone offset is removed (a value without one is UTC
// already); without it the result is the same instant in the machine's local time zone.
// Reports failure instead of raising.
bool TryISO8601ToDate(std::string_view AText, TDateTime& AValue, bool AReturnUTC) noexcept;

} // namespace platform
