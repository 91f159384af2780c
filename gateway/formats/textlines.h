#pragma once

// Reads a text file line by line as UTF-8, without its line ends and
// without a byte order mark at its start, counting lines for messages.
// A line longer than MaxLineBytes ends the reading: no catalogue row comes
// near it, and a line without an end must not take all memory.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

class TextLines
{
public:
    explicit TextLines(QIODevice &in) : m_in(in) {}

    static constexpr qint64 MaxLineBytes = qint64(1) << 20;

    bool next(QString &line)
    {
        if (m_tooLong || m_in.atEnd())
            return false;
        // Into a buffer of the longest line, made once: readLine(maxSize)
        // would allocate that much for every line.
        if (m_buffer.isEmpty())
            m_buffer.resize(MaxLineBytes + 3);
        qint64 length = m_in.readLine(m_buffer.data(), m_buffer.size());
        if (length < 0)
            return false;
        while (length > 0 && (m_buffer[length - 1] == '\n' || m_buffer[length - 1] == '\r'))
            --length;
        if (length > MaxLineBytes) {
            m_tooLong = true;
            ++m_number;
            return false;
        }
        QByteArrayView bytes(m_buffer.constData(), length);
        if (m_number == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        ++m_number;
        line = QString::fromUtf8(bytes);
        return true;
    }

    qint64 number() const { return m_number; }
    // Whether reading stopped at a line too long to be a row: line number().
    bool tooLong() const { return m_tooLong; }
    static QString tooLongReason()
    {
        return QStringLiteral("a line longer than %1 MiB: not a catalogue row").arg(MaxLineBytes >> 20);
    }
    // Whether the line read last was the file's last.
    bool atEnd() const { return m_in.atEnd(); }

private:
    QIODevice &m_in;
    QByteArray m_buffer;
    qint64 m_number = 0;
    bool m_tooLong = false;
};
