#include "formats/gzipdevice.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

struct GzipDevice::Stream
{
    z_stream z {};
    bool member = false;   // inside a gzip member
};

namespace {
constexpr qint64 ChunkBytes = 64 * 1024;
}

GzipDevice::GzipDevice(QIODevice &source)
    : m_source(source)
    , m_stream(std::make_unique<Stream>())
{
    // 15 + 16: gzip framing only.
    if (inflateInit2(&m_stream->z, 15 + 16) != Z_OK)
        m_error = QStringLiteral("zlib cannot be started");
    setOpenMode(QIODevice::ReadOnly);
}

GzipDevice::~GzipDevice()
{
    inflateEnd(&m_stream->z);
}

bool GzipDevice::isGzip(const QByteArray &start)
{
    return start.size() >= 2 && quint8(start[0]) == 0x1F && quint8(start[1]) == 0x8B;
}

void GzipDevice::fill()
{
    z_stream &z = m_stream->z;
    while (m_pendingPos >= m_pending.size() && !m_done && m_error.isEmpty()) {
        if (z.avail_in == 0) {
            m_input = m_source.read(ChunkBytes);
            if (m_input.isEmpty()) {
                // The source has ended: whole only between members.
                if (m_stream->member)
                    m_error = QStringLiteral("the gzip data is cut short");
                m_done = true;
                break;
            }
            z.next_in = reinterpret_cast<Bytef *>(m_input.data());
            z.avail_in = uInt(m_input.size());
        }
        m_pending.resize(ChunkBytes);
        m_pendingPos = 0;
        z.next_out = reinterpret_cast<Bytef *>(m_pending.data());
        z.avail_out = uInt(m_pending.size());
        m_stream->member = true;
        const int status = inflate(&z, Z_NO_FLUSH);
        m_pending.resize(m_pending.size() - qsizetype(z.avail_out));
        if (status == Z_STREAM_END) {
            // Another member may follow, as concatenated gzip files have.
            m_stream->member = false;
            inflateReset(&z);
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            m_error = QStringLiteral("the gzip data is damaged (%1)")
                          .arg(QString::fromLatin1(z.msg ? z.msg : "unknown error"));
        }
    }
    if (!m_error.isEmpty())
        setErrorString(m_error);
}

bool GzipDevice::atEnd() const
{
    return bytesAvailable() == 0;
}

qint64 GzipDevice::bytesAvailable() const
{
    const_cast<GzipDevice *>(this)->fill();
    return QIODevice::bytesAvailable() + (m_pending.size() - m_pendingPos);
}

qint64 GzipDevice::readData(char *data, qint64 maxSize)
{
    fill();
    const qint64 count = std::min<qint64>(maxSize, m_pending.size() - m_pendingPos);
    if (count <= 0)
        return failed() ? -1 : 0;
    std::memcpy(data, m_pending.constData() + m_pendingPos, std::size_t(count));
    m_pendingPos += count;
    return count;
}
