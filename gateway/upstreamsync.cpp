#include "upstreamsync.h"

#include "catalogue/catalogue.h"

namespace UpstreamSync {

Progress run(const Catalogue &catalogue, Upstream &upstream, const UpstreamWindow &range, const Report &report)
{
    Progress progress;
    progress.windowsTotal = int((range.endUs - range.startUs + WindowUs - 1) / WindowUs);
    const QString key = upstream.url().toString();
    for (std::int64_t start = range.startUs; start < range.endUs; start += WindowUs) {
        UpstreamWindow window = range;
        window.startUs = start;
        window.endUs = std::min(start + WindowUs, range.endUs);
        progress.windowStartUs = window.startUs;
        progress.windowEndUs = window.endUs;
        if (catalogue.isFetched(key, window, 0)) {
            ++progress.windowsSkipped;
        } else {
            const FetchReport fetched = upstream.fetch(catalogue, window);
            if (fetched.failed()) {
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
