#pragma once

// The boxes of time, magnitude and place that the catalogue answers and records:
// EventFilter, what a search asks for, and UpstreamWindow, what a copy from
// an upstream covers. Both search protocols and the upstream clients build
// them; the catalogue needs nothing of either.

#include "geo/searchregion.h"

#include <QString>
#include <QVariantList>

#include <cstdint>
#include <optional>

// An event matches when its origin time lies in [startUs, endUs) and its
// magnitude from magnitudeLower to magnitudeUpper, both included; without a
// lower bound, events without a magnitude match too.
struct EventFilter
{
    std::int64_t startUs = 0;           // UTC, microseconds since 1970, included
    std::int64_t endUs = 0;             // excluded
    std::optional<double> magnitudeLower;
    double magnitudeUpper = 0;
    // Where, too; the terms below narrow a search to the region's
    // envelopes, and each event found is tested with region.contains.
    SearchRegion region;

    // "origin_time >= ? AND ..." with its values in order; the time range
    // comes first, so that the index on (origin_time, magnitude) serves both
    // the range and the order.
    QString whereClause() const;
    QVariantList bindings() const;
};

// A window copied from an upstream, as asked for and as recorded.
struct UpstreamWindow
{
    std::int64_t startUs = 0;   // UTC, included
    std::int64_t endUs = 0;     // UTC, excluded
    std::optional<double> minMagnitude;
    std::optional<double> maxMagnitude;
    std::optional<std::int64_t> updatedAfterUs;
    // Where; a window of the whole world covers every region, one of a
    // region only searches of the same region.
    SearchRegion region;

    // The window of a search: its time range, magnitudes and region.
    static UpstreamWindow of(const EventFilter &filter)
    {
        return { filter.startUs, filter.endUs, filter.magnitudeLower, filter.magnitudeUpper, std::nullopt, filter.region };
    }
};

// The terms that narrow a selection of events to a region's envelopes and
// depths ("latitude >= ? AND ..."), with their values, a hair wider than
// the region: region.contains decides each event found.
struct RegionTerms
{
    QString sql;            // empty for the whole world
    QVariantList values;

    static RegionTerms of(const SearchRegion &region);
};
