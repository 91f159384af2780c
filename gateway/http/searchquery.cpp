#include "http/searchquery.h"

#include "formats/fieldparsing.h"
#include "http/querystring.h"
#include "quakeml/utctime.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <array>
#include <map>

namespace {

using QueryString::quoted;

constexpr std::array<std::string_view, 5> keys = { "magnitudeLower", "magnitudeUpper", "startDate",
                                                   "endDate", "outputFormat" };

// The key as the protocol names it (with storage of its own), or nothing.
std::optional<std::string_view> knownKey(std::string_view key)
{
    const auto plain = std::find(keys.begin(), keys.end(), key);
    if (plain != keys.end())
        return *plain;
    const auto region = std::find(std::begin(SearchRegion::Keys), std::end(SearchRegion::Keys), key);
    if (region != std::end(SearchRegion::Keys))
        return std::string_view(*region);
    return std::nullopt;
}

// A decimal number as Harvix writes it: digits with an optional sign and fraction.
std::optional<double> magnitudeOf(const std::string &text)
{
    const QString value = QString::fromLatin1(text.data(), qsizetype(text.size()));
    for (const QChar c : value) {
        if (c == u'e' || c == u'E' || c.isSpace())
            return std::nullopt;
    }
    return FieldParsing::number(value);
}

std::optional<std::int64_t> dayOf(const std::string &text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    int parts[3] = { 0, 0, 0 };
    const int starts[3] = { 0, 5, 8 };
    const int lengths[3] = { 4, 2, 2 };
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < lengths[p]; ++i) {
            const char c = text[std::size_t(starts[p] + i)];
            if (c < '0' || c > '9')
                return std::nullopt;
            parts[p] = parts[p] * 10 + (c - '0');
        }
    }
    return UtcTime::daysFromCivil(parts[0], parts[1], parts[2]);
}

Parsed<SearchQuery> failure(const QString &reason)
{
    Parsed<SearchQuery> parsed;
    parsed.error = reason;
    return parsed;
}

} // namespace

Parsed<SearchQuery> SearchQuery::parse(std::string_view query)
{
    std::map<std::string_view, std::string> values;
    for (const auto &[key, value] : QueryString::pairs(query)) {
        const std::optional<std::string_view> known = knownKey(key);
        if (!known)
            return failure(QStringLiteral("unknown key %1: a search takes magnitudeLower, magnitudeUpper, "
                                          "startDate, endDate and outputFormat, and bbox, minDepth, maxDepth, "
                                          "latitude, longitude and maxRadiusKm").arg(quoted(key)));
        if (!values.emplace(*known, value).second)
            return failure(QStringLiteral("%1 is given more than once").arg(QLatin1String(known->data())));
    }
    for (const std::string_view key : keys) {
        if (values.find(key) == values.end())
            return failure(QStringLiteral("%1 is missing").arg(QLatin1String(key.data())));
    }

    SearchQuery result;
    const std::optional<double> lower = magnitudeOf(values["magnitudeLower"]);
    if (!lower)
        return failure(QStringLiteral("magnitudeLower must be a decimal number, not %1")
                           .arg(quoted(values["magnitudeLower"])));
    const std::optional<double> upper = magnitudeOf(values["magnitudeUpper"]);
    if (!upper)
        return failure(QStringLiteral("magnitudeUpper must be a decimal number, not %1")
                           .arg(quoted(values["magnitudeUpper"])));
    if (*lower > *upper)
        return failure(QStringLiteral("magnitudeLower %1 is above magnitudeUpper %2")
                           .arg(*lower).arg(*upper));
    if (*lower > 0)
        result.magnitudeLower = lower;
    result.magnitudeUpper = *upper;

    const std::optional<std::int64_t> startDay = dayOf(values["startDate"]);
    if (!startDay)
        return failure(QStringLiteral("startDate must be a date written YYYY-MM-DD, not %1")
                           .arg(quoted(values["startDate"])));
    const std::optional<std::int64_t> endDay = dayOf(values["endDate"]);
    if (!endDay)
        return failure(QStringLiteral("endDate must be a date written YYYY-MM-DD, not %1")
                           .arg(quoted(values["endDate"])));
    if (*startDay > *endDay)
        return failure(QStringLiteral("startDate %1 is after endDate %2")
                           .arg(quoted(values["startDate"]), quoted(values["endDate"])));
    result.startUs = *startDay * 86400 * 1000000;
    result.endUs = (*endDay + 1) * 86400 * 1000000;

    if (values["outputFormat"] != "quakeml1.0")
        return failure(QStringLiteral("outputFormat must be quakeml1.0, not %1")
                           .arg(quoted(values["outputFormat"])));

    const Parsed<SearchRegion> region = SearchRegion::parse([&values](const char *key) -> std::optional<QString> {
        const auto found = values.find(key);
        if (found == values.end())
            return std::nullopt;
        return QString::fromUtf8(found->second.data(), qsizetype(found->second.size()));
    });
    if (!region.value)
        return failure(region.error);
    result.region = *region.value;

    Parsed<SearchQuery> parsed;
    parsed.value = result;
    return parsed;
}
