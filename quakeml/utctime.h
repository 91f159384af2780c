#pragma once

// UTC times as numbers: the one reader of the ISO 8601 texts that replies
// and catalogue files write, and the calendar arithmetic behind it (Howard
// Hinnant's days_from_civil and civil_from_days), for Harvix and the gateway.

#include <QStringView>

#include <cstdint>
#include <optional>

namespace UtcTime {

// An ISO 8601 time, "2024-01-01T01:11:54.9Z": a date, 'T' or a blank (or
// '_', as GeoNet's earlier MLnz files write it), a time with an optional
// fraction of any length, and "Z", "+hh:mm", "-hh:mm" or no zone (taken as
// UTC). Microseconds since 1970.
std::optional<std::int64_t> fromIso(QStringView text);

// "20030821121200": a UTC time written as YYYYMMDDhhmmss.
std::optional<std::int64_t> fromCompact(QStringView text);

// Microseconds since 1970 of a valid date and time (a leap second counts
// as the next minute's first).
std::optional<std::int64_t> of(int year, int month, int day, int hour, int minute, int second,
                               std::int64_t micros = 0);

// Days since 1970-01-01 of a valid Gregorian date, or nothing.
std::optional<std::int64_t> daysFromCivil(int year, int month, int day);

// The date of a day number, for writing times back out.
void civilFromDays(std::int64_t days, int &year, int &month, int &day);

} // namespace UtcTime
