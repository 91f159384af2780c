#pragma once

// The records of one search. Every key and value is a byte string holding
// Latin-1 text; std::string compares by unsigned byte value, which gives the
// order in which events and their rows are listed.

#include <map>
#include <string>

// Display label ("Latitude:") to display value ("-41.286 \xB0").
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
// identifier: the i-th is the store's i-th event and the tree's i-th item.
struct LocatedEvent
{
    const std::string *eventId;
    QuakeLocation location;
};

// The texts an event's reply held for the values that an export writes,
// unrounded, each as the reply wrote it (UTF-8, empty where missing):
// latitude, longitude, depth (km), magnitude, magnitude type, station
// count and event type, in that order, between unit separators (0x1F).
struct RawEvent
{
    const std::string *eventId;
    std::string values;
};
