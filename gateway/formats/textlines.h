#pragma once

// Reads a text file line by line as UTF-8, without its line ends and
// without a byte order mark at its start, counting lines for messages.
// A line longer than MaxLineBytes ends the reading: no catalogue row comes
// near it, and a line without an end must not take all memory.

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
        QByteArray bytes = m_in.readLine(MaxLineBytes + 3);
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.size() > MaxLineBytes) {
            m_tooLong = true;
            ++m_number;
            return false;
        }
        if (m_number == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
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
    qint64 m_number = 0;
    bool m_tooLong = false;
};
