// harvix-gateway serve: Harvix's search protocol, the FDSN event service,
// event pages and a home page from the catalogue, until SIGINT or SIGTERM.

#include "commands/commandline.h"

#include "catalogue/catalogue.h"
#include "catalogue/postgrescatalogue.h"
#include "http/gatewayserver.h"
#include "upstream/follower.h"
#include "upstream/upstream.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <systemd/sd-daemon.h>

namespace CommandLine {

namespace {
// Each worker is a thread; more than this only wastes them.
constexpr int MaximumWorkers = 256;
// An upstream is not asked more often than this by --follow, nor less
// often than a day: each copy looks a week back.
constexpr int MinimumFollowSeconds = 10;
constexpr int MaximumFollowSeconds = 24 * 3600;

// What serve is asked to do, from its options.
struct Settings
{
    QString host;
    int port = 0;
    GatewayServer::Limits limits;
    std::unique_ptr<Upstream> upstream;
    int refreshAfter = 5;
    int followSeconds = 0;
};

// The options read, or false with what is wrong with them.
bool settingsOf(const Options &options, Settings &settings, QString *error)
{
    const QString listen = options.value("--listen", QStringLiteral("127.0.0.1:8470"));
    if (!splitAddress(listen, settings.host, settings.port)) {
        *error = QStringLiteral("--listen takes ADDRESS:PORT, not '%1'").arg(listen);
        return false;
    }
    GatewayServer::Limits &limits = settings.limits;
    if (!positiveOption(options, "--write-timeout", limits.writeTimeoutSeconds, 1, limits.writeTimeoutSeconds, error)
        || !positiveOption(options, "--workers", limits.workers, 1, limits.workers, error))
        return false;
    if (options.values.contains(QStringLiteral("--max-events"))) {
        int most = 0;
        if (!positiveOption(options, "--max-events", 0, 1, most, error))
            return false;
        limits.maxEvents = most;
    }
    if (limits.workers > MaximumWorkers) {
        *error = QStringLiteral("--workers takes a whole number from 1 to %1").arg(MaximumWorkers);
        return false;
    }
    // Options of the upstream mean nothing without one: a mistake, said so.
    const bool hasUpstream = options.values.contains(QStringLiteral("--upstream"));
    for (const char *option : { "--refresh-after", "--upstream-timeout", "--upstream-format", "--follow" }) {
        if (!hasUpstream && options.values.contains(QLatin1String(option))) {
            *error = QStringLiteral("%1 needs --upstream URL").arg(QLatin1String(option));
            return false;
        }
    }
    if (hasUpstream
        && (!upstreamOf(options, settings.upstream, error)
            || !positiveOption(options, "--refresh-after", 5, 0, settings.refreshAfter, error)))
        return false;
    if (options.values.contains(QStringLiteral("--follow"))
        && !positiveOption(options, "--follow", 0, MinimumFollowSeconds, settings.followSeconds, error, MaximumFollowSeconds))
        return false;
    const QString reads = options.value("--catalogue-read");
    if (!reads.isEmpty()
        && (!PostgresCatalogue::isDatabaseUri(reads) || !PostgresCatalogue::isDatabaseUri(cataloguePath(options)))) {
        *error = QStringLiteral("--catalogue-read takes a postgresql:// URI, beside a --catalogue that is one");
        return false;
    }
    return true;
}

// The socket systemd passed, or the address asked for; false, said why.
bool startServing(HttpTransport &server, const Settings &settings)
{
    QString error;
    // Under systemd's socket activation the socket comes ready-made.
    const int passed = sd_listen_fds(1);
    if (passed > 1) {
        say(QStringLiteral("%1 sockets were passed; harvix-gateway serves on one").arg(passed));
        return false;
    }
    if (passed == 1 ? !server.adopt(SD_LISTEN_FDS_START, &error) : !server.bind(settings.host, settings.port, &error)) {
        say(error);
        return false;
    }
    if (!server.startWorkers(&error)) {
        say(error);
        return false;
    }
    return true;
}

// The first signal lets the replies in progress finish (for a minute at
// most); a second one stops at once.
void stopOnSignals(HttpTransport &server, std::atomic<bool> &stopping, const sigset_t &stopSignals)
{
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
            // A worker may be blocked on a client that reads nothing for as
            // long as the write time-out; ending the process cuts every
            // reply at once. The catalogue is written one transaction a
            // piece, so nothing of it is lost.
            say(QStringLiteral("stopping now: the replies in progress are cut"));
            std::fflush(stderr);
            std::_Exit(0);
        }
    }
    server.halt();
}

} // namespace

int serve(const Options &options)
{
    Settings settings;
    QString error;
    if (!settingsOf(options, settings, &error))
        return usageError(error);
    const std::unique_ptr<Catalogue> opened = openCatalogue(options);
    if (!opened)
        return 1;
    const Catalogue &catalogue = *opened;
    opened->startHearingOfChanges();

    // SIGINT and SIGTERM are taken by one thread of their own, which stops
    // the server; every other thread, the workers included, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    GatewayServer routes(catalogue, settings.limits);
    routes.setLog([](const QString &line) { say(line); });
    Upstream *const upstream = settings.upstream.get();
    if (upstream)
        routes.setUpstream(upstream, settings.refreshAfter, upstream->timeoutSeconds());
    HttpTransport &server = routes.transport();
    if (!startServing(server, settings))
        return 1;
    const QString host = server.host();
    const std::optional<qint64> held = catalogue.eventCount();
    say(QStringLiteral("serving http://%1:%2/ from %3 (%4 events)%5")
            .arg(host.contains(u':') ? u'[' + host + u']' : host)
            .arg(server.port())
            .arg(catalogue.name())
            .arg(held ? QString::number(*held) : QStringLiteral("an unknown number of"))
            .arg(upstream ? QStringLiteral(", copying from ") + upstream->url().toString() : QString()));

    std::atomic<bool> stopping { false };
    std::thread stopper;
    try {
        stopper = std::thread([&server, &stopping, stopSignals] { stopOnSignals(server, stopping, stopSignals); });
    } catch (const std::system_error &failure) {
        say(QStringLiteral("cannot start: %1").arg(QString::fromLocal8Bit(failure.code().message().c_str())));
        return 1;
    }
    // The recent days kept current in the background while serving.
    std::unique_ptr<UpstreamFollower> follower;
    if (upstream && settings.followSeconds > 0) {
        follower = std::make_unique<UpstreamFollower>(catalogue, *upstream, settings.followSeconds,
                                                      [](const QString &line) { say(line); });
        follower->start();
    }
    const bool ran = server.run();
    if (follower)
        follower->stop();
    if (!stopping)
        pthread_kill(stopper.native_handle(), SIGTERM); // the server ended by itself
    stopper.join();
    say(QStringLiteral("stopped"));
    return ran ? 0 : 1;
}

} // namespace CommandLine
