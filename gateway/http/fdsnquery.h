#pragma once

// The query of the FDSN event service (fdsnws-event 1.2): its parameters
// and their short forms, checked, as a selection of the catalogue plus what
// SQL cannot do (a circle on the sphere, paging, the format). A parameter
// that is unknown, given twice, malformed or out of range is refused with a
// one-line reason that names it.

#include "catalogue/eventquery.h"
#include "geo/parsed.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct EventRow;

struct FdsnQuery
{
    EventQuery selection;

    // Events whose great-circle distance from a point, in degrees, lies
    // from minRadius to maxRadius.
    struct Circle
    {
        double latitude = 0;
        double longitude = 0;
        double minRadius = 0;
        double maxRadius = 180;
    };
    std::optional<Circle> circle;

    // The events of one of the catalogs or contributors that the service
    // lists; resolved into the selection's sources against the catalogue.
    QString catalog;
    QString contributor;

    std::optional<std::int64_t> limit;
    std::int64_t offset = 1;        // the first event to give, counting from 1
    enum class Format { Xml, Text };
    Format format = Format::Xml;
    int noDataStatus = 204;

    // Whether an event that the selection gave lies in the circle.
    bool matches(const EventRow &row) const;

    // The raw query string, the part after '?', still percent-encoded.
    static Parsed<FdsnQuery> parse(std::string_view query);
};
