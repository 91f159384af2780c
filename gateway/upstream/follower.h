#pragma once

// UpstreamFollower keeps the recent days of a catalogue current from its
// upstream, on a thread of its own, so that a search of the last day
// answers from the catalogue at once and revisions and withdrawals are
// mirrored without a search asking. Every so many seconds it copies the
// last seven days: whole at first and every tenth time (so that what the
// upstream withdrew goes), else only what the upstream changed since the
// last copy began. A failing upstream is asked again after twice as long
// each time, up to an hour, and its failure is told once, not once a try.

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class Catalogue;
class Upstream;

class UpstreamFollower
{
public:
    static constexpr std::int64_t RecentUs = std::int64_t(7) * 86400 * 1000000;
    static constexpr int WholeEvery = 10;
    static constexpr int LongestWaitSeconds = 3600;

    // log: one line for the service's log. wholeEvery: how often a copy is
    // whole.
    UpstreamFollower(const Catalogue &catalogue, Upstream &upstream, int seconds, std::function<void(const QString &)> log,
                     int wholeEvery = WholeEvery);
    ~UpstreamFollower();

    void start();
    // Stops, waiting for a copy in progress to end.
    void stop();

private:
    void run();
    // Waits this long, or until stopped; false when stopped.
    bool wait(int seconds);

    const Catalogue &m_catalogue;
    Upstream &m_upstream;
    const int m_seconds;
    const int m_wholeEvery;
    const std::function<void(const QString &)> m_log;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};
