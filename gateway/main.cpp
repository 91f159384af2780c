// harvix-gateway: a quake search service for Harvix, answering from a local
// catalogue of GeoNet's events.

#include "catalogue/catalogue.h"
#include "catalogueimport.h"
#include "defaultcatalogue.h"
#include "http/gatewayserver.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

const char *const usage =
    "usage: harvix-gateway serve [--catalogue FILE] [--listen ADDRESS:PORT]\n"
    "       harvix-gateway import [--catalogue FILE] FILE...\n"
    "       harvix-gateway --help | --version\n"
    "\n"
    "serve    answers Harvix's searches and event pages from the catalogue until\n"
    "         SIGINT or SIGTERM; by default on 127.0.0.1:8470 (loopback only)\n"
    "import   reads catalogue files into the catalogue, one transaction a file:\n"
    "         GeoNet's quake search CSV, MLNZ20 and moment-tensor CSVs, FDSN event\n"
    "         text and QuakeML 1.2, told apart by their content\n"
    "\n"
    "--catalogue FILE   the catalogue to use; created empty when it does not exist.\n"
    "                   Without it: $XDG_DATA_HOME/harvix/catalogue.sqlite, made\n"
    "                   from GeoNet's catalogue files on first use.\n"
    "--listen ADDRESS:PORT   where to serve, for example 127.0.0.1:8470 or [::1]:8470\n";

constexpr int UsageError = 2;

void say(const QString &text)
{
    std::fprintf(stderr, "harvix-gateway: %s\n", qPrintable(text));
}

int usageError(const QString &text)
{
    say(text + QStringLiteral(" (see harvix-gateway --help)"));
    return UsageError;
}

struct Options
{
    QString catalogue;
    QString listen = QStringLiteral("127.0.0.1:8470");
    QStringList files;
};

// Reads the options of a command; an empty result means success.
QString parseOptions(const QStringList &args, bool takesFiles, bool takesListen, Options &options)
{
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        QString value;
        const qsizetype eq = arg.indexOf(u'=');
        if (arg.startsWith(QLatin1String("--")) && eq > 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
        }
        const bool isCatalogue = arg == QLatin1String("--catalogue");
        const bool isListen = takesListen && arg == QLatin1String("--listen");
        if (isCatalogue || isListen) {
            if (eq < 0) {
                if (i + 1 >= args.size())
                    return QStringLiteral("%1 needs a value").arg(arg);
                value = args.at(++i);
            }
            (isCatalogue ? options.catalogue : options.listen) = value;
        } else if (arg == QLatin1String("--")) {
            options.files += args.mid(i + 1);
            break;
        } else if (arg.startsWith(u'-')) {
            return QStringLiteral("unknown option '%1'").arg(args.at(i));
        } else if (takesFiles) {
            options.files << arg;
        } else {
            return QStringLiteral("unexpected argument '%1'").arg(arg);
        }
    }
    return QString();
}

bool splitAddress(const QString &address, QString &host, int &port)
{
    const qsizetype colon = address.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    host = address.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    port = address.mid(colon + 1).toInt(&ok);
    return ok && port >= 0 && port <= 65535 && !host.isEmpty();
}

// The named catalogue, or the default one, made from GeoNet's files when
// it does not exist yet.
bool openCatalogue(Catalogue &catalogue, bool isDefault)
{
    QString error;
    if (isDefault && !QFileInfo::exists(catalogue.path())) {
        say(QStringLiteral("making the catalogue %1 from GeoNet's catalogue files").arg(catalogue.path()));
        const bool made = DefaultCatalogue::create(catalogue.path(), [](const ImportReport &report) {
            say(QStringLiteral("%1: %2").arg(QFileInfo(report.file).fileName(), report.summary()));
        }, &error);
        if (!made) {
            say(error);
            return false;
        }
    }
    if (!catalogue.open(&error)) {
        say(error);
        return false;
    }
    return true;
}

// A bar on a terminal; nothing otherwise (the summary line follows anyway).
class ProgressBar
{
public:
    explicit ProgressBar(const QString &name) : m_name(name), m_shown(isatty(STDERR_FILENO)) {}
    ~ProgressBar()
    {
        if (m_shown && m_drawn)
            std::fprintf(stderr, "\r\033[K");
    }

    void update(qint64 done, qint64 total)
    {
        if (!m_shown || total <= 0)
            return;
        const int width = 30;
        const int filled = int(done * width / total);
        std::fprintf(stderr, "\r[%s%s] %3d%% %s", QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, '.').constData(), int(done * 100 / total),
                     qPrintable(m_name));
        m_drawn = true;
    }

private:
    QString m_name;
    bool m_shown;
    bool m_drawn = false;
};

int import(const Options &options)
{
    if (options.files.isEmpty())
        return usageError(QStringLiteral("import needs at least one file"));
    for (const QString &file : options.files) {
        if (!QFileInfo(file).isFile())
            return usageError(QStringLiteral("no such file: %1").arg(file));
    }
    Catalogue catalogue(options.catalogue.isEmpty() ? DefaultCatalogue::path() : options.catalogue);
    if (!openCatalogue(catalogue, options.catalogue.isEmpty()))
        return 1;

    int status = 0;
    for (const QString &file : options.files) {
        ImportReport report;
        {
            ProgressBar bar(QFileInfo(file).fileName());
            report = CatalogueImport::importFile(catalogue, file, [&bar](qint64 done, qint64 total) {
                bar.update(done, total);
            });
        }
        if (report.failed()) {
            say(report.error + QStringLiteral("; nothing of it was imported"));
            status = 1;
        } else {
            say(QStringLiteral("%1: %2 (%3)").arg(file, report.summary(), report.format));
        }
    }
    return status;
}

int serve(const Options &options)
{
    QString host;
    int port = 0;
    if (!splitAddress(options.listen, host, port))
        return usageError(QStringLiteral("--listen takes ADDRESS:PORT, not '%1'").arg(options.listen));
    Catalogue catalogue(options.catalogue.isEmpty() ? DefaultCatalogue::path() : options.catalogue);
    if (!openCatalogue(catalogue, options.catalogue.isEmpty()))
        return 1;

    // SIGINT and SIGTERM are taken by one thread of their own, which stops
    // the server; every other thread, the workers included, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    GatewayServer server(catalogue);
    QString error;
    if (!server.bind(host, port, &error)) {
        say(error);
        return 1;
    }
    say(QStringLiteral("serving http://%1:%2/ from %3 (%4 events)")
            .arg(host.contains(u':') ? u'[' + host + u']' : host)
            .arg(server.port())
            .arg(catalogue.path())
            .arg(catalogue.eventCount()));

    std::atomic<bool> stopping { false };
    std::thread stopper([&server, &stopping, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stopping = true;
        server.stop();
    });
    const bool ran = server.run();
    if (!stopping)
        pthread_kill(stopper.native_handle(), SIGTERM); // the server ended by itself
    stopper.join();
    say(QStringLiteral("stopped"));
    return ran ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("harvix-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HARVIX_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("a command is needed"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        std::printf("harvix-gateway %s\n", HARVIX_VERSION);
        return 0;
    }
    const bool isServe = command == QLatin1String("serve");
    if (!isServe && command != QLatin1String("import"))
        return usageError(command.startsWith(u'-') ? QStringLiteral("unknown option '%1'").arg(command)
                                                   : QStringLiteral("unknown command '%1'").arg(command));
    Options options;
    const QString error = parseOptions(args, !isServe, isServe, options);
    if (!error.isEmpty())
        return usageError(error);
    return isServe ? serve(options) : import(options);
}
