#pragma once

// A throw-away PostgreSQL server for a test: initdb in a temporary folder,
// started on a free loopback port with trust authentication, stopped and
// removed at the end. The server refuses to run as root, so as root it
// runs as the user "postgres" (Debian's packages make it).

#include <QString>
#include <QTemporaryDir>

class PgCluster
{
public:
    PgCluster() = default;
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // False with the reason.
    bool start(QString *error);
    // A hot standby of another cluster, kept by streaming replication:
    // pg_basebackup of it, started on a port of its own.
    bool startStandbyOf(const PgCluster &primary, QString *error);
    // A new empty database, and its URI.
    QString createDatabase(const QString &name, QString *error);
    QString uri(const QString &database) const;
    int port() const { return m_port; }
    // The folder the cluster's files are in, and its server's process.
    QString dataDirectory() const { return m_dir.filePath(QStringLiteral("data")); }
    qint64 serverPid() const;
    // Stops at once (as a crash would leave it), and starts again on the
    // same port.
    void stop();
    bool restart(QString *error);

    // One SQL statement through psql on a database: its exit status, and
    // what it printed (rows unaligned, bare).
    int psql(const QString &database, const QString &sql, QString *output) const;
    // Runs one of PostgreSQL's programs (initdb, pg_ctl, psql...) as the
    // server's user; its exit status, with its output.
    int runTool(const QString &tool, const QStringList &arguments, QString *output) const;

private:
    QTemporaryDir m_dir { QStringLiteral("/tmp/harvix-pg-XXXXXX") };
    bool startServer(QString *error);

    int m_port = 0;
    bool m_running = false;
};
