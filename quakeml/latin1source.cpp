#include "quakeml/latin1source.h"

#include <cstdint>
#include <cstring>

qint64 Latin1Source::readData(char *out, qint64 room)
{
    // The reader turns each piece into a new text. Pieces this small are
    // taken from the allocator's small blocks: bigger ones make it sort
    // every block freed since the last one, which costs the reader a
    // fifth of its time when another thread frees what it made.
    room = std::min<qint64>(room, PieceSize);
    m_end = m_scan.clearedBeyond(m_pos);
    const char *const in = m_body.data();
    qint64 written = 0;
    if (m_pos < m_blank) {
        // Line breaks stay, so that lines are counted as in the text.
        const qint64 spaces = std::min(room, std::min(m_blank, m_end) - m_pos);
        for (qint64 i = 0; i < spaces; ++i) {
            const char c = in[m_pos + i];
            out[i] = c == '\n' || c == '\r' ? c : ' ';
        }
        written = spaces;
        m_pos += spaces;
    }
    while (written < room && m_pos < m_end) {
        // ASCII, nearly all of any reply, is copied as it is, eight bytes
        // tested at a time.
        const qint64 most = std::min(room - written, m_end - m_pos);
        qint64 run = 0;
        for (std::uint64_t word; run + 8 <= most; run += 8) {
            std::memcpy(&word, in + m_pos + run, 8);
            if (word & 0x8080808080808080u)
                break;
        }
        while (run < most && static_cast<unsigned char>(in[m_pos + run]) < 0x80)
            ++run;
        std::memcpy(out + written, in + m_pos, std::size_t(run));
        written += run;
        m_pos += run;
        if (m_pos == m_end || room - written < 2)
            break;
        const unsigned char c = static_cast<unsigned char>(in[m_pos++]);
        out[written++] = char(0xC0 | (c >> 6));
        out[written++] = char(0x80 | (c & 0x3F));
    }
    releaseServed();
    return written;
}

void Latin1Source::releaseServed()
{
    // The bytes served since the last release are never read again (the
    // scan, which reads from the start to report a flood's line, is done).
    if (m_pos - m_released < ReleaseStep || !m_scan.done())
        return;
    m_body.release(m_released, m_pos);
    m_released = m_pos;
}
