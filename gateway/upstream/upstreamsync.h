#pragma once

// Fills a catalogue from an upstream over a long range, a week at a time:
// each week (or each piece of a week that the service caps) is one
// transaction and is recorded as done with its events, so that a sync that
// is interrupted or killed loses nothing and a second run goes on with the
// first piece not yet done.
//
// Mode::Resume skips what earlier runs did; Mode::Again fetches every week
// again whole and keeps the copy a mirror (what the upstream no longer
// holds is removed); a range with updatedAfterUs asks every week for what
// changed after that time, done before or not.

#include "upstream/upstream.h"

#include <QStringList>

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
    // Windows that the upstream refuses as too big even in their smallest
    // piece: asking again will not help, so the sync goes on past them and
    // a later run asks them again.
    QStringList refused;      // "START to END: the upstream's words"
};

// Called after each window.
using Report = std::function<void(const Progress &)>;

enum class Mode { Resume, Again };

Progress run(const Catalogue &catalogue, Upstream &upstream, const UpstreamWindow &range,
             const Report &report, Mode mode = Mode::Resume);

} // namespace UpstreamSync
