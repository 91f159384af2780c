#pragma once

#include "quakeml/floodscan.h"

#include <QIODevice>

class ReplyBody;

// Latin-1 bytes served to a reader as UTF-8, a few hundred at a time, so
// that the document is never held whole as text. The bytes before `blank`
// (the XML declaration) are served as spaces, line breaks kept: the reader
// takes the declaration's encoding from a device, and the bytes have one
// already.
// The source gives the memory of the bytes served back to the system as it
// goes, so that what the reply is read into can grow while the reply shrinks.
class Latin1Source : public QIODevice
{
public:
    // Serves the bytes that the scan clears.
    Latin1Source(ReplyBody &body, const FloodScan &scan, qsizetype blank)
        : m_body(body)
        , m_scan(scan)
        , m_blank(blank)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        // Something while the scan goes on: a read waits for it.
        const qint64 left = m_scan.done() ? m_scan.clearedBeyond(0) - m_pos : 1;
        return left + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *out, qint64 room) override;

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr qint64 PieceSize = 480;
    static constexpr qint64 ReleaseStep = qint64(4) << 20;

    void releaseServed();

    ReplyBody &m_body;
    const FloodScan &m_scan;
    const qint64 m_blank;
    qint64 m_end = 0;   // what the scan had cleared at the last read
    qint64 m_pos = 0;
    qint64 m_released = 0;
};
