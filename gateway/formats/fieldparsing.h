#pragma once

// Strict readers for the values of catalogue files, shared by every format.
// Each gives nothing for a text that is not wholly a value of its kind, so
// that "N/A", an empty field or a stray character become "unknown".

#include "catalogue/eventrow.h"

#include <QStringView>

#include <cstdint>
#include <optional>

namespace FieldParsing {

// A finite decimal number: an optional sign, digits with an optional
// fraction, and an optional exponent. Blanks around it are allowed.
std::optional<double> number(QStringView text);

// A whole number without a fraction.
std::optional<int> integer(QStringView text);

// An ISO 8601 time, "2024-01-01T01:11:54.9Z": a date, 'T' or a blank (or
// '_', as GeoNet's earlier MLnz files write it), a
// time with an optional fraction of any length, and "Z", "+hh:mm", "-hh:mm"
// or no zone (taken as UTC). Microseconds since 1970.
std::optional<std::int64_t> isoTime(QStringView text);

// "20030821121200": a UTC time written as YYYYMMDDhhmmss.
std::optional<std::int64_t> compactTime(QStringView text);

// Days since 1970-01-01 of a valid Gregorian date, or nothing.
std::optional<std::int64_t> daysFromCivil(int year, int month, int day);

// The date of a day number, for writing times back out.
void civilFromDays(std::int64_t days, int &year, int &month, int &day);

// Sets the row's latitude and longitude from their texts: a text that is no
// number leaves the value unknown; a number out of range (latitude beyond
// ±90, longitude beyond ±360 degrees) makes the row impossible, and the
// result is false.
bool setCoordinates(EventRow &row, QStringView latitude, QStringView longitude);

} // namespace FieldParsing
