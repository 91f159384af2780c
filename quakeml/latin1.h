#pragma once

// Conversions between Qt's UTF-16 text and the Latin-1 byte strings of the
// event records: one character per byte, anything above U+00FF becoming '?'
// exactly as QString::toLatin1 does. Qt 6's toStdString is UTF-8 and must not
// be used for records.

#include <QString>
#include <QStringView>

#include <string>

namespace Latin1 {

inline void append(std::string &out, QStringView text)
{
    const std::size_t start = out.size();
    out.resize(start + std::size_t(text.size()));
    char *dst = out.data() + start;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = u < 0x100 ? char(u) : '?';
    }
}

inline std::string fromText(QStringView text)
{
    std::string out;
    append(out, text);
    return out;
}

inline QString toText(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

} // namespace Latin1
