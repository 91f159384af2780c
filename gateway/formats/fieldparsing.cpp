#include "formats/fieldparsing.h"

#include <charconv>
#include <cmath>
#include <string>

namespace FieldParsing {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The ASCII text of a short field, or an empty string when it holds
// anything else; numbers are never longer than this.
std::string asciiOf(QStringView text)
{
    std::string out;
    if (text.size() > 64)
        return out;
    out.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return std::string();
        out += char(c.unicode());
    }
    return out;
}



} // namespace

std::optional<double> number(QStringView text)
{
    text = text.trimmed();
    // Sign, digits, fraction, exponent; nothing else (no "inf", "nan", hex).
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype mantissaDigits = 0;
    while (i < n && isDigit(text[i]))
        ++i, ++mantissaDigits;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < n && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;

    std::string ascii = asciiOf(text);
    if (ascii.empty())
        return std::nullopt;
    const char *begin = ascii.data();
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto [end, error] = std::from_chars(begin, ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> integer(QStringView text)
{
    const std::string ascii = asciiOf(text.trimmed());
    if (ascii.empty())
        return std::nullopt;
    const char *begin = ascii.data();
    if (*begin == '+')
        ++begin;
    int value = 0;
    const auto [end, error] = std::from_chars(begin, ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size())
        return std::nullopt;
    return value;
}


bool setCoordinates(EventRow &row, QStringView latitude, QStringView longitude)
{
    row.latitude = number(latitude);
    row.longitude = number(longitude);
    return !(row.latitude && std::fabs(*row.latitude) > 90)
        && !(row.longitude && std::fabs(*row.longitude) > 360);
}

} // namespace FieldParsing
