#pragma once

// The search protocol in one place: SearchQuery::parse reads the query of
// /services/quake/search (magnitudeLower, magnitudeUpper, startDate,
// endDate, outputFormat) and either gives bounds that are checked, or a
// one-line reason naming the key; whereClause turns the bounds into SQL.
//
// An event matches when its UTC date lies from startDate to endDate and its
// magnitude from magnitudeLower to magnitudeUpper, all four included. A
// lower bound of 0 or less is no lower bound: negative magnitudes and
// events without a magnitude match too.

#include <QString>
#include <QVariantList>

#include <cstdint>
#include <optional>
#include <string_view>

struct SearchQuery
{
    std::int64_t startUs = 0;           // first microsecond of startDate, UTC
    std::int64_t endUs = 0;             // first microsecond after endDate
    std::optional<double> magnitudeLower;
    double magnitudeUpper = 0;

    struct Parsed;
    // The raw query string, the part after '?', still percent-encoded.
    static Parsed parse(std::string_view query);

    // "origin_time >= ? AND ..." with its values in order.
    QString whereClause() const;
    QVariantList bindings() const;
};

struct SearchQuery::Parsed
{
    std::optional<SearchQuery> query;
    QString error;                      // set when query is not
};
