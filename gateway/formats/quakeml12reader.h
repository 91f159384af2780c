#pragma once

// Reads QuakeML 1.2 as FDSN event services write it: each <event> of
// <eventParameters> becomes one row from its preferred origin and preferred
// magnitude (the first of each where the preferred one is missing). Depth
// is converted from metres to km; the station count is the magnitude's,
// or else the origin's quality/usedStationCount. Picks, arrivals and
// everything else are skipped as the document streams past.

#include "formats/readoutcome.h"

class QIODevice;

namespace QuakeML12Reader {

// True when the text starts like an XML document.
bool recognises(const QByteArray &start);

ReadOutcome read(QIODevice &in, const RowSink &sink);

// The event id within a public id: "smi:nz.org.geonet/2016p408314" gives
// "2016p408314", and a query such as "...query?eventid=us7000abcd&..." its
// event id.
QString eventIdOf(const QString &publicId);

} // namespace QuakeML12Reader
