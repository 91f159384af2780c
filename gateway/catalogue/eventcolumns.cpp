#include "catalogue/eventcolumns.h"

#include "catalogue/sharedsql.h"

#include <QStringList>

namespace EventColumns {

const std::array<Column, 10> &all()
{
    static const std::array<Column, 10> columns = { {
        { "origin_time", "BIGINT", "BIGINT", &EventRow::originTimeUs },   // UTC, microseconds since 1970
        { "latitude", "DOUBLE PRECISION", "DOUBLE PRECISION", &EventRow::latitude },
        { "longitude", "DOUBLE PRECISION", "DOUBLE PRECISION", &EventRow::longitude },
        { "depth", "DOUBLE PRECISION", "DOUBLE PRECISION", &EventRow::depthKm },   // km
        { "magnitude", "DOUBLE PRECISION", "DOUBLE PRECISION", &EventRow::magnitude },
        { "magnitude_type", "VARCHAR(32)", "TEXT COLLATE \"C\"", &EventRow::magnitudeType },
        { "magnitude_station_count", "INTEGER", "INTEGER", &EventRow::magnitudeStationCount },
        { "event_type", "VARCHAR(64)", "TEXT COLLATE \"C\"", &EventRow::eventType },
        { "evaluation_mode", "VARCHAR(32)", "TEXT COLLATE \"C\"", &EventRow::evaluationMode },
        { "evaluation_status", "VARCHAR(32)", "TEXT COLLATE \"C\"", &EventRow::evaluationStatus },
    } };
    return columns;
}

namespace {

QString joined(const char *pattern)
{
    QStringList parts;
    for (const Column &column : all())
        parts << QString::fromLatin1(pattern).arg(QLatin1String(column.name));
    return parts.join(QStringLiteral(", "));
}

} // namespace

QString names(const char *prefix)
{
    return joined((QByteArray(prefix) + "%1").constData());
}

QString assignedFrom(const char *from)
{
    return joined((QByteArray("%1 = ") + from + "%1").constData());
}

QString assignedMarks()
{
    return joined("%1 = ?");
}

QString differFromMarks()
{
    return joined("%1 IS NOT ?").replace(QStringLiteral(", "), QStringLiteral(" OR "));
}

QStringList definitions(Dialect dialect, bool eventTable)
{
    QStringList made;
    for (const Column &column : all()) {
        made << QStringLiteral("%1 %2%3").arg(QLatin1String(column.name),
                                              QLatin1String(dialect == Dialect::SQLite ? column.sqliteType : column.postgresType),
                                              eventTable && &column == &all().front() ? QStringLiteral(" NOT NULL") : QString());
    }
    return made;
}

void bind(const EventRow &row, QVariantList &values)
{
    for (const Column &column : all()) {
        std::visit([&](auto member) {
            using Value = std::decay_t<decltype(row.*member)>;
            if constexpr (std::is_same_v<Value, std::int64_t>)
                values << qlonglong(row.*member);
            else if constexpr (std::is_same_v<Value, std::optional<double>>)
                values << SharedSql::orNull(member == &EventRow::longitude ? SharedSql::storedLongitude(row.*member) : row.*member);
            else
                values << SharedSql::orNull(row.*member);
        }, column.member);
    }
}

} // namespace EventColumns
