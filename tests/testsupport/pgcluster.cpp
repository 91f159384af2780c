#include "testsupport/pgcluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <unistd.h>

namespace {

QString toolPath(const QString &tool)
{
    // Debian keeps the server's programs out of PATH.
    for (const char *folder : { "/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin", "/usr/bin" }) {
        const QString path = QLatin1String(folder) + u'/' + tool;
        if (QFile::exists(path))
            return path;
    }
    return tool;
}

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

PgCluster::~PgCluster()
{
    stop();
}

int PgCluster::runTool(const QString &tool, const QStringList &arguments, QString *output) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    if (geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList { QStringLiteral("-u"), QStringLiteral("postgres"),
                                                               QStringLiteral("--"), toolPath(tool) } + arguments);
    else
        process.start(toolPath(tool), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool PgCluster::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // The server's user owns the folder.
    if (geteuid() == 0 && QProcess::execute(QStringLiteral("chown"), { QStringLiteral("postgres"), m_dir.path() }) != 0) {
        *error = QStringLiteral("cannot give %1 to the user postgres").arg(m_dir.path());
        return false;
    }
    QString output;
    if (runTool(QStringLiteral("initdb"), { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-A"), QStringLiteral("trust"),
                                            QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                                            QStringLiteral("UTF8"), QStringLiteral("--locale=C") },
                &output) != 0) {
        *error = QStringLiteral("initdb failed: ") + output.right(400);
        return false;
    }
    m_port = freePort();
    return startServer(error);
}

bool PgCluster::startStandbyOf(const PgCluster &primary, QString *error)
{
    if (!m_dir.isValid()
        || (geteuid() == 0 && QProcess::execute(QStringLiteral("chown"), { QStringLiteral("postgres"), m_dir.path() }) != 0)) {
        *error = QStringLiteral("no folder for the standby");
        return false;
    }
    QString output;
    if (runTool(QStringLiteral("pg_basebackup"), { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                                   QString::number(primary.port()), QStringLiteral("-U"), QStringLiteral("postgres"),
                                                   QStringLiteral("-D"), dataDirectory(), QStringLiteral("-R"),
                                                   QStringLiteral("-X"), QStringLiteral("stream"), QStringLiteral("-c"),
                                                   QStringLiteral("fast") },
                &output) != 0) {
        *error = QStringLiteral("pg_basebackup failed: ") + output.right(400);
        return false;
    }
    m_port = freePort();
    return startServer(error);
}

bool PgCluster::restart(QString *error)
{
    stop();
    return startServer(error);
}

bool PgCluster::startServer(QString *error)
{
    QString output;
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200"
                                           " -c wal_level=replica -c max_wal_senders=4")
                                .arg(m_port)
                                .arg(m_dir.path());
    if (runTool(QStringLiteral("pg_ctl"), { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-o"), options,
                                            QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")),
                                            QStringLiteral("-w"), QStringLiteral("start") },
                &output) != 0) {
        QFile log(m_dir.filePath(QStringLiteral("server.log")));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("the server did not start: ") + output.right(300) + u' '
            + QString::fromLocal8Bit(log.readAll()).right(400);
        return false;
    }
    m_running = true;
    return true;
}

QString PgCluster::uri(const QString &database) const
{
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(m_port).arg(database);
}

QString PgCluster::createDatabase(const QString &name, QString *error)
{
    QString output;
    if (runTool(QStringLiteral("createdb"), { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                              QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"), name },
                &output) != 0) {
        *error = QStringLiteral("createdb failed: ") + output;
        return QString();
    }
    return uri(name);
}

int PgCluster::psql(const QString &database, const QString &sql, QString *output) const
{
    return runTool(QStringLiteral("psql"), { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                             QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"),
                                             QStringLiteral("-d"), database, QStringLiteral("-At"), QStringLiteral("-c"), sql },
                   output);
}

qint64 PgCluster::serverPid() const
{
    QFile pid(dataDirectory() + QStringLiteral("/postmaster.pid"));
    return pid.open(QIODevice::ReadOnly) ? pid.readLine().trimmed().toLongLong() : 0;
}

void PgCluster::stop()
{
    if (!m_running)
        return;
    QString output;
    runTool(QStringLiteral("pg_ctl"), { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-m"), QStringLiteral("immediate"),
                                        QStringLiteral("-w"), QStringLiteral("stop") },
            &output);
    m_running = false;
}
