#pragma once

// The search protocol in one place: SearchQuery::parse reads the query of
// /services/quake/search (magnitudeLower, magnitudeUpper, startDate,
// endDate, outputFormat) and either gives bounds that are checked, or a
// one-line reason naming the key; the bounds are the catalogue's filter.
//
// An event matches when its UTC date lies from startDate to endDate and its
// magnitude from magnitudeLower to magnitudeUpper, all four included. A
// lower bound of 0 or less is no lower bound: negative magnitudes and
// events without a magnitude match too. After those five keys, a search may
// name a region (SearchRegion's keys), and only events inside it match.

#include "catalogue/windows.h"
#include "geo/parsed.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// startUs is the first microsecond of startDate, endUs the first after
// endDate, both UTC.
struct SearchQuery : EventFilter
{
    // The raw query string, the part after '?', still percent-encoded.
    static Parsed<SearchQuery> parse(std::string_view query);
};
