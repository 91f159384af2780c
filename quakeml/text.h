#pragma once

// Text that Harvix's exports and the gateway's QuakeML and HTML pages
// write: escaped characters, numbers and times, into a byte string.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Text {

// For XML and HTML alike: markup characters as entities, and everything
// outside printable ASCII as a character reference, so the output is ASCII.
void appendEscaped(std::string &out, const QString &text);
// The same for UTF-8 text; plain ASCII, which ids, times and numbers are,
// goes without a conversion.
void appendEscaped(std::string &out, std::string_view utf8);
// The shortest text that reads back as the same double.
void appendNumber(std::string &out, double value);
// "2024-01-01T01:11:54", UTC, the fraction of a second dropped.
void appendTime(std::string &out, std::int64_t microseconds);
// "2024-01-01T01:11:54.900000Z": UTC to the microsecond.
void appendExactTime(std::string &out, std::int64_t microseconds);

// XML elements: <name>text</name> and <name><value>number</value></name>,
// nothing when the text is empty or the number unknown.
void appendTextElement(std::string &out, const char *name, const QString &text);
void appendTextElement(std::string &out, const char *name, std::string_view utf8);
template <typename T>
void appendValueElement(std::string &out, const char *name, const std::optional<T> &value)
{
    if (!value)
        return;
    out += '<';
    out += name;
    out += "><value>";
    appendNumber(out, double(*value));
    out += "</value></";
    out += name;
    out += '>';
}

} // namespace Text
