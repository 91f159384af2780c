// A PostgreSQL catalogue opened: its schema made, or brought up to date.

#include "catalogue/eventcolumns.h"
#include "catalogue/pgstatement.h"
#include "catalogue/postgrescatalogue.h"
#include "catalogue/sharedsql.h"

using namespace PgStatement;

namespace {

// The tables as SQLite has them, in PostgreSQL's words: text compared
// byte by byte (COLLATE "C"), as SQLite compares it, so that both order
// alike; a geography point of each event with a position, for PostGIS.
// The values of its event that each claim keeps, as its source wrote them
// (schema 2; a claim of schema 1 takes its event's).
const QByteArray claimValues = "ALTER TABLE event_claim ADD COLUMN IF NOT EXISTS "
    + EventColumns::definitions(EventColumns::Dialect::PostgreSQL, false)
          .join(QStringLiteral(", ADD COLUMN IF NOT EXISTS "))
          .toLatin1();
const QByteArray eventTable = "CREATE TABLE event (public_id TEXT COLLATE \"C\" PRIMARY KEY, "
    + EventColumns::definitions(EventColumns::Dialect::PostgreSQL, true).join(QStringLiteral(", ")).toLatin1()
    + ", source TEXT COLLATE \"C\" NOT NULL, modified BIGINT NOT NULL,"
      " place geography(Point, 4326) GENERATED ALWAYS AS (CASE WHEN latitude IS NOT NULL AND longitude IS NOT NULL"
      " THEN ST_SetSRID(ST_MakePoint(longitude, latitude), 4326)::geography END) STORED)";
// A source that writes an event over another's takes the row; the other
// keeps its claim, with its values, in event_claim.
const QByteArray claimKept = "CREATE OR REPLACE FUNCTION event_claim_kept() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                              " IF OLD.source <> NEW.source THEN " + SharedSql::claimKeptStatements()
    + " END IF; RETURN NEW; END $$";

const char *const schema[] = {
    "CREATE EXTENSION IF NOT EXISTS postgis",
    "CREATE TABLE catalogue_info ("
    " name TEXT COLLATE \"C\" PRIMARY KEY,"
    " value TEXT NOT NULL)",
    eventTable.constData(),
    "CREATE INDEX event_by_time ON event (origin_time, magnitude)",
    "CREATE INDEX event_by_place ON event USING GIST (place)",
    "CREATE INDEX event_by_magnitude ON event (magnitude)",
    "CREATE INDEX event_by_modified ON event (modified)",
    "CREATE INDEX event_by_source ON event (source)",
    "CREATE TABLE fetched_window ("
    " upstream TEXT COLLATE \"C\" NOT NULL,"
    " start_time BIGINT NOT NULL,"
    " end_time BIGINT NOT NULL,"
    " min_magnitude DOUBLE PRECISION,"
    " max_magnitude DOUBLE PRECISION,"
    " updated_after BIGINT,"
    " fetched BIGINT NOT NULL,"
    " region TEXT COLLATE \"C\")",
    "CREATE INDEX fetched_window_by_time ON fetched_window (upstream, start_time)",
    "CREATE TABLE event_claim ("
    " public_id TEXT COLLATE \"C\" NOT NULL,"
    " source TEXT COLLATE \"C\" NOT NULL,"
    " claimed BIGINT NOT NULL,"
    " PRIMARY KEY (public_id, source))",
    "CREATE INDEX event_claim_by_source ON event_claim (source)",
    claimValues.constData(),
    claimKept.constData(),
    "CREATE TRIGGER event_claim_kept BEFORE UPDATE OF source ON event FOR EACH ROW EXECUTE FUNCTION event_claim_kept()",
    "CREATE TABLE change_log ("
    " stamp BIGINT PRIMARY KEY,"
    " committed BIGINT)",
};

} // namespace

bool PostgresCatalogue::open(QString *error)
{
    auto fail = [&](const QString &what) {
        *error = QStringLiteral("%1: %2").arg(name(), what);
        return false;
    };
    // A read server that is no standby would be read while writes go
    // elsewhere: refused. One that is away is read once it is back.
    if (m_standby) {
        QString why;
        if (PGconn *standby = m_standby->acquire(&why))
            m_standby->release(standby);
        else if (m_standby->isNotStandby())
            return fail(why);
    }
    PGconn *connection = acquire(error);
    if (!connection)
        return false;
    struct Give
    {
        const PostgresCatalogue *catalogue;
        PGconn *connection;
        ~Give() { catalogue->release(connection); }
    } give { this, connection };
    QString why;
    Rows rows;
    // One gateway at a time looks and, for an empty database, creates.
    if (!run(connection, QStringLiteral("BEGIN"), {}, nullptr, &why)
        || !run(connection, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLock), {}, nullptr, &why)
        // The tables and views of the schema but an extension's own (PostGIS
        // puts spatial_ref_sys and two views there, made by a superuser).
        || !run(connection, QStringLiteral("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
                                           " WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')"
                                           " AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_class'::regclass"
                                           " AND d.objid = c.oid AND d.deptype = 'e') ORDER BY c.relname"),
                {}, &rows, &why)) {
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
        return fail(why);
    }
    QStringList tables;
    for (const auto &row : rows.rows)
        tables << QString::fromUtf8(row[0].value_or(QByteArray()));
    if (tables.contains(QLatin1String("catalogue_info"))) {
        Rows version;
        if (!run(connection, SharedSql::selectSchemaVersion, {},
                 &version, &why)
            || version.rows.empty()) {
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
            return fail(QStringLiteral("not a Harvix catalogue: it has no schema version"));
        }
        const int found = version.rows[0][0].value_or(QByteArray()).toInt();
        if (found > SchemaVersion) {
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
            return fail(QStringLiteral("written by a newer harvix-gateway (schema %1; this one reads schema %2)")
                            .arg(found).arg(SchemaVersion));
        }
        // What came later, under the same lock.
        if (found < 2
            && (!run(connection, QString::fromLatin1(claimValues), {}, nullptr, &why)
                || !run(connection, SharedSql::claimsTakeTheirEventsValues(), {}, nullptr, &why)
                || !run(connection, QString::fromLatin1(claimKept), {}, nullptr, &why)
                || !run(connection, QStringLiteral("UPDATE catalogue_info SET value = ? WHERE name = 'schema_version'"),
                        { QString::number(SchemaVersion) }, nullptr, &why))) {
            QString ignored;
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
            return fail(QStringLiteral("cannot be brought up to date (%1)").arg(why));
        }
        // A writer that stopped between its commit and noting it: its
        // changes are visible (another's in progress are not), so they
        // are noted as committed now.
        run(connection, QStringLiteral("UPDATE change_log SET committed = ? WHERE committed IS NULL"),
            { qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000) }, nullptr, &why);
        run(connection, QStringLiteral("COMMIT"), {}, nullptr, &why);
        return true;
    }
    if (!tables.isEmpty()) {
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
        return fail(QStringLiteral("not a Harvix catalogue: a database of another program (tables %1); it was left "
                                   "as it is").arg(tables.mid(0, 5).join(QStringLiteral(", "))));
    }
    for (const char *statement : schema) {
        if (!run(connection, QLatin1String(statement), {}, nullptr, &why)) {
            QString ignored;
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
            return fail(QStringLiteral("cannot be written (%1)").arg(why));
        }
    }
    if (!run(connection, SharedSql::insertSchemaVersion,
             { QString::number(SchemaVersion) }, nullptr, &why)
        || !run(connection, QStringLiteral("COMMIT"), {}, nullptr, &why)) {
        QString ignored;
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
        return fail(QStringLiteral("cannot be written (%1)").arg(why));
    }
    return true;
}
