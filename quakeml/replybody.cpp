#include "quakeml/replybody.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <limits>

#include <sys/mman.h>
#include <unistd.h>

namespace {

std::uintptr_t pageSize()
{
    static const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

ReplyBody::ReplyBody(QByteArray whole)
    : m_bytes(std::move(whole))
{
    // The body must have one owner: the memory it gives back is seen by
    // nothing else.
    m_bytes.detach();
    m_data = m_bytes.data();
    m_capacity = m_bytes.size();
    arrive(0, m_capacity);
    finish();
}

std::unique_ptr<ReplyBody> ReplyBody::reserve(qint64 capacity)
{
    const std::uintptr_t page = pageSize();
    const std::size_t length = (std::size_t(std::max<qint64>(capacity, 1)) + page - 1) & ~(page - 1);
#ifdef MAP_NORESERVE
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
#else
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#endif
    void *block = mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
    std::unique_ptr<ReplyBody> body(new ReplyBody);
    body->m_data = static_cast<char *>(block);
    body->m_capacity = qsizetype(capacity);
    body->m_mapped = qsizetype(length);
    return body;
}

ReplyBody::~ReplyBody()
{
    drop();
}

bool ReplyBody::receive(QIODevice &device)
{
    for (;;) {
        const qint64 available = device.bytesAvailable();
        if (available <= 0)
            return true;
        if (m_received + available > m_capacity)
            return false;
        if (m_textEnded) {
            // The text is whole; the rest only counts against the room.
            m_received += device.skip(available);
            continue;
        }
        const qint64 read = device.read(m_data + m_received, available);
        if (read <= 0)
            return true;
        const qsizetype from = qsizetype(m_received);
        m_received += read;
        arrive(from, qsizetype(read));
    }
}

bool ReplyBody::receive(const char *bytes, qint64 size)
{
    if (m_received + size > m_capacity)
        return false;
    if (!m_textEnded)
        std::memcpy(m_data + m_received, bytes, std::size_t(size));
    const qsizetype from = qsizetype(m_received);
    m_received += size;
    if (!m_textEnded)
        arrive(from, qsizetype(size));
    return true;
}

void ReplyBody::arrive(qsizetype from, qsizetype size)
{
    const void *zero = std::memchr(m_data + from, 0, std::size_t(size));
    const qsizetype end = zero ? static_cast<const char *>(zero) - m_data : from + size;
    m_textEnded = zero != nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_arrived = end;
        m_isWhole = m_textEnded;
    }
    m_arrival.notify_all();
}

void ReplyBody::finish()
{
    m_textEnded = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_isWhole = true;
    }
    m_arrival.notify_all();
}

qsizetype ReplyBody::arrivedBeyond(qsizetype pos) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_awaiting;
    m_awaitedBeyond = pos;
    m_arrival.wait(lock, [&] { return m_arrived > pos || m_isWhole; });
    --m_awaiting;
    return m_arrived;
}

qsizetype ReplyBody::wholeLength() const
{
    return arrivedBeyond(std::numeric_limits<qsizetype>::max());
}

bool ReplyBody::isAwaited() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_awaiting > 0 && m_arrived <= m_awaitedBeyond && !m_isWhole;
}

bool ReplyBody::isWhole() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_isWhole;
}

void ReplyBody::release(qsizetype from, qsizetype to)
{
    const std::uintptr_t page = pageSize();
    const auto start = reinterpret_cast<std::uintptr_t>(m_data);
    const std::uintptr_t first = (start + std::uintptr_t(from) + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + std::uintptr_t(to)) & ~(page - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED);
}

void ReplyBody::drop()
{
    if (m_mapped)
        munmap(m_data, std::size_t(m_mapped));
    m_bytes = QByteArray();
    m_data = nullptr;
    m_mapped = 0;
}
