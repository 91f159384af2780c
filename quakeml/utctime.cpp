#include "quakeml/utctime.h"

namespace UtcTime {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads exactly count digits at pos.
std::optional<int> digits(QStringView text, qsizetype pos, int count)
{
    if (pos + count > text.size())
        return std::nullopt;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[pos + i];
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

std::optional<std::int64_t> of(int year, int month, int day, int hour, int minute, int second, std::int64_t micros)
{
    const std::optional<std::int64_t> days = daysFromCivil(year, month, day);
    if (!days || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const std::int64_t seconds = *days * 86400 + hour * 3600 + minute * 60 + second;
    return seconds * 1000000 + micros;
}

std::optional<std::int64_t> fromIso(QStringView text)
{
    text = text.trimmed();
    if (text.size() < 19 || text[4] != u'-' || text[7] != u'-'
        || (text[10] != u'T' && text[10] != u' ' && text[10] != u'_') || text[13] != u':' || text[16] != u':')
        return std::nullopt;
    const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;

    qsizetype pos = 19;
    std::int64_t micros = 0;
    if (pos < text.size() && text[pos] == u'.') {
        ++pos;
        int place = 100000;
        const qsizetype first = pos;
        while (pos < text.size() && isDigit(text[pos])) {
            micros += (text[pos].unicode() - u'0') * place; // digits past a microsecond drop out
            place /= 10;
            ++pos;
        }
        if (pos == first)
            return std::nullopt;
    }

    std::int64_t offsetSeconds = 0;
    if (pos < text.size()) {
        const QStringView zone = text.mid(pos);
        if (zone == u"Z" || zone == u"z") {
            // UTC
        } else if (zone.size() == 6 && (zone[0] == u'+' || zone[0] == u'-') && zone[3] == u':') {
            const auto hours = digits(zone, 1, 2), minutes = digits(zone, 4, 2);
            if (!hours || !minutes || *hours > 23 || *minutes > 59)
                return std::nullopt;
            offsetSeconds = (*hours * 3600 + *minutes * 60) * (zone[0] == u'+' ? 1 : -1);
        } else {
            return std::nullopt;
        }
    }
    const auto local = of(*year, *month, *day, *hour, *minute, *second, micros);
    if (!local)
        return std::nullopt;
    return *local - offsetSeconds * 1000000;
}

std::optional<std::int64_t> fromCompact(QStringView text)
{
    text = text.trimmed();
    if (text.size() != 14)
        return std::nullopt;
    const auto year = digits(text, 0, 4), month = digits(text, 4, 2), day = digits(text, 6, 2);
    const auto hour = digits(text, 8, 2), minute = digits(text, 10, 2), second = digits(text, 12, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    return of(*year, *month, *day, *hour, *minute, *second, 0);
}

// Howard Hinnant's days_from_civil and civil_from_days.
std::optional<std::int64_t> daysFromCivil(int year, int month, int day)
{
    static const int monthDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12 || day < 1)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0))
        return std::nullopt;
    const std::int64_t y = std::int64_t(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(std::int64_t days, int &year, int &month, int &day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

} // namespace UtcTime
