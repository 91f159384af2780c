#include "catalogue/windows.h"

QString EventFilter::whereClause() const
{
    QString clause = QStringLiteral("origin_time >= ? AND origin_time < ?");
    clause += magnitudeLower ? QStringLiteral(" AND magnitude >= ? AND magnitude <= ?")
                             : QStringLiteral(" AND (magnitude IS NULL OR magnitude <= ?)");
    return clause;
}

QVariantList EventFilter::bindings() const
{
    QVariantList values = { qlonglong(startUs), qlonglong(endUs) };
    if (magnitudeLower)
        values << *magnitudeLower;
    values << magnitudeUpper;
    return values;
}
