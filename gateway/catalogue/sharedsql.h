#pragma once

// The SQL that every catalogue database runs alike, kept to what SQLite
// and PostgreSQL both take, with "?" marks for its values.

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <cstdint>
#include <optional>

struct UpstreamWindow;

namespace SharedSql {

// Statements every catalogue runs as they are.
// Each source's events: how many, the first and the last origin time.
extern const QString sourceSummary;
// An event its source wrote last, once no claim is left.
extern const QString deleteUnclaimedEvent;
// Every event a source wrote last.
extern const QString deleteSourceEvents;
// A source's claim of an event.
extern const QString deleteClaim;
// Every claim of a source.
extern const QString deleteSourceClaims;
// The schema version of a new catalogue.
extern const QString insertSchemaVersion;
// The schema version.
extern const QString selectSchemaVersion;
// A transaction stamped, not committed yet.
extern const QString openChange;
// A transaction's stamp committed at a time.
extern const QString closeChange;
// When the catalogue last changed: its latest row, or its latest removal.
extern const QString lastModified;
// How many events.
extern const QString countEvents;
// When an upstream was last copied from.
extern const QString lastFetched;
// The first and the last origin time.
extern const QString timeRange;
// The order of a search's events: by time, then magnitude (none first),
// then id.
extern const QString searchOrder;
// The columns of an event, in the order in which rows are read.
extern const QString eventColumns;
// One event by its id ("?").
QString findEvent();

struct Statement
{
    QString sql;
    QVariantList values;
};

// An event that other sources hold too passes to the one that claimed it
// most recently.
QString latestClaim();
extern const QLatin1String anyClaim;

// A source lets go of an event it wrote last ("?" for the stamp, the id and
// the source): it passes to the source that claimed it most recently, if
// any, with the values that source wrote.
QString handOver();
// The same for every event of a source ("?" for the stamp and the source).
QString handOverAll();
// Claims made before they kept values take their event's, as a hand-over
// gave them then.
QString claimsTakeTheirEventsValues();
// What the trigger event_claim_kept does when a source writes over
// another's event (OLD and NEW the row before and after): the other keeps
// its claim, with its values, and the writer's own claim goes.
QByteArray claimKeptStatements();

// The events of a source inside a window that a transaction (stamped
// stamp) has not written: public_id, origin_time, latitude, longitude,
// depth, in time order; the caller tests the region exactly.
Statement unseen(const UpstreamWindow &window, const QString &source, std::int64_t stamp);
// A window of an upstream recorded as fetched now.
Statement recordFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t nowUs);
// How many records of fetched windows cover the window since a time.
Statement countFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs);

// A value as bound to a statement: nothing (NULL) for none, and for an
// empty text, as the catalogue stores "unknown".
template <typename T>
QVariant orNull(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}
inline QVariant orNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// Longitudes are stored within (-180, 180], so that a box needs to know of
// one meridian only.
std::optional<double> storedLongitude(std::optional<double> longitude);

// "INSERT INTO table (columns) VALUES (?, ...)", and every row of a table
// in a fixed order, for moving a catalogue.
QString insertRow(const QString &table, const QStringList &columns);
QString selectTable(const QString &table, const QStringList &columns);

// A stamp for a writer's transaction, later than any given before in this
// process, so that its rows are told apart from all others.
std::int64_t nextStamp();

} // namespace SharedSql
