#include "quakeml/text.h"

#include "quakeml/latin1.h"
#include "quakeml/utctime.h"

#include <charconv>
#include <cstdio>

namespace Text {

void appendEscaped(std::string &out, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case u'<': out += "&lt;"; break;
        case u'>': out += "&gt;"; break;
        case u'&': out += "&amp;"; break;
        case u'"': out += "&quot;"; break;
        case u'\'': out += "&#39;"; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += char(c);
            } else {
                char32_t code = c;
                if (QChar::isHighSurrogate(c) && i + 1 < text.size()
                    && text[i + 1].isLowSurrogate()) {
                    code = QChar::surrogateToUcs4(c, text[i + 1].unicode());
                    ++i;
                }
                // Control characters and lone surrogates cannot stand in XML.
                if (code < 0x20 || (code >= 0xD800 && code < 0xE000))
                    code = 0xFFFD;
                char buffer[16];
                const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::uint32_t(code));
                out += "&#";
                out.append(buffer, result.ptr);
                out += ';';
            }
        }
    }
}

void appendEscaped(std::string &out, std::string_view utf8)
{
    for (const char c : utf8) {
        if (c < 0x20 || c >= 0x7F)   // as signed, bytes beyond ASCII are negative
            return appendEscaped(out, QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    }
    for (const char c : utf8) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
}

void appendNumber(std::string &out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendTime(std::string &out, std::int64_t microseconds)
{
    std::int64_t seconds = microseconds / 1000000;
    if (microseconds % 1000000 < 0)
        --seconds;
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int year = 0, month = 0, day = 0;
    UtcTime::civilFromDays(days, year, month, day);
    Latin1::appendYear(out, year);
    out += '-';
    Latin1::appendTwoDigits(out, month);
    out += '-';
    Latin1::appendTwoDigits(out, day);
    out += 'T';
    Latin1::appendTwoDigits(out, int(secondOfDay / 3600));
    out += ':';
    Latin1::appendTwoDigits(out, int(secondOfDay / 60 % 60));
    out += ':';
    Latin1::appendTwoDigits(out, int(secondOfDay % 60));
}

void appendExactTime(std::string &out, std::int64_t microseconds)
{
    appendTime(out, microseconds);
    const std::int64_t fraction = ((microseconds % 1000000) + 1000000) % 1000000;
    char digits[8];
    std::snprintf(digits, sizeof digits, ".%06d", int(fraction));
    out += digits;
    out += 'Z';
}

namespace {

// QString or UTF-8.
template <typename Text>
void appendElement(std::string &out, const char *name, const Text &text)
{
    if (text.size() == 0)
        return;
    out += '<';
    out += name;
    out += '>';
    appendEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

} // namespace

void appendTextElement(std::string &out, const char *name, const QString &text)
{
    appendElement(out, name, text);
}

void appendTextElement(std::string &out, const char *name, std::string_view utf8)
{
    appendElement(out, name, utf8);
}

} // namespace Text
