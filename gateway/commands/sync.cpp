// harvix-gateway sync: a long range from an upstream, a week at a time.

#include "commands/commandline.h"

#include "catalogue/catalogue.h"
#include "formats/fieldparsing.h"
#include "upstream/upstream.h"
#include "upstream/upstreamsync.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace CommandLine {

int sync(const Options &options)
{
    if (!options.values.contains(QStringLiteral("--upstream")))
        return usageError(QStringLiteral("sync needs --upstream URL"));
    std::unique_ptr<Upstream> upstream;
    if (QString error; !upstreamOf(options, upstream, &error))
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

    const std::unique_ptr<Catalogue> opened = openCatalogue(options, "copied");
    if (!opened)
        return 1;
    const Catalogue &catalogue = *opened;
    // One sync at a time for a catalogue that several gateways share.
    const std::unique_ptr<Catalogue::SyncLock> lock = catalogue.lockForSync();
    if (!lock) {
        say(QStringLiteral("another harvix-gateway is copying into %1 now; run this sync when it is done")
                .arg(catalogue.name()));
        return 1;
    }
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
    for (const QString &window : done.refused)
        say(QStringLiteral("the window %1; nothing of it was stored").arg(window));
    if (!done.refused.isEmpty()) {
        say(QStringLiteral("%1 %2 refused; run the same sync again to ask again")
                .arg(done.refused.size()).arg(done.refused.size() == 1 ? "window was" : "windows were"));
        return 1;
    }
    return 0;
}

} // namespace CommandLine
