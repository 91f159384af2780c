#pragma once

// What the PostgreSQL catalogue says to libpq and reads back: a statement's
// values as text, results owned until they go, rows as text; and what its
// messages may say of a database.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <vector>

namespace PgStatement {

// A result of libpq's, cleared when it goes.
struct ResultClear
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

// Keys of the advisory locks that make one gateway at a time create the
// schema, and copy from upstreams.
constexpr long long SchemaLock = 0x4852565831LL;
constexpr long long SyncLockKey = 0x4852565832LL;

// The connection's last error, in one line.
QString serverWords(const PGconn *connection);
// A value as the text libpq binds: numbers in full.
QByteArray textOf(const QVariant &value);

// A statement's values as libpq takes them: text, or null for NULL.
class Parameters
{
public:
    explicit Parameters(const QVariantList &values);
    int count() const { return int(m_pointers.size()); }
    const char *const *values() const { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_texts;
    std::vector<const char *> m_pointers;
};

// A row of a result as text, nothing for NULL.
std::vector<std::optional<QByteArray>> rowOf(const PGresult *result, int row);
std::optional<double> numberOf(const std::optional<QByteArray> &text);

// What a message may say of a database: its user, hosts and ports, and
// name, read as libpq reads the URI; never a password, nor any other
// parameter, whatever the URI's form.
QString shown(const QString &uri);
// A line of the gateway's log, as its commands write them.
void say(const QString &line);

} // namespace PgStatement
