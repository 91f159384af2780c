#include "catalogue/sqlitecatalogue.h"

#include "catalogue/sqlitecataloguewriter.h"

#include "catalogue/eventquery.h"
#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QSqlError>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <unordered_map>

namespace {

std::atomic<quint64> nextSerial { 0 };

// The cell of an event's place, as event_by_cell indexes it.
const char cellOfEvent[] = "(CAST(latitude + 90 AS INTEGER) * 361 + CAST(longitude + 180 AS INTEGER))";

// A search whose cells hold at most this many events of its times is read
// through them, and sorted; a larger one scans the time index, in order,
// as a search without a region does.
constexpr int CellIndexLimit = 20000;

QString lastError(const QSqlQuery &query)
{
    return query.lastError().text().simplified();
}


} // namespace

SqliteCatalogue::SqliteCatalogue(const QString &path)
    : m_path(path)
    , m_serial(++nextSerial)
{
}

QString SqliteCatalogue::errorText(const QSqlError &error)
{
    const QString text = error.databaseText().simplified();
    return text.isEmpty() ? error.text().simplified() : text;
}

SqliteCatalogue::~SqliteCatalogue()
{
    for (const QString &name : std::as_const(m_connectionNames))
        QSqlDatabase::removeDatabase(name);
}

QSqlDatabase SqliteCatalogue::connection() const
{
    // Connections by catalogue for this thread; a serial is never reused,
    // so the entries of catalogues that are gone can do no harm.
    thread_local std::unordered_map<quint64, QString> names;
    if (const auto found = names.find(m_serial); found != names.end())
        return QSqlDatabase::database(found->second, false);

    const QString name = QStringLiteral("harvix-catalogue-%1-%2")
                             .arg(m_serial)
                             .arg(quintptr(&names), 0, 16);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    // A writer holds its lock for one piece of work; readers never wait in WAL.
    if (m_immutable) {
        db.setDatabaseName(QUrl::fromLocalFile(m_path).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(m_path);
        db.setConnectOptions(m_readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY")
                                        : QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    }
    if (db.open()) {
        // A small page cache a connection: there is one for each worker.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -256"));
    }
    names.emplace(m_serial, name);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connectionNames.append(name);
    return db;
}

bool SqliteCatalogue::read(const QString &sql, const QVariantList &values, SqlRows *rows) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return false;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    return query.exec() && takeRows(query, rows);
}

bool SqliteCatalogue::takeRows(QSqlQuery &query, SqlRows *rows)
{
    rows->affected = query.numRowsAffected();
    rows->rows.clear();
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int column = 0; column < columns; ++column)
            row << query.value(column);
        rows->rows.push_back(std::move(row));
    }
    const bool read = !query.lastError().isValid();
    query.finish();
    return read;
}

QString SqliteCatalogue::outlineStatement() const
{
    // Longitudes from -180 to 180 made 0 to 360 first, so that the cast
    // to a whole number, which drops the fraction, is the floor.
    return QStringLiteral("SELECT CAST(longitude + 180 AS INTEGER), MIN(latitude), MAX(latitude) FROM event"
                          " WHERE latitude IS NOT NULL AND longitude IS NOT NULL GROUP BY 1");
}

namespace {

// A forward-only query of whole rows.
class SqlCursor : public Catalogue::Cursor
{
public:
    explicit SqlCursor(QSqlQuery query) : m_query(std::move(query)) {}

    bool next(EventRow &row) override
    {
        if (!m_query.isActive() || !m_query.next())
            return false;
        row = SqlCatalogue::eventRowOf(VariantFields<QSqlQuery> { m_query });
        return true;
    }

    QString error() const override
    {
        return m_query.lastError().isValid() ? lastError(m_query) : QString();
    }

private:
    QSqlQuery m_query;
};

} // namespace

std::optional<SqliteCatalogue::CellTerm> SqliteCatalogue::fewInCells(const SearchRegion::Box &box,
                                                                        std::optional<std::int64_t> startUs,
                                                                        std::optional<std::int64_t> endUs) const
{
    if (!m_cellIndex)
        return std::nullopt;
    // The cells that the box touches, bounds included; too many to list
    // are left to the time index.
    constexpr int MostCells = 400;
    const auto row = [](double latitude) { return int(std::floor(std::clamp(latitude, -90.0, 90.0) + 90)); };
    const auto column = [](double longitude) { return int(std::floor(std::clamp(longitude, -180.0, 180.0) + 180)); };
    QStringList cells;
    const auto ranges = Geo::longitudeRanges(box.west, box.east);
    for (int r = row(box.south); r <= row(box.north); ++r) {
        for (const auto &[from, to] : ranges) {
            for (int c = column(from); c <= column(to); ++c)
                cells << QString::number(r * 361 + c);
        }
        if (cells.size() > MostCells)
            return std::nullopt;
    }
    CellTerm term;
    term.sql = QStringLiteral("%1 IN (%2)").arg(QLatin1String(cellOfEvent), cells.join(u','));
    if (startUs) {
        term.sql += QStringLiteral(" AND origin_time >= ?");
        term.values << qlonglong(*startUs);
    }
    if (endUs) {
        term.sql += QStringLiteral(" AND origin_time <= ?");
        term.values << qlonglong(*endUs);
    }
    // Counted in the index alone.
    QSqlQuery count(connection());
    count.setForwardOnly(true);
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM event INDEXED BY event_by_cell WHERE %1 LIMIT %2)")
                      .arg(term.sql).arg(CellIndexLimit + 1));
    for (const QVariant &value : term.values)
        count.addBindValue(value);
    if (!count.exec() || !count.next() || count.value(0).toInt() > CellIndexLimit)
        return std::nullopt;
    return term;
}

void SqliteCatalogue::narrow(SqlSelection &selection, const Place &place) const
{
    // The box's cells, if they hold few events; the order is the time
    // index's either way.
    if (!place.box)
        return;
    if (const std::optional<CellTerm> cells = fewInCells(*place.box, place.startUs, place.endUs)) {
        selection.from += QStringLiteral(" INDEXED BY event_by_cell");
        selection.add(cells->sql, cells->values);
    }
}

std::unique_ptr<Catalogue::Cursor> SqliteCatalogue::stream(const QString &sql, const QVariantList &values) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    query.exec();
    return std::make_unique<SqlCursor>(std::move(query));
}

bool SqliteCatalogue::readTable(const Table &table, const std::function<bool(const QVariantList &)> &row,
                                QString *error) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(SharedSql::selectTable(table.name, table.columns))) {
        *error = errorText(query.lastError());
        return false;
    }
    QVariantList values;
    while (query.next()) {
        values.clear();
        for (int column = 0; column < table.columns.size(); ++column)
            values << query.value(column);
        if (!row(values))
            return false;
    }
    if (query.lastError().isValid()) {
        *error = errorText(query.lastError());
        return false;
    }
    return true;
}

std::unique_ptr<Catalogue::Writer> SqliteCatalogue::writer(const QString &source) const
{
    return std::make_unique<SqliteCatalogueWriter>(*this, source);
}
