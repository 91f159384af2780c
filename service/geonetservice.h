#pragma once

// The two addresses of the GeoNet quake web service that Harvix knows: where
// searches go by default (the query is appended directly after the "?"), and
// the page of one event, to which an event's reference id is appended.

#include <QString>

namespace GeoNetService {

inline QString searchUrl()
{
    return QStringLiteral("http://magma.geonet.org.nz/services/quake/search?");
}

inline QString eventPageUrl()
{
    return QStringLiteral("http://quakeml.geonet.org.nz/services/quake/quakeml/1.0.1/ref/");
}

} // namespace GeoNetService
