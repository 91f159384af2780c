#pragma once

// Reads a fixture of tests/data/; the folder is compiled into each test.

#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray readFixture(const char *name)
{
    QFile file(QStringLiteral(HARVIX_TEST_DATA_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
