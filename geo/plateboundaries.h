#pragma once

// Bird's (2003) plate boundaries, PB2002: curves a segment each, read from
// the published file (data/tectonics/). Each segment names the plates on
// its left and right as one travels along it; at a subduction zone one
// plate goes under the other, and the teeth of a map's line are drawn on
// the overriding plate's side.

#include "geo/projection.h"

#include <QString>

#include <vector>

class PlateBoundaries
{
public:
    enum class Side { None, Left, Right };

    struct Segment
    {
        QString left, right;              // two-letter plate codes, "AU", "PA"
        Side overriding = Side::None;     // where a subduction zone's teeth go
        std::vector<GeoPoint> points;     // in order, longitudes as written
    };

    // Reads the file; false with the line at fault.
    bool load(const QString &path, QString *error);
    const std::vector<Segment> &segments() const { return m_segments; }
    std::size_t pointCount() const;

private:
    std::vector<Segment> m_segments;
};
