#pragma once

// Reads QuakeML 1.2 as FDSN event services write it: each <event> of
// <eventParameters> becomes one row from its preferred origin and preferred
// magnitude (the first of each where the preferred one is missing). Depth
// is converted from metres to km; the station count is the magnitude's,
// or else the origin's quality/usedStationCount. Picks, arrivals and
// everything else are skipped as the document streams past.

#include "formats/readoutcome.h"

#include <QXmlStreamAttributes>

class QIODevice;

namespace QuakeML12Reader {

// True when the text starts like an XML document, in UTF-8 or UTF-16.
bool recognises(const QByteArray &start);

ReadOutcome read(QIODevice &in, const RowSink &sink);

// The event id within a public id, as the agency's FDSN text reply gives
// it: the value of an eventid= parameter ("...query?eventid=us7000abcd&..."
// gives "us7000abcd"), else the last path segment without a key=
// ("smi:nz.org.geonet/2016p408314" gives "2016p408314", "smi:ISC/evid=1"
// gives "1").
QString eventIdOf(const QString &publicId);

// The id of an <event> from its attributes: ANSS's catalog:eventsource and
// catalog:eventid together where both are there, else that of its publicID.
QString eventIdOf(const QXmlStreamAttributes &attributes);

} // namespace QuakeML12Reader
