#pragma once

// The records of one search. Every key and value is a byte string holding
// Latin-1 text; std::string compares by unsigned byte value, which gives the
// order in which events and their rows are listed.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Display label (quakeml/quakelabels.h) to display value ("-41.286 \xB0").
using QuakeFieldMap = std::map<std::string, std::string>;

// Event identifier ("[3366146] Tue, 14 July 2009 at 21:22:29") to its fields.
using QuakeEventStore = std::map<std::string, QuakeFieldMap>;

// Where an event is and how big, as numbers for the map; NaN where the
// event has no such value (the display texts show 0 there).
struct QuakeLocation
{
    float latitude;
    float longitude;
    float depthKm;
    float magnitude;
};

// The locations of a store's events in the store's order, each with its
// identifier and its origin time: the i-th is the store's i-th event and
// the tree's i-th item.
struct LocatedEvent
{
    const std::string *eventId;
    QuakeLocation location;
    // Seconds since 1970, UTC; NaN when the reply gave no readable time.
    double utcSeconds = std::nan("");
    // How long the reference id is, which the identifier holds from its
    // second character: "[reference] local time"; -1 for an event without
    // an origin, whose identifier is its own.
    std::int32_t referenceLength = -1;
    // Where the event's raw texts are among the search's raw events (read
    // order), or -1 when they were not kept. It fills what would be padding.
    std::int32_t rawIndex = -1;

    // The reference id and the local time, empty where the event has no
    // origin.
    std::string_view reference() const
    {
        return referenceLength < 0 ? std::string_view() : std::string_view(*eventId).substr(1, std::size_t(referenceLength));
    }
    std::string_view localTime() const
    {
        if (referenceLength < 0)
            return std::string_view();
        const std::string_view id(*eventId);
        return id.substr(std::min(id.size(), std::size_t(referenceLength) + 3));
    }
};

// The texts an event's reply held for what an export writes, unrounded,
// each as the reply wrote it (UTF-8, empty where missing), kept one after
// another in one string.
struct RawEvent
{
    // The reference id is as the origin's resource id ends, percent-encoded
    // where the service encoded it; depth is in km, and its type as QuakeML
    // words it ("from location", "operator assigned" for a depth the
    // agency fixed).
    enum Field { ReferenceId, Time, Latitude, Longitude, Depth, Magnitude, MagnitudeType, Stations, Mode, Status,
                 EventType, DepthType, FieldCount };

    const std::string *eventId = nullptr;
    std::string texts;
    std::array<std::uint32_t, FieldCount> ends {};   // where each field ends in texts

    std::string_view operator[](Field field) const
    {
        const std::uint32_t from = field == 0 ? 0 : ends[field - 1];
        return std::string_view(texts).substr(from, ends[field] - from);
    }
};
