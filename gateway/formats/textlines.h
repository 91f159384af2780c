#pragma once

// Reads a text file line by line as UTF-8, without its line ends and
// without a byte order mark at its start, counting lines for messages.

#include <QIODevice>
#include <QString>

class TextLines
{
public:
    explicit TextLines(QIODevice &in) : m_in(in) {}

    bool next(QString &line)
    {
        if (m_in.atEnd())
            return false;
        QByteArray bytes = m_in.readLine();
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        if (m_number == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        ++m_number;
        line = QString::fromUtf8(bytes);
        return true;
    }

    qint64 number() const { return m_number; }
    // Whether the line read last was the file's last.
    bool atEnd() const { return m_in.atEnd(); }

private:
    QIODevice &m_in;
    qint64 m_number = 0;
};
