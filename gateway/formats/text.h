#pragma once

// Text that the gateway writes, shared by its QuakeML and its HTML pages:
// escaped characters, numbers and times, into a byte string.

#include <QString>

#include <cstdint>
#include <string>

namespace Text {

// For XML and HTML alike: markup characters as entities, and everything
// outside printable ASCII as a character reference, so the output is ASCII.
void appendEscaped(std::string &out, const QString &text);
// The shortest text that reads back as the same double.
void appendNumber(std::string &out, double value);
// "2024-01-01T01:11:54", UTC, the fraction of a second dropped.
void appendTime(std::string &out, std::int64_t microseconds);

} // namespace Text
