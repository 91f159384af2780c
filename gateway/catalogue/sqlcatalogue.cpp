#include "catalogue/sqlcatalogue.h"

#include "catalogue/eventquery.h"
#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <algorithm>

namespace {

// The one row of a read, or nothing when it failed or found none.
std::optional<QVariantList> firstRow(bool read, const SqlRows &rows)
{
    if (!read || rows.rows.empty())
        return std::nullopt;
    return rows.rows.front();
}

} // namespace

std::optional<qint64> SqlCatalogue::eventCount() const
{
    SqlRows rows;
    const std::optional<QVariantList> row = firstRow(read(SharedSql::countEvents, {}, &rows), rows);
    return row ? std::optional<qint64>(row->at(0).toLongLong()) : std::nullopt;
}

std::optional<qint64> SqlCatalogue::lastModified() const
{
    // A removal leaves no stamp on any row, and a long import's stamp is
    // older than those of the transactions that committed while it ran:
    // the log knows when each one was committed.
    SqlRows rows;
    const std::optional<QVariantList> row = firstRow(read(SharedSql::lastModified, {}, &rows), rows);
    return row ? std::optional<qint64>(std::max(row->at(0).toLongLong(), row->at(1).toLongLong())) : std::nullopt;
}

Read<EventRow> SqlCatalogue::find(const QString &publicId) const
{
    SqlRows rows;
    if (!read(SharedSql::findEvent(), { publicId }, &rows))
        return Read<EventRow>::failure();
    const std::optional<QVariantList> row = firstRow(true, rows);
    return row ? Read<EventRow>(eventRowOf(VariantFields<QVariantList> { *row })) : Read<EventRow>();
}

Read<QList<Catalogue::SourceSummary>> SqlCatalogue::summary() const
{
    QList<SourceSummary> sources;
    SqlRows rows;
    if (!read(SharedSql::sourceSummary, {}, &rows))
        return Read<QList<SourceSummary>>::failure();
    for (const QVariantList &row : rows.rows)
        sources.append({ row[0].toString(), row[1].toLongLong(), row[2].toLongLong(), row[3].toLongLong() });
    return sources;
}

Read<Catalogue::TimeRange> SqlCatalogue::timeRange() const
{
    SqlRows rows;
    if (!read(SharedSql::timeRange, {}, &rows))
        return Read<TimeRange>::failure();
    const std::optional<QVariantList> row = firstRow(true, rows);
    if (!row || row->at(0).isNull())
        return Read<TimeRange>();
    return TimeRange { row->at(0).toLongLong(), row->at(1).toLongLong() };
}

Read<std::vector<GeoPoint>> SqlCatalogue::outline() const
{
    std::vector<GeoPoint> points;
    SqlRows rows;
    if (!read(outlineStatement(), {}, &rows))
        return Read<std::vector<GeoPoint>>::failure();
    for (const QVariantList &row : rows.rows) {
        const double west = row[0].toDouble() - 180;
        for (const double longitude : { west, std::min(west + 1, 180.0) }) {
            points.push_back({ row[1].toDouble(), longitude });
            points.push_back({ row[2].toDouble(), longitude });
        }
    }
    return points;
}

std::optional<std::int64_t> SqlCatalogue::lastFetched(const QString &upstream) const
{
    SqlRows rows;
    const std::optional<QVariantList> row = firstRow(read(SharedSql::lastFetched, { upstream }, &rows), rows);
    if (!row || row->at(0).isNull())
        return std::nullopt;
    return row->at(0).toLongLong();
}

bool SqlCatalogue::isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const
{
    const SharedSql::Statement statement = SharedSql::countFetched(upstream, window, sinceUs);
    SqlRows rows;
    const std::optional<QVariantList> row = firstRow(read(statement.sql, statement.values, &rows), rows);
    return row && row->at(0).toLongLong() > 0;
}

QString SqlSelection::sql() const
{
    return QStringLiteral("SELECT %1 FROM %2%3%4")
        .arg(SharedSql::eventColumns, from,
             terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND ")), order);
}

std::unique_ptr<Catalogue::Cursor> SqlCatalogue::search(const EventFilter &filter) const
{
    SqlSelection selection;
    selection.add(filter.whereClause(), filter.bindings());
    selection.order = SharedSql::searchOrder;
    // The region's smallest envelope, and its circle.
    Place place { std::nullopt, filter.region.circle, filter.startUs, filter.endUs };
    for (const SearchRegion::Box &box : filter.region.envelopes()) {
        if (!place.box || box.width() * (box.north - box.south) < place.box->width() * (place.box->north - place.box->south))
            place.box = box;
    }
    narrow(selection, place);
    return keepInside(filter, stream(selection.sql(), selection.values));
}

std::unique_ptr<Catalogue::Cursor> SqlCatalogue::select(const EventQuery &query) const
{
    const EventQuery asked = answerable(query);
    SqlSelection selection;
    if (const QString terms = asked.terms(); !terms.isEmpty())
        selection.add(terms, asked.bindings());
    selection.order = asked.orderClause();
    Place place { std::nullopt, std::nullopt, asked.startUs, asked.endUs };
    if (asked.minLatitude || asked.maxLatitude || asked.minLongitude || asked.maxLongitude)
        place.box = SearchRegion::Box { asked.minLongitude.value_or(-180), asked.minLatitude.value_or(-90),
                                        asked.maxLongitude.value_or(180), asked.maxLatitude.value_or(90) };
    narrow(selection, place);
    return stream(selection.sql(), selection.values);
}

EventQuery SqlCatalogue::answerable(const EventQuery &query) const
{
    return query;
}
