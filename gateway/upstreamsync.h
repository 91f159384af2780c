#pragma once

// Fills a catalogue from an upstream over a long range, window by window:
// each window is one transaction and is recorded as done with its events,
// so that a sync that is interrupted or killed loses nothing and a second
// run goes on with the first window not yet done.

#include "upstream/upstream.h"

#include <functional>

namespace UpstreamSync {

constexpr std::int64_t WindowUs = std::int64_t(7) * 86400 * 1000000;

struct Progress
{
    int windowsDone = 0;      // fetched now or found done before
    int windowsTotal = 0;
    int windowsSkipped = 0;   // done by an earlier run
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 skipped = 0;
    std::int64_t windowStartUs = 0;
    std::int64_t windowEndUs = 0;
    QString error;            // set when the sync stopped on a window
};

// Called after each window.
using Report = std::function<void(const Progress &)>;

Progress run(const Catalogue &catalogue, Upstream &upstream, const UpstreamWindow &range,
             const Report &report);

} // namespace UpstreamSync
