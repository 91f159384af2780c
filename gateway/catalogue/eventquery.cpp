#include "catalogue/eventquery.h"

#include "geo/searchregion.h"

#include <cmath>

namespace {

// "(longitude >= ? AND longitude <= ?)", or two of them for a box across 180.
QString longitudeTerms(std::size_t ranges)
{
    return ranges == 1 ? QStringLiteral("longitude >= ? AND longitude <= ?")
                       : QStringLiteral("((longitude >= ? AND longitude <= ?) OR (longitude >= ? AND longitude <= ?))");
}

} // namespace

QString EventQuery::whereClause() const
{
    const QString all = terms();
    return all.isEmpty() ? QString() : QStringLiteral(" WHERE ") + all;
}

QString EventQuery::terms() const
{
    QStringList terms;
    if (startUs)
        terms << QStringLiteral("origin_time >= ?");
    if (endUs)
        terms << QStringLiteral("origin_time <= ?");
    if (minLatitude)
        terms << QStringLiteral("latitude >= ?");
    if (maxLatitude)
        terms << QStringLiteral("latitude <= ?");
    if (minLongitude || maxLongitude)
        terms << longitudeTerms(Geo::longitudeRanges(minLongitude.value_or(-180), maxLongitude.value_or(180)).size());
    if (minDepthKm)
        terms << QStringLiteral("depth >= ?");
    if (maxDepthKm)
        terms << QStringLiteral("depth <= ?");
    if (minMagnitude)
        terms << QStringLiteral("magnitude >= ?");
    if (maxMagnitude)
        terms << QStringLiteral("magnitude <= ?");
    if (!magnitudeType.isEmpty())
        terms << QStringLiteral("LOWER(magnitude_type) = LOWER(?)");
    if (!eventTypes.isEmpty()) {
        QStringList any;
        for (qsizetype i = 0; i < eventTypes.size(); ++i)
            any << QStringLiteral("LOWER(event_type) LIKE LOWER(?) ESCAPE '\\'");
        terms << u'(' + any.join(QStringLiteral(" OR ")) + u')';
    }
    if (!eventId.isEmpty())
        terms << QStringLiteral("public_id = ?");
    if (sources) {
        terms << (sources->isEmpty() ? QStringLiteral("1 = 0")
                                     : QStringLiteral("source IN (%1)").arg(QStringList(sources->size(), QStringLiteral("?"))
                                                                              .join(QStringLiteral(", "))));
    }
    if (withPosition)
        terms << QStringLiteral("latitude IS NOT NULL AND longitude IS NOT NULL");
    // Rows carry the time their transaction began; one that committed
    // after the time counts as changed after it, however long it ran.
    if (updatedAfterUs)
        terms << QStringLiteral("(modified >= ? OR modified IN (SELECT stamp FROM change_log"
                                " WHERE committed IS NULL OR committed >= ?))");
    return terms.join(QStringLiteral(" AND "));
}

QVariantList EventQuery::bindings() const
{
    QVariantList values;
    for (const std::optional<std::int64_t> &time : { startUs, endUs }) {
        if (time)
            values << qlonglong(*time);
    }
    for (const std::optional<double> &latitude : { minLatitude, maxLatitude }) {
        if (latitude)
            values << *latitude;
    }
    if (minLongitude || maxLongitude) {
        for (const auto &[from, to] : Geo::longitudeRanges(minLongitude.value_or(-180), maxLongitude.value_or(180)))
            values << from << to;
    }
    for (const std::optional<double> &bound : { minDepthKm, maxDepthKm, minMagnitude, maxMagnitude }) {
        if (bound)
            values << *bound;
    }
    if (!magnitudeType.isEmpty())
        values << magnitudeType;
    for (const QString &type : eventTypes) {
        QString pattern;
        for (const QChar c : type) {
            if (c == u'%' || c == u'_' || c == u'\\')
                pattern += u'\\';
            pattern += c == u'*' ? u'%' : c == u'?' ? u'_' : c;
        }
        values << pattern;
    }
    if (!eventId.isEmpty())
        values << eventId;
    if (sources) {
        for (const QString &source : *sources)
            values << source;
    }
    if (updatedAfterUs)
        values << qlonglong(*updatedAfterUs) << qlonglong(*updatedAfterUs);
    return values;
}

QString EventQuery::orderClause() const
{
    switch (order) {
    case Order::TimeAscending:
        return QStringLiteral(" ORDER BY origin_time, public_id");
    case Order::MagnitudeDescending:
        return QStringLiteral(" ORDER BY magnitude IS NULL, magnitude DESC, origin_time DESC, public_id");
    case Order::MagnitudeAscending:
        return QStringLiteral(" ORDER BY magnitude IS NULL, magnitude, origin_time, public_id");
    case Order::TimeDescending:
        break;
    }
    return QStringLiteral(" ORDER BY origin_time DESC, public_id");
}
