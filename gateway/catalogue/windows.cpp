#include "catalogue/windows.h"

#include "catalogue/eventquery.h"

RegionTerms RegionTerms::of(const SearchRegion &region)
{
    constexpr double Hair = 1e-7;
    std::vector<EventQuery> selections;
    for (const SearchRegion::Box &box : region.envelopes()) {
        EventQuery selection;
        selection.minLatitude = box.south - Hair;
        selection.maxLatitude = box.north + Hair;
        // A box all the way round has no longitudes to narrow by, however
        // its west and east are written (180 and -180, 10 and -350).
        if (box.width() + 2 * Hair < 360) {
            selection.minLongitude = box.west - Hair;
            selection.maxLongitude = box.west + box.width() + Hair;
        }
        selections.push_back(selection);
    }
    if (region.minDepthKm || region.maxDepthKm) {
        EventQuery selection;
        selection.minDepthKm = region.minDepthKm;
        selection.maxDepthKm = region.maxDepthKm;
        selections.push_back(selection);
    }
    RegionTerms terms;
    for (const EventQuery &selection : selections) {
        terms.sql += (terms.sql.isEmpty() ? QString() : QStringLiteral(" AND ")) + selection.terms();
        terms.values << selection.bindings();
    }
    return terms;
}

QString EventFilter::whereClause() const
{
    QString clause = QStringLiteral("origin_time >= ? AND origin_time < ?");
    clause += magnitudeLower ? QStringLiteral(" AND magnitude >= ? AND magnitude <= ?")
                             : QStringLiteral(" AND (magnitude IS NULL OR magnitude <= ?)");
    const RegionTerms where = RegionTerms::of(region);
    if (!where.sql.isEmpty())
        clause += QStringLiteral(" AND ") + where.sql;
    return clause;
}

QVariantList EventFilter::bindings() const
{
    QVariantList values = { qlonglong(startUs), qlonglong(endUs) };
    if (magnitudeLower)
        values << *magnitudeLower;
    values << magnitudeUpper;
    values << RegionTerms::of(region).values;
    return values;
}
