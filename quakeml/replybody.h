#pragma once

// ReplyBody holds a reply's body as it arrives: one block of memory that
// never moves, filled by one thread while another reads what has arrived,
// so that a reply can be read while it is still being received. Its text
// ends at the first zero byte, as QuakeMLReader::decodeReply reads a body.

#include <QByteArray>

#include <condition_variable>
#include <memory>
#include <mutex>

class QIODevice;

class ReplyBody
{
public:
    // A body that has arrived whole.
    explicit ReplyBody(QByteArray whole);
    // Room for up to `capacity` bytes, which take memory only as they
    // arrive; nullptr when the system will not set so much aside.
    static std::unique_ptr<ReplyBody> reserve(qint64 capacity);
    ~ReplyBody();
    ReplyBody(const ReplyBody &) = delete;
    ReplyBody &operator=(const ReplyBody &) = delete;

    // The receiving side: takes all that the device has to give; false
    // when the body would outgrow its room, which is left as it was.
    bool receive(QIODevice &device);
    // The same for bytes in memory.
    bool receive(const char *bytes, qint64 size);
    // No more will arrive: the body is whole, or the rest will never come.
    void finish();
    // Every byte received, those after the text's end too.
    qint64 received() const { return m_received; }

    // The reading side.
    const char *data() const { return m_data; }
    // How many bytes of text have arrived, once more than `pos` have or
    // the text is whole.
    qsizetype arrivedBeyond(qsizetype pos) const;
    // The whole text's length, once it has arrived.
    qsizetype wholeLength() const;
    bool isWhole() const;
    // Whether the reading side waits for more than has arrived.
    bool isAwaited() const;
    // Gives the memory of the whole pages within [from, to) back to the
    // system; they read as zeros afterwards.
    void release(qsizetype from, qsizetype to);
    // Frees the block once the text is whole (nothing writes to it then).
    void drop();

private:
    ReplyBody() = default;
    // Counts bytes just written at `from` onwards, up to a zero byte.
    void arrive(qsizetype from, qsizetype size);

    QByteArray m_bytes;        // the block of a body that came whole
    char *m_data = nullptr;
    qsizetype m_capacity = 0;
    qsizetype m_mapped = 0;    // the reserved block's size, or 0
    qint64 m_received = 0;     // the receiving side's own
    bool m_textEnded = false;  // the receiving side's own: a zero byte came

    mutable std::mutex m_mutex;   // guards the four below
    mutable std::condition_variable m_arrival;
    qsizetype m_arrived = 0;
    bool m_isWhole = false;
    mutable int m_awaiting = 0;
    mutable qsizetype m_awaitedBeyond = 0;
};
