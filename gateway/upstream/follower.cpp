#include "upstream/follower.h"

#include "catalogue/catalogue.h"
#include "catalogue/windows.h"
#include "upstream/upstream.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

UpstreamFollower::UpstreamFollower(const Catalogue &catalogue, Upstream &upstream, int seconds,
                                   std::function<void(const QString &)> log, int wholeEvery)
    : m_catalogue(catalogue)
    , m_upstream(upstream)
    , m_seconds(seconds)
    , m_wholeEvery(std::max(1, wholeEvery))
    , m_log(std::move(log))
{
}

UpstreamFollower::~UpstreamFollower()
{
    stop();
}

void UpstreamFollower::start()
{
    m_thread = std::thread([this] { run(); });
}

void UpstreamFollower::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool UpstreamFollower::wait(int seconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stopping; });
}

void UpstreamFollower::run()
{
    int copies = 0;
    std::int64_t lastBeganUs = 0;   // of the last copy that succeeded
    int waitSeconds = m_seconds;
    bool failing = false;
    do {
        const std::int64_t nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
        UpstreamWindow window;
        window.startUs = nowUs - RecentUs;
        window.endUs = nowUs;
        // What changed since the last copy began, a minute to spare.
        const bool whole = copies % m_wholeEvery == 0 || lastBeganUs == 0;
        if (!whole)
            window.updatedAfterUs = lastBeganUs - std::int64_t(60) * 1000000;
        // Where several gateways follow one catalogue, one copies at a time;
        // the others wait for their next turn.
        const std::unique_ptr<Catalogue::SyncLock> lock = m_catalogue.lockForSync();
        if (!lock)
            continue;
        const FetchReport report = m_upstream.fetch(m_catalogue, window);
        if (report.failed()) {
            if (!failing)
                m_log(QStringLiteral("following %1: %2; asking again later, less and less often")
                          .arg(m_upstream.name(), report.error));
            failing = true;
            // Twice as long each time, up to an hour, never sooner than asked.
            waitSeconds = std::max(m_seconds, std::min(LongestWaitSeconds, 2 * std::min(LongestWaitSeconds, waitSeconds)));
            continue;
        }
        if (failing)
            m_log(QStringLiteral("following %1: it answers again").arg(m_upstream.name()));
        failing = false;
        waitSeconds = m_seconds;
        lastBeganUs = nowUs;
        ++copies;
        if (report.added + report.updated + report.removed > 0)
            m_log(QStringLiteral("following %1: %2 added, %3 updated, %4 removed")
                      .arg(m_upstream.name())
                      .arg(report.added)
                      .arg(report.updated)
                      .arg(report.removed));
    } while (wait(waitSeconds));
}
