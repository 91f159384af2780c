#pragma once

// EventQuery: a selection of the catalogue's events in all the ways that
// the FDSN event protocol asks for them, as SQL. Every bound is inclusive;
// an event without the value that a bound is on does not match it.
// Longitude boxes may cross the antimeridian: minLongitude above
// maxLongitude, or bounds anywhere from -360 to 360, are read modulo 360.
// Distances are not SQL's to compute: the caller tests a circle itself, and
// gives the catalogue the band of latitudes that holds it.

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <optional>

struct EventQuery
{
    std::optional<std::int64_t> startUs;        // UTC microseconds
    std::optional<std::int64_t> endUs;
    std::optional<double> minLatitude;
    std::optional<double> maxLatitude;
    std::optional<double> minLongitude;
    std::optional<double> maxLongitude;
    std::optional<double> minDepthKm;
    std::optional<double> maxDepthKm;
    std::optional<double> minMagnitude;
    std::optional<double> maxMagnitude;
    QString magnitudeType;                      // any case
    QStringList eventTypes;                     // any of them; '*' and '?' as wildcards
    QString eventId;
    std::optional<QStringList> sources;         // any of them; none selects nothing
    bool withPosition = false;                  // only events with a latitude and longitude
    std::optional<std::int64_t> updatedAfterUs; // stored or changed in the catalogue since

    enum class Order { TimeDescending, TimeAscending, MagnitudeDescending, MagnitudeAscending };
    Order order = Order::TimeDescending;

    // "WHERE ..." (or nothing) and " ORDER BY ...", with the values of the
    // first in order.
    QString whereClause() const;
    // The same without "WHERE": "origin_time >= ? AND ...", or nothing.
    QString terms() const;
    QVariantList bindings() const;
    QString orderClause() const;
};
