#include "testsupport/gatewayprocess.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>

namespace {

QProcessEnvironment environmentFor(const QString &dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("TZ"), QStringLiteral("Pacific/Auckland"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return env;
}

} // namespace

GatewayProcess::GatewayProcess()
{
    m_process.setProgram(QStringLiteral(HARVIX_GATEWAY));
    m_process.setProcessEnvironment(environmentFor(dataHome()));
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
        m_log += m_process.readAllStandardError();
    });
}

GatewayProcess::~GatewayProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString GatewayProcess::writeFile(const QString &name, const QByteArray &content) const
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

GatewayProcess::Result GatewayProcess::run(const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(environmentFor(dataHome()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_childSetup)
        process.setChildProcessModifier(m_childSetup);
    process.start(m_program, arguments);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("(did not finish)");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

bool GatewayProcess::start(const QStringList &arguments)
{
    QStringList args = { QStringLiteral("serve") };
    if (!arguments.contains(QStringLiteral("--listen")))
        args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    m_process.setArguments(args + arguments);
    m_log.clear();   // the log of this run only, also when serving again
    if (m_childSetup)
        m_process.setChildProcessModifier(m_childSetup);
    m_process.start();
    static const QRegularExpression serving(QStringLiteral("serving http://[^:]+:(\\d+)/"));
    QEventLoop loop;
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &loop, [&] {
        if (serving.match(QString::fromUtf8(m_log)).hasMatch())
            loop.quit();
    });
    QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QRegularExpressionMatch match = serving.match(QString::fromUtf8(m_log));
    m_port = match.hasMatch() ? match.captured(1).toInt() : 0;
    return m_port > 0;
}

bool GatewayProcess::stop(int signal, int timeoutMs)
{
    // A pid of 0 would be the test's own process group.
    if (m_process.state() == QProcess::Running && m_process.processId() > 0)
        ::kill(pid_t(m_process.processId()), signal);
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    m_log += m_process.readAllStandardError();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool GatewayProcess::useCopyOfProgram()
{
    // The copy lies in this process's own folder, which the test may open
    // to other users; the build tree may be inside a folder that is not.
    const QString copy = path(QStringLiteral("harvix-gateway"));
    if (!QFile::copy(QStringLiteral(HARVIX_GATEWAY), copy))
        return false;
    m_program = copy;
    m_process.setProgram(copy);
    return QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                           | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
}

QString GatewayProcess::log() const
{
    return QString::fromUtf8(m_log);
}

QUrl GatewayProcess::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
}

GatewayProcess::Reply GatewayProcess::get(const QUrl &url, const QByteArray &method)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.sendCustomRequest(QNetworkRequest(url), method);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    for (const QNetworkReply::RawHeaderPair &header : reply->rawHeaderPairs())
        result.headers.insert(header.first.toLower(), header.second);
    delete reply;
    return result;
}
