#include "catalogue/windows.h"

#include "catalogue/eventquery.h"

namespace {

// The region's envelopes and depths as selections of their own, each a
// hair larger than the region: the exact test comes after.
std::vector<EventQuery> narrowing(const SearchRegion &region)
{
    constexpr double Hair = 1e-7;
    std::vector<EventQuery> selections;
    for (const SearchRegion::Box &box : region.envelopes()) {
        EventQuery selection;
        selection.minLatitude = box.south - Hair;
        selection.maxLatitude = box.north + Hair;
        selection.minLongitude = box.west - Hair;
        selection.maxLongitude = box.east + Hair;
        selections.push_back(selection);
    }
    if (region.minDepthKm || region.maxDepthKm) {
        EventQuery selection;
        selection.minDepthKm = region.minDepthKm;
        selection.maxDepthKm = region.maxDepthKm;
        selections.push_back(selection);
    }
    return selections;
}

} // namespace

QString EventFilter::whereClause() const
{
    QString clause = QStringLiteral("origin_time >= ? AND origin_time < ?");
    clause += magnitudeLower ? QStringLiteral(" AND magnitude >= ? AND magnitude <= ?")
                             : QStringLiteral(" AND (magnitude IS NULL OR magnitude <= ?)");
    for (const EventQuery &selection : narrowing(region))
        clause += QStringLiteral(" AND ") + selection.terms();
    return clause;
}

QVariantList EventFilter::bindings() const
{
    QVariantList values = { qlonglong(startUs), qlonglong(endUs) };
    if (magnitudeLower)
        values << *magnitudeLower;
    values << magnitudeUpper;
    for (const EventQuery &selection : narrowing(region))
        values << selection.bindings();
    return values;
}
