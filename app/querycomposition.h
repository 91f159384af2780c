#pragma once

// The query protocol of the quake web service: the two filter tables and the
// formatting of one request URL for a given day. Pure functions, so that the
// window and the tests share them.

#include <QDate>
#include <QString>

namespace QueryComposition {

// Lower magnitude bound for an entry of the magnitude list ("Show >= Mag 7"
// down to "Show All"). An index outside the list falls back to the list's
// default entry, "Show >= Mag 3".
int magnitudeLowerBound(int index);

// Days back for an entry of the date list ("Show Last Day" to "Show Last
// Decade"). An index outside the list falls back to the default, one day.
int daysBack(int index);

constexpr int MagnitudeUpperBound = 12;

// searchUrl followed directly by the query for the given lower bound and the
// days before today, ending today.
QString assemble(int magnitudeLower, int days, const QString &searchUrl, const QDate &today);
// The same for a lower bound as the service reads it ("3", "2.5") and the
// dates from start to end.
QString assembleOver(const QString &magnitudeLower, const QDate &start, const QDate &end, const QString &searchUrl);

} // namespace QueryComposition
