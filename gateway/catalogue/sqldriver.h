#pragma once

// What the catalogue asks of a database, whichever it is: a transaction on
// one connection that runs statements with "?" marks for their values and
// gives back their rows (a value each column, null for NULL) and how many
// rows they changed. SQLite's (through Qt SQL) and PostgreSQL's (through
// libpq) are the two.

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <vector>

struct SqlRows
{
    std::vector<QVariantList> rows;
    qint64 affected = 0;
};

class SqlTransaction
{
public:
    virtual ~SqlTransaction() = default;

    // Every call returns false on failure, with the reason in error().
    virtual bool begin() = 0;
    // One statement of the transaction; its rows and count when asked.
    virtual bool run(const QString &sql, const QVariantList &values, SqlRows *rows = nullptr) = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;
    // A statement after the commit, on its own, that nothing waits for:
    // should it be lost, nothing is.
    virtual void runAfterCommit(const QString &sql, const QVariantList &values) = 0;
    virtual QString error() const = 0;
    // Whether the transaction that failed may succeed if made again from
    // its start (the database chose it as a deadlock's victim).
    virtual bool mayRetry() const { return false; }
};
