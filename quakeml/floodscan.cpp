#include "quakeml/floodscan.h"

#include <chrono>

using namespace FloodSearch;

FloodScan::FloodScan(const ReplyBody &body)
    : m_body(body)
{
    if (body.isWhole() && body.wholeLength() < AheadFrom)
        run();
    else
        m_thread = std::thread([this] { run(); });
}

FloodScan::~FloodScan()
{
    if (m_thread.joinable())
        m_thread.join();
}

qsizetype FloodScan::clearedBeyond(qsizetype pos) const
{
    auto pause = std::chrono::microseconds(50);
    for (int round = 0;; ++round) {
        const bool finished = done();
        const qsizetype cleared = m_cleared.load(std::memory_order_acquire);
        if (cleared > pos || finished)
            return cleared;
        // A moment while the search runs ahead; longer ones while it
        // waits for the network.
        if (round < 64) {
            std::this_thread::yield();
        } else {
            pause = std::min(pause * 2, std::chrono::microseconds(2000));
            std::this_thread::sleep_for(pause);
        }
    }
}

void FloodScan::run()
{
    const ReplyBody &body = m_body;
    Arriving<QByteArrayView> bytes(QByteArrayView(body.data(), body.arrivedBeyond(-1)),
                                   [&body](qsizetype size) { return body.arrivedBeyond(size); });
    m_flood = findAttributeFlood(bytes, &m_cleared);
    if (m_flood >= 0)
        m_error = floodError(bytes.view(), m_flood);
    m_cleared.store(m_flood >= 0 ? m_flood : bytes.size(), std::memory_order_release);
    m_done.store(true, std::memory_order_release);
}
