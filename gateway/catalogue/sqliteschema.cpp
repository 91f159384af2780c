// A catalogue file opened: made, checked to be one, or brought up to date.

#include "catalogue/eventcolumns.h"
#include "catalogue/sharedsql.h"
#include "catalogue/sqlitecatalogue.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

// Connections that only look at a file, each named apart.
std::atomic<quint64> nextInspection { 0 };

// A source that writes an event over another's takes the row; the other
// keeps its claim, with its values, in event_claim.
const QByteArray claimKept = "CREATE TRIGGER IF NOT EXISTS event_claim_kept BEFORE UPDATE OF source ON event"
                              " WHEN OLD.source <> NEW.source BEGIN " + SharedSql::claimKeptStatements() + " END";

// The values of its event that a claim keeps, as the event table has them.
const QStringList claimValues = EventColumns::definitions(EventColumns::Dialect::SQLite, false);

const QByteArray eventTable = "CREATE TABLE IF NOT EXISTS event (public_id VARCHAR(255) PRIMARY KEY, "
    + EventColumns::definitions(EventColumns::Dialect::SQLite, true).join(QStringLiteral(", ")).toLatin1()
    + ", source VARCHAR(255) NOT NULL, modified BIGINT NOT NULL)";

const char *const schema[] = {
    "CREATE TABLE IF NOT EXISTS catalogue_info ("
    " name VARCHAR(64) PRIMARY KEY,"
    " value VARCHAR(255) NOT NULL)",
    eventTable.constData(),
    "CREATE INDEX IF NOT EXISTS event_by_time ON event (origin_time, magnitude)",
    // Windows copied from an upstream, so that a recent one is not asked
    // for again and an interrupted sync goes on where it stopped.
    "CREATE TABLE IF NOT EXISTS fetched_window ("
    " upstream VARCHAR(255) NOT NULL,"
    " start_time BIGINT NOT NULL,"
    " end_time BIGINT NOT NULL,"
    " min_magnitude DOUBLE PRECISION,"
    " max_magnitude DOUBLE PRECISION,"
    " updated_after BIGINT,"
    " fetched BIGINT NOT NULL,"
    " region VARCHAR(255))",
    "CREATE INDEX IF NOT EXISTS fetched_window_by_time ON fetched_window (upstream, start_time)",
    // Every source that holds an event: a file's name or an upstream's URL.
    // The event row's source, the one that wrote it last, holds it; the
    // others that hold it too are listed here, so that an event stays while
    // any source holds it. With one source, as nearly always, it is empty.
    // Each keeps the values that its source last wrote (claimValues), so
    // that the event shows them again when a source that wrote over them
    // lets go; the trigger claimKept keeps them.
    "CREATE TABLE IF NOT EXISTS event_claim ("
    " public_id VARCHAR(255) NOT NULL,"
    " source VARCHAR(255) NOT NULL,"
    " claimed BIGINT NOT NULL,"              // the stamp of the transaction that last wrote it
    " PRIMARY KEY (public_id, source)) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS event_claim_by_source ON event_claim (source)",
    // When each transaction's changes became visible. A transaction stamps
    // its rows when it begins, so a long import's rows carry a time older
    // than the polls that ran while it did; a search for what changed after
    // a time also takes the stamps of transactions committed after it.
    "CREATE TABLE IF NOT EXISTS change_log ("
    " stamp BIGINT PRIMARY KEY,"
    " committed BIGINT)",                    // nothing until the writer has noted it
    // Each event by the degree of latitude and longitude it lies in, then
    // time: a search of a small region reads the few cells it covers in
    // time order instead of every event of its times. The cell is an
    // expression of the row, so the index needs nothing but itself.
    "CREATE INDEX IF NOT EXISTS event_by_cell ON event"
    " ((CAST(latitude + 90 AS INTEGER) * 361 + CAST(longitude + 180 AS INTEGER)), origin_time)",
};

QStringList columnsOf(QSqlQuery &query, const QString &table)
{
    QStringList columns;
    if (query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        while (query.next())
            columns << query.value(1).toString();
    }
    query.finish();
    return columns;
}

// The claims' values and the trigger that keeps them, for a new catalogue
// and one made before schema 4, whose claims take their events' values as
// a hand-over gave them then.
bool keepClaimValues(QSqlQuery &query)
{
    if (columnsOf(query, QStringLiteral("event_claim")).contains(QLatin1String("origin_time")))
        return true;
    for (const QString &column : claimValues) {
        if (!query.exec(QStringLiteral("ALTER TABLE event_claim ADD COLUMN %1").arg(column)))
            return false;
    }
    return query.exec(SharedSql::claimsTakeTheirEventsValues()) && query.exec(QStringLiteral("DROP TRIGGER IF EXISTS event_claim_kept"))
        && query.exec(QString::fromLatin1(claimKept));
}

// What the first bytes of an existing file say about it: empty, an SQLite
// database with this application id (0 for none), or something else.
enum class FileKind { Empty, SQLite, NotSQLite, Unreadable };

FileKind kindOf(const QString &path, quint32 &applicationId, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return FileKind::Unreadable;
    }
    const QByteArray header = file.read(100);
    if (header.isEmpty())
        return FileKind::Empty;
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileKind::NotSQLite;
    // The header's application id, big-endian at offset 68.
    applicationId = quint32(quint8(header[68])) << 24 | quint32(quint8(header[69])) << 16
        | quint32(quint8(header[70])) << 8 | quint32(quint8(header[71]));
    return FileKind::SQLite;
}

// The tables of an SQLite file, through a connection that writes nothing.
QStringList tablesOf(const QString &path, QString *error)
{
    QStringList tables;
    const QString name = QStringLiteral("harvix-catalogue-inspect-%1").arg(++nextInspection);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=30000"));
        if (!db.open()) {
            *error = SqliteCatalogue::errorText(db.lastError());
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
                *error = SqliteCatalogue::errorText(query.lastError());
            while (query.next())
                tables << query.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return tables;
}

} // namespace

bool SqliteCatalogue::checkFile(quint32 *applicationId, QString *why)
{
    const QFileInfo file(m_path);
    if (file.exists()) {
        if (!file.isFile()) {
            *why = QStringLiteral("not a Harvix catalogue: not a file");
            return false;
        }
        QString words;
        switch (kindOf(m_path, *applicationId, words)) {
        case FileKind::Unreadable:
            *why = QStringLiteral("cannot be read (%1)").arg(words);
            return false;
        case FileKind::NotSQLite:
            *why = QStringLiteral("not a Harvix catalogue: the file is not an SQLite database");
            return false;
        case FileKind::SQLite:
            if (*applicationId != 0 && *applicationId != ApplicationId) {
                *why = QStringLiteral("not a Harvix catalogue: an SQLite database of another program "
                                      "(application id %1); it was left as it is").arg(*applicationId);
                return false;
            }
            break;
        case FileKind::Empty:
            break;
        }
    } else if (!QFileInfo(file.absolutePath()).isDir()) {
        *why = QStringLiteral("the folder %1 does not exist").arg(file.absolutePath());
        return false;
    }
    m_readOnly = file.exists() && !file.isWritable();
    // A read-only catalogue in a folder that may not be written either has
    // no room for SQLite's shared-memory file: it is read as it stands.
    m_immutable = m_readOnly && !QFileInfo(file.absolutePath()).isWritable()
        && !QFileInfo::exists(m_path + QStringLiteral("-wal"));
    // A file without our mark is looked at read-only first: opening another
    // program's database for writing would fold its WAL into it.
    if (file.exists() && *applicationId != ApplicationId) {
        QString words;
        const QStringList tables = tablesOf(m_path, &words);
        if (!words.isEmpty()) {
            *why = QStringLiteral("not a Harvix catalogue: the file is damaged or not an SQLite database (%1)").arg(words);
            return false;
        }
        if (!tables.isEmpty() && !tables.contains(QLatin1String("catalogue_info"))) {
            *why = QStringLiteral("not a Harvix catalogue: an SQLite database of another program (tables %1); "
                                  "it was left as it is").arg(tables.mid(0, 5).join(QStringLiteral(", ")));
            return false;
        }
    }
    return true;
}

bool SqliteCatalogue::upgrade(QSqlDatabase &db, int version, quint32 applicationId, QString *why)
{
    QSqlQuery query(db);
    // Tables that came later, and the mark that catalogues made before it
    // lack.
    if (!db.transaction()) {
        *why = QStringLiteral("cannot be written (%1)").arg(errorText(db.lastError()));
        return false;
    }
    bool written = true;
    for (const char *statement : schema)
        written = written && query.exec(QLatin1String(statement));
    // Schema 1's events are each held by the source that wrote them, as the
    // row says; schema 2's fetched windows are of the whole world.
    if (version < 3 && !columnsOf(query, QStringLiteral("fetched_window")).contains(QLatin1String("region")))
        written = written && query.exec(QStringLiteral("ALTER TABLE fetched_window ADD COLUMN region VARCHAR(255)"));
    written = written && keepClaimValues(query);
    if (version < SchemaVersion) {
        written = written && query.exec(QStringLiteral("UPDATE catalogue_info SET value = '%1' WHERE name = "
                                                       "'schema_version'").arg(SchemaVersion));
    }
    // A writer that stopped between its commit and noting it: its changes
    // are visible, so they are noted as committed now.
    written = written && query.exec(QStringLiteral("UPDATE change_log SET committed = %1 WHERE committed IS NULL")
                                        .arg(QDateTime::currentMSecsSinceEpoch() * 1000));
    if (!written || !db.commit()) {
        *why = QStringLiteral("cannot be written (%1)").arg(errorText(written ? db.lastError() : query.lastError()));
        db.rollback();
        return false;
    }
    if (applicationId == 0 && !query.exec(QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId))) {
        *why = QStringLiteral("cannot be written (%1)").arg(errorText(query.lastError()));
        return false;
    }
    return true;
}

bool SqliteCatalogue::create(QSqlDatabase &db, QString *why)
{
    QSqlQuery query(db);
    const auto failed = [&](const QSqlError &error) {
        *why = QStringLiteral("cannot be written (%1)").arg(errorText(error));
        db.rollback();
        return false;
    };
    if (!query.exec(QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId))
        || !query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return failed(query.lastError());
    if (!db.transaction())
        return failed(db.lastError());
    for (const char *statement : schema) {
        if (!query.exec(QLatin1String(statement)))
            return failed(query.lastError());
    }
    if (!keepClaimValues(query))
        return failed(query.lastError());
    query.prepare(SharedSql::insertSchemaVersion);
    query.addBindValue(QString::number(SchemaVersion));
    if (!query.exec() || !db.commit())
        return failed(query.lastError());
    return true;
}

bool SqliteCatalogue::open(QString *error)
{
    QString why;
    auto fail = [&](const QString &what) {
        *error = QStringLiteral("%1: %2").arg(m_path, what);
        return false;
    };
    quint32 applicationId = 0;
    if (!checkFile(&applicationId, &why))
        return fail(why);
    QSqlDatabase db = connection();
    if (!db.isOpen())
        return fail(QStringLiteral("cannot be opened (%1)").arg(errorText(db.lastError())));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return fail(QStringLiteral("not a Harvix catalogue: the file is damaged or not an SQLite database (%1)")
                        .arg(errorText(query.lastError())));
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    query.finish();

    if (tables.contains(QLatin1String("catalogue_info"))) {
        if (!query.exec(SharedSql::selectSchemaVersion) || !query.next())
            return fail(QStringLiteral("not a Harvix catalogue: it has no schema version"));
        const int version = query.value(0).toInt();
        query.finish();
        if (version > SchemaVersion)
            return fail(QStringLiteral("written by a newer harvix-gateway (schema %1; this one reads "
                                       "schema %2)").arg(version).arg(SchemaVersion));
        if (!m_readOnly) {
            m_cellIndex = true;
            return upgrade(db, version, applicationId, &why) || fail(why);
        }
        if (version < SchemaVersion)
            return fail(QStringLiteral("read-only, and written by an older harvix-gateway (schema %1): "
                                       "open it once with write access to bring it up to date").arg(version));
        // Written before the cell index came: searched by time alone.
        m_cellIndex = query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = "
                                                "'event_by_cell'"))
            && query.next();
        query.finish();
        return true;
    }
    if (!tables.isEmpty())
        return fail(QStringLiteral("not a Harvix catalogue: an SQLite database of another program (tables %1); "
                                   "it was left as it is").arg(tables.mid(0, 5).join(QStringLiteral(", "))));
    // An empty database: a new catalogue.
    if (m_readOnly)
        return fail(QStringLiteral("read-only, and not a catalogue"));
    m_cellIndex = true;
    return create(db, &why) || fail(why);
}
