#include "app/querycomposition.h"

#include <iterator>

namespace QueryComposition {

namespace {

// Rows follow the item order of the two lists in the window's form.
const int magnitudeBounds[] = { 7, 6, 5, 4, 3, 0 };
const int magnitudeDefaultIndex = 4;

// A month is 31 days and a decade ten years of 365 days plus three leap days.
const int dayCounts[] = { 1, 7, 31, 365, 3653 };
const int daysDefaultIndex = 0;

template <typename Table>
int lookUp(const Table &table, int index, int fallbackIndex)
{
    if (index < 0 || index >= int(std::size(table)))
        index = fallbackIndex;
    return table[index];
}

} // namespace

int magnitudeLowerBound(int index)
{
    return lookUp(magnitudeBounds, index, magnitudeDefaultIndex);
}

int daysBack(int index)
{
    return lookUp(dayCounts, index, daysDefaultIndex);
}

QString assemble(int magnitudeLower, int days, const QString &searchUrl, const QDate &today)
{
    return assembleOver(QString::number(magnitudeLower), today.addDays(-days), today, searchUrl);
}

QString assembleOver(const QString &magnitudeLower, const QDate &start, const QDate &end, const QString &searchUrl)
{
    QString query = searchUrl;
    query += QStringLiteral("magnitudeLower=%1&magnitudeUpper=%2").arg(magnitudeLower).arg(MagnitudeUpperBound);
    query += QLatin1Char('&');
    query += QString::asprintf("startDate=%d-%02d-%02d&endDate=%d-%02d-%02d",
                               start.year(), start.month(), start.day(),
                               end.year(), end.month(), end.day());
    query += QLatin1Char('&');
    query += QLatin1String("outputFormat=quakeml1.0");
    return query;
}

} // namespace QueryComposition
