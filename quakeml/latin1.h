#pragma once

// Conversions between Qt's UTF-16 text and the Latin-1 byte strings of the
// event records: one character per byte, anything above U+00FF becoming '?'
// exactly as QString::toLatin1 does. Qt 6's toStdString is UTF-8 and must not
// be used for records.

#include <QString>
#include <QStringView>

#include <string>

namespace Latin1 {

inline std::string fromText(QStringView text)
{
    std::string out(std::size_t(text.size()), '\0');
    char *dst = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = u < 0x100 ? char(u) : '?';
    }
    return out;
}

inline QString toText(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

// The digits of dates and times: "07", and a year of at least four digits.
inline void appendTwoDigits(std::string &out, int value)
{
    out += char('0' + value / 10);
    out += char('0' + value % 10);
}

inline void appendYear(std::string &out, int year)
{
    if (year >= 0 && year < 10000) {
        // Every event's time has one: no allocation on the way.
        const char digits[4] = { char('0' + year / 1000), char('0' + year / 100 % 10), char('0' + year / 10 % 10),
                                 char('0' + year % 10) };
        out.append(digits, 4);
        return;
    }
    const std::string digits = std::to_string(year < 0 ? -year : year);
    if (year < 0)
        out += '-';
    out.append(digits.size() < 4 ? 4 - digits.size() : 0, '0');
    out += digits;
}

} // namespace Latin1
