#pragma once

// Reads a fixture of tests/data/; the folder is compiled into each test.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

inline QByteArray readFixture(const char *name)
{
    QFile file(QStringLiteral(HARVIX_TEST_DATA_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The bytes as gzip writes them (without a name or a time, so always the same).
inline QByteArray gzipped(const QByteArray &bytes)
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), { QStringLiteral("-n"), QStringLiteral("-c") });
    gzip.write(bytes);
    gzip.closeWriteChannel();
    gzip.waitForFinished();
    return gzip.readAllStandardOutput();
}

// An XML document of UTF-8 as UTF-16 with a byte order mark, its declaration saying so.
inline QByteArray utf16Of(const QByteArray &utf8)
{
    QString text = QString::fromUtf8(utf8);
    text.replace(QLatin1String("encoding=\"UTF-8\""), QLatin1String("encoding=\"UTF-16\""));
    return QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// The header line of FDSN event text, and a document of such lines under it.
inline const QByteArray fdsnTextHeader = "#EventID | Time | Latitude | Longitude | Depth/km | Author | Catalog | Contributor "
                                         "| ContributorID | MagType | Magnitude | MagAuthor | EventLocationName | EventType\n";
inline QByteArray fdsnText(const QByteArray &lines)
{
    return fdsnTextHeader + lines;
}
