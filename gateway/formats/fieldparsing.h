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

// Sets the row's latitude and longitude from their texts: a text that is no
// number leaves the value unknown; a number out of range (latitude beyond
// ±90, longitude beyond ±360 degrees) makes the row impossible, and the
// result is false.
bool setCoordinates(EventRow &row, QStringView latitude, QStringView longitude);

} // namespace FieldParsing
