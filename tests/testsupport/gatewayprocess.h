#pragma once

// Runs the real harvix-gateway for a test: import into a catalogue of the
// test's own, or serve it on a free loopback port, with the environment
// pointed at a temporary data folder so that nothing of the user's is
// touched. HTTP requests go through Qt's own client.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

class GatewayProcess
{
public:
    GatewayProcess();
    ~GatewayProcess();

    QString catalogue() const { return m_dir.filePath(QStringLiteral("catalogue.sqlite")); }
    QString dataHome() const { return m_dir.filePath(QStringLiteral("data")); }
    QString writeFile(const QString &name, const QByteArray &content) const;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Runs in each child before the gateway starts: a resource limit, a user.
    void setChildSetup(std::function<void()> setup) { m_childSetup = std::move(setup); }
    // Runs a copy of the gateway from this test's folder, for a child that
    // runs as another user who may not reach the build tree.
    bool useCopyOfProgram();

    struct Result
    {
        int exitCode = -1;
        QString output;   // standard error and output together
    };
    // Runs a command to its end, e.g. { "import", "--catalogue", ..., file }.
    Result run(const QStringList &arguments, int timeoutMs = 120000) const;

    // Starts serving (on 127.0.0.1 and a free port unless args name one)
    // and waits until it answers. Extra arguments follow "serve".
    bool start(const QStringList &arguments = {});
    bool stop(int signal, int timeoutMs = 30000);   // true when it exited 0
    QProcess &process() { return m_process; }
    QString log() const;
    QUrl url(const QString &pathAndQuery) const;
    int port() const { return m_port; }

    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
        QMap<QByteArray, QByteArray> headers;   // names in lower case
    };
    static Reply get(const QUrl &url, const QByteArray &method = "GET");

private:
    QTemporaryDir m_dir;
    QString m_program = QStringLiteral(HARVIX_GATEWAY);
    std::function<void()> m_childSetup;
    QProcess m_process;
    QByteArray m_log;
    int m_port = 0;
};
