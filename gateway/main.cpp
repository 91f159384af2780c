// harvix-gateway: a quake search service for Harvix, answering from a local
// catalogue of GeoNet's events.

#include "catalogue/catalogue.h"
#include "catalogueimport.h"
#include "defaultcatalogue.h"
#include "formats/fieldparsing.h"
#include "http/gatewayserver.h"
#include "upstream/upstream.h"
#include "upstreamsync.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

const char *const usage =
    "usage: harvix-gateway serve [--catalogue FILE] [--listen ADDRESS:PORT] [--write-timeout SECONDS]\n"
    "                            [--upstream URL]\n"
    "                            [--refresh-after MINUTES] [--upstream-timeout SECONDS]\n"
    "                            [--upstream-format text|xml]\n"
    "       harvix-gateway import [--catalogue FILE] [--replace] FILE...\n"
    "       harvix-gateway sync [--catalogue FILE] --upstream URL --from DATE [--to DATE]\n"
    "                           [--min-magnitude M] [--updated-after TIME | --refetch]\n"
    "                           [--upstream-timeout SECONDS] [--upstream-format text|xml]\n"
    "       harvix-gateway --help | --version\n"
    "\n"
    "serve    answers Harvix's searches and event pages from the catalogue until\n"
    "         SIGINT or SIGTERM; by default on 127.0.0.1:8470 (loopback only).\n"
    "         With an upstream, each search first copies its window from there.\n"
    "import   reads catalogue files into the catalogue, one transaction a file:\n"
    "         GeoNet's quake search CSV, MLNZ20 and moment-tensor CSVs, FDSN event\n"
    "         text and QuakeML 1.2, told apart by their content, also gzip-compressed\n"
    "sync     copies a long range from an upstream, a week at a time; a second\n"
    "         run goes on where an interrupted one stopped\n"
    "\n"
    "--catalogue FILE   the catalogue to use; created empty when it does not exist.\n"
    "                   Without it: $XDG_DATA_HOME/harvix/catalogue.sqlite, made\n"
    "                   from GeoNet's catalogue files on first use.\n"
    "--listen ADDRESS:PORT   where to serve, for example 127.0.0.1:8470 or [::1]:8470\n"
    "--write-timeout SECONDS   a client that takes no data for this long is dropped (30)\n"
    "--workers N        requests served at once (1 to 256); an open keep-alive connection\n"
    "                   holds one (32)\n"
    "--upstream URL     GeoNet's quake search (https://quakesearch.geonet.org.nz/) or\n"
    "                   an FDSN event service, a URL ending in fdsnws/event/1/\n"
    "--refresh-after MINUTES   windows fetched this recently are not fetched again (5)\n"
    "--upstream-timeout SECONDS   a request to the upstream that makes no progress\n"
    "                   for this long fails; a search starts no new piece of its\n"
    "                   window after this long, and answers from the catalogue (20)\n"
    "--upstream-format text|xml   what to ask an FDSN service for (text)\n"
    "--from, --to DATE  the range of a sync, YYYY-MM-DD or an ISO 8601 time, UTC;\n"
    "                   --to defaults to now\n"
    "--min-magnitude M  copy only events of this magnitude or more\n"
    "--updated-after TIME   ask every week, done before or not, for what the\n"
    "                   upstream changed after TIME, and apply it\n"
    "--refetch          fetch weeks done before again, whole, and remove the events\n"
    "                   that the upstream no longer holds\n"
    "--replace          first remove what earlier imports of a file of the same name\n"
    "                   stored, so that a file read again leaves no stale events\n";

constexpr int UsageError = 2;
// Each worker is a thread; more than this only wastes them.
constexpr int MaximumWorkers = 256;

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
    QStringList files;
    QMap<QString, QString> values;   // option to its value
    QStringList flags;               // options without a value that were given

    QString value(const char *option, const QString &fallback = QString()) const
    {
        return values.value(QLatin1String(option), fallback);
    }
};

// Reads the options that a command takes; an empty result means success.
QString parseOptions(const QStringList &args, const QStringList &known, const QStringList &knownFlags,
                     bool takesFiles, Options &options)
{
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        if (knownFlags.contains(arg)) {
            options.flags << arg;
            continue;
        }
        QString value;
        const qsizetype eq = arg.indexOf(u'=');
        if (arg.startsWith(QLatin1String("--")) && eq > 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
        }
        if (known.contains(arg)) {
            if (eq < 0) {
                if (i + 1 >= args.size())
                    return QStringLiteral("%1 needs a value").arg(arg);
                value = args.at(++i);
            }
            options.values.insert(arg, value);
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

// A whole number of at least minimum for an option, or an error.
QString positiveOption(const Options &options, const char *option, int fallback, int minimum, int &value)
{
    bool ok = true;
    value = options.values.contains(QLatin1String(option)) ? options.value(option).toInt(&ok) : fallback;
    if (!ok || value < minimum)
        return QStringLiteral("%1 takes a whole number of at least %2").arg(QLatin1String(option)).arg(minimum);
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

// The catalogue that the options name, or the default one, made from
// GeoNet's files when it does not exist yet. A command that writes to it
// says what it would do, and a read-only catalogue is refused with that.
bool openCatalogue(Catalogue &catalogue, const Options &options, const char *writing = nullptr)
{
    QString error;
    const bool isDefault = !options.values.contains(QStringLiteral("--catalogue"));
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
    if (writing && catalogue.isReadOnly()) {
        say(QStringLiteral("%1 is read-only: nothing can be %2 into it").arg(catalogue.path(), QLatin1String(writing)));
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

QString cataloguePath(const Options &options)
{
    return options.value("--catalogue", DefaultCatalogue::path());
}

// The upstream of --upstream, with --upstream-timeout and --upstream-format.
QString upstreamOf(const Options &options, std::unique_ptr<Upstream> &upstream)
{
    Upstream::Options settings;
    if (const QString error = positiveOption(options, "--upstream-timeout", 20, 1, settings.timeoutSeconds);
        !error.isEmpty())
        return error;
    const QString format = options.value("--upstream-format", QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("xml"))
        return QStringLiteral("--upstream-format takes text or xml, not '%1'").arg(format);
    settings.fdsnXml = format == QLatin1String("xml");
    QString error;
    upstream = Upstream::forUrl(options.value("--upstream"), settings, &error);
    return error;
}

int import(const Options &options)
{
    if (options.files.isEmpty())
        return usageError(QStringLiteral("import needs at least one file"));
    for (const QString &file : options.files) {
        if (!QFileInfo(file).isFile())
            return usageError(QStringLiteral("no such file: %1").arg(file));
    }
    Catalogue catalogue(cataloguePath(options));
    if (!openCatalogue(catalogue, options, "imported"))
        return 1;

    int status = 0;
    for (const QString &file : options.files) {
        ImportReport report;
        {
            ProgressBar bar(QFileInfo(file).fileName());
            report = CatalogueImport::importFile(catalogue, file, [&bar](qint64 done, qint64 total) {
                bar.update(done, total);
            }, options.flags.contains(QStringLiteral("--replace")));
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

std::optional<std::int64_t> timeOption(const QString &text)
{
    if (text.size() == 10) {
        const auto days = FieldParsing::isoTime(text + QStringLiteral("T00:00:00Z"));
        return days;
    }
    return FieldParsing::isoTime(text);
}

int sync(const Options &options)
{
    if (!options.values.contains(QStringLiteral("--upstream")))
        return usageError(QStringLiteral("sync needs --upstream URL"));
    std::unique_ptr<Upstream> upstream;
    if (const QString error = upstreamOf(options, upstream); !error.isEmpty())
        return usageError(error);
    UpstreamWindow range;
    const auto from = timeOption(options.value("--from"));
    if (!from)
        return usageError(QStringLiteral("sync needs --from DATE, written YYYY-MM-DD or as an ISO 8601 time"));
    const QString toText = options.value("--to");
    const auto to = toText.isEmpty() ? std::optional<std::int64_t>(QDateTime::currentMSecsSinceEpoch() * 1000)
                                     : timeOption(toText);
    if (!to || *to <= *from)
        return usageError(QStringLiteral("--to must be a date or time after --from"));
    range.startUs = *from;
    range.endUs = to == std::nullopt ? 0 : *to + (toText.size() == 10 ? std::int64_t(86400) * 1000000 : 0);
    if (options.values.contains(QStringLiteral("--min-magnitude"))) {
        range.minMagnitude = FieldParsing::number(options.value("--min-magnitude"));
        if (!range.minMagnitude)
            return usageError(QStringLiteral("--min-magnitude takes a number"));
    }
    const bool refetch = options.flags.contains(QStringLiteral("--refetch"));
    if (refetch && options.values.contains(QStringLiteral("--updated-after")))
        return usageError(QStringLiteral("--refetch fetches weeks whole, --updated-after only what changed: "
                                         "give one of them"));
    if (options.values.contains(QStringLiteral("--updated-after"))) {
        range.updatedAfterUs = timeOption(options.value("--updated-after"));
        if (!range.updatedAfterUs)
            return usageError(QStringLiteral("--updated-after takes a date or an ISO 8601 time"));
    }

    Catalogue catalogue(cataloguePath(options));
    if (!openCatalogue(catalogue, options, "copied"))
        return 1;
    const bool terminal = isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    qint64 fetchedBefore = 0;
    const UpstreamSync::Progress done = UpstreamSync::run(catalogue, *upstream, range,
                                                         [&](const UpstreamSync::Progress &p) {
        const double seconds = std::max(clock.elapsed() / 1000.0, 0.001);
        const int fetchedWindows = p.windowsDone - p.windowsSkipped;
        const qint64 events = p.added + p.updated;
        const double rate = events / seconds;
        const double left = fetchedWindows > 0 ? seconds / fetchedWindows * (p.windowsTotal - p.windowsDone) : 0;
        if (!p.error.isEmpty())
            return;
        if (terminal) {
            std::fprintf(stderr, "\r\033[K%d/%d windows, %lld events, %.0f events/s, %.0f s left",
                         p.windowsDone, p.windowsTotal, static_cast<long long>(events), rate, left);
        } else if (events != fetchedBefore || p.windowsDone == p.windowsTotal) {
            say(QStringLiteral("%1 to %2: %3 of %4 windows done, %5 events")
                    .arg(UpstreamTime::text(p.windowStartUs), UpstreamTime::text(p.windowEndUs))
                    .arg(p.windowsDone).arg(p.windowsTotal).arg(events));
        }
        fetchedBefore = events;
    }, refetch ? UpstreamSync::Mode::Again : UpstreamSync::Mode::Resume);
    if (terminal)
        std::fprintf(stderr, "\r\033[K");
    if (!done.error.isEmpty()) {
        say(QStringLiteral("the window %1 to %2 failed: %3; run the same sync again to go on from there")
                .arg(UpstreamTime::text(done.windowStartUs), UpstreamTime::text(done.windowEndUs), done.error));
        return 1;
    }
    say(QStringLiteral("%1 windows (%2 done before): %3 events added, %4 updated, %5 removed, %6 skipped, in %7 s")
            .arg(done.windowsTotal).arg(done.windowsSkipped).arg(done.added).arg(done.updated)
            .arg(done.removed).arg(done.skipped).arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    return 0;
}

int serve(const Options &options)
{
    QString host;
    int port = 0;
    const QString listen = options.value("--listen", QStringLiteral("127.0.0.1:8470"));
    if (!splitAddress(listen, host, port))
        return usageError(QStringLiteral("--listen takes ADDRESS:PORT, not '%1'").arg(listen));
    GatewayServer::Limits limits;
    if (const QString error = positiveOption(options, "--write-timeout", limits.writeTimeoutSeconds, 1,
                                             limits.writeTimeoutSeconds);
        !error.isEmpty())
        return usageError(error);
    if (const QString error = positiveOption(options, "--workers", limits.workers, 1, limits.workers); !error.isEmpty())
        return usageError(error);
    if (limits.workers > MaximumWorkers)
        return usageError(QStringLiteral("--workers takes a whole number from 1 to %1").arg(MaximumWorkers));
    // Options of the upstream mean nothing without one: a mistake, said so.
    const bool hasUpstream = options.values.contains(QStringLiteral("--upstream"));
    for (const char *option : { "--refresh-after", "--upstream-timeout", "--upstream-format" }) {
        if (!hasUpstream && options.values.contains(QLatin1String(option)))
            return usageError(QStringLiteral("%1 needs --upstream URL").arg(QLatin1String(option)));
    }
    std::unique_ptr<Upstream> upstream;
    int refreshAfter = 5;
    if (hasUpstream) {
        if (const QString error = upstreamOf(options, upstream); !error.isEmpty())
            return usageError(error);
        if (const QString error = positiveOption(options, "--refresh-after", 5, 0, refreshAfter); !error.isEmpty())
            return usageError(error);
    }
    Catalogue catalogue(cataloguePath(options));
    if (!openCatalogue(catalogue, options))
        return 1;

    // SIGINT and SIGTERM are taken by one thread of their own, which stops
    // the server; every other thread, the workers included, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    GatewayServer server(catalogue, limits);
    if (upstream)
        server.setUpstream(upstream.get(), refreshAfter, upstream->timeoutSeconds());
    QString error;
    // Under systemd's socket activation the socket comes ready-made.
    const int passed = sd_listen_fds(1);
    if (passed > 1) {
        say(QStringLiteral("%1 sockets were passed; harvix-gateway serves on one").arg(passed));
        return 1;
    }
    if (passed == 1 ? !server.adopt(SD_LISTEN_FDS_START, &error) : !server.bind(host, port, &error)) {
        say(error);
        return 1;
    }
    if (!server.startWorkers(&error)) {
        say(error);
        return 1;
    }
    host = server.host();
    say(QStringLiteral("serving http://%1:%2/ from %3 (%4 events)%5")
            .arg(host.contains(u':') ? u'[' + host + u']' : host)
            .arg(server.port())
            .arg(catalogue.path())
            .arg(catalogue.eventCount())
            .arg(upstream ? QStringLiteral(", copying from ") + upstream->url().toString() : QString()));

    // The first signal lets the replies in progress finish (for a minute at
    // most); a second one stops at once.
    std::atomic<bool> stopping { false };
    std::thread stopper;
    try {
        stopper = std::thread([&server, &stopping, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            stopping = true;
            server.beginStopping();
            if (const int replies = server.repliesInProgress(); replies > 0)
                say(QStringLiteral("finishing %1 %2; a second SIGINT or SIGTERM stops at once")
                        .arg(replies).arg(replies == 1 ? "reply" : "replies"));
            const timespec tick { 0, 100 * 1000 * 1000 };
            for (int waited = 0; server.repliesInProgress() > 0 && waited < 600; ++waited) {
                if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
                    // A worker may be blocked on a client that reads nothing
                    // for as long as the write time-out; ending the process
                    // cuts every reply at once. The catalogue is written one
                    // transaction a piece, so nothing of it is lost.
                    say(QStringLiteral("stopping now: the replies in progress are cut"));
                    std::fflush(stderr);
                    std::_Exit(0);
                }
            }
            server.halt();
        });
    } catch (const std::system_error &failure) {
        say(QStringLiteral("cannot start: %1").arg(QString::fromLocal8Bit(failure.code().message().c_str())));
        return 1;
    }
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
    // A file-size limit makes a write fail, which the catalogue reports,
    // rather than end the process half-way.
    std::signal(SIGXFSZ, SIG_IGN);
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
    const QStringList upstreamOptions = { "--upstream", "--upstream-timeout", "--upstream-format" };
    const QMap<QString, QStringList> commandFlags = {
        { "import", { "--replace" } },
        { "sync", { "--refetch" } },
    };
    const QMap<QString, QStringList> commandOptions = {
        { "serve", QStringList { "--catalogue", "--listen", "--refresh-after", "--write-timeout", "--workers" } + upstreamOptions },
        { "import", { "--catalogue" } },
        { "sync", QStringList { "--catalogue", "--from", "--to", "--min-magnitude", "--updated-after" } + upstreamOptions },
    };
    if (!commandOptions.contains(command))
        return usageError(command.startsWith(u'-') ? QStringLiteral("unknown option '%1'").arg(command)
                                                   : QStringLiteral("unknown command '%1'").arg(command));
    Options options;
    const QString error = parseOptions(args, commandOptions.value(command), commandFlags.value(command),
                                       command == QLatin1String("import"), options);
    if (!error.isEmpty())
        return usageError(error);
    if (command == QLatin1String("serve"))
        return serve(options);
    return command == QLatin1String("import") ? import(options) : sync(options);
}
