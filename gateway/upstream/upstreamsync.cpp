#include "upstream/upstreamsync.h"

#include "catalogue/catalogue.h"

#include <QDateTime>

namespace UpstreamSync {

Progress run(const Catalogue &catalogue, Upstream &upstream, const UpstreamWindow &range, const Report &report,
             Mode mode)
{
    Progress progress;
    // Done before: anything an earlier run stored, when resuming; else only
    // what this run has stored.
    const bool resume = mode == Mode::Resume && !range.updatedAfterUs;
    FetchPlan plan;
    plan.keepPiecesSinceUs = resume ? 0 : QDateTime::currentMSecsSinceEpoch() * 1000;
    progress.windowsTotal = int((range.endUs - range.startUs + WindowUs - 1) / WindowUs);
    const QString key = upstream.key();
    for (std::int64_t start = range.startUs; start < range.endUs; start += WindowUs) {
        UpstreamWindow window = range;
        window.startUs = start;
        window.endUs = std::min(start + WindowUs, range.endUs);
        progress.windowStartUs = window.startUs;
        progress.windowEndUs = window.endUs;
        if (resume && catalogue.isFetched(key, window, 0)) {
            ++progress.windowsSkipped;
        } else {
            const FetchReport fetched = upstream.fetch(catalogue, window, plan);
            if (fetched.failed() && fetched.refusedAsTooBig) {
                progress.refused << QStringLiteral("%1 to %2: %3").arg(UpstreamTime::text(window.startUs),
                                                                       UpstreamTime::text(window.endUs), fetched.error);
            } else if (fetched.failed()) {
                progress.error = fetched.error;
                report(progress);
                return progress;
            }
            progress.added += fetched.added;
            progress.updated += fetched.updated;
            progress.removed += fetched.removed;
            progress.skipped += fetched.skipped;
        }
        ++progress.windowsDone;
        report(progress);
    }
    return progress;
}

} // namespace UpstreamSync
