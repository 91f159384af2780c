#include "geo/shippeddata.h"

#include "geo/landatlas.h"
#include "geo/places.h"

#include <QCoreApplication>
#include <QDir>

#include <QStringList>

#include <cstdio>
#include <mutex>

namespace ShippedData {

namespace {

// What could not be read, a line each; places and land may be read on
// two threads at once.
std::mutex lackingGuard;
QStringList lacking;

// Says on standard error what could not be read, and keeps it in words.
void report(const char *without, const char *what, const QString &error)
{
    std::fprintf(stderr, "%s: %s: %s\n", qPrintable(QCoreApplication::applicationName()), without, qPrintable(error));
    const std::lock_guard<std::mutex> lock(lackingGuard);
    lacking << QLatin1String(what);
}

// One file or folder of the shipped data, read on first use.
template <typename Data>
const Data &readOnce(const char *path, const char *without, const char *what)
{
    static const Data read = [&] {
        Data data;
        QString error;
        if (!data.load(folder() + u'/' + QLatin1String(path), &error))
            report(without, what, error);
        return data;
    }();
    return read;
}

} // namespace

QString folder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" HARVIX_DATA_FROM_BIN));
}

const Places &places()
{
    // The towns that name events, and the villages that a user may type.
    static const Places read = [] {
        Places data;
        QString error;
        if (!data.load(folder() + QStringLiteral("/places/places.csv"), &error))
            report("no place names", "place names", error);
        else if (!data.loadTypedOnly(folder() + QStringLiteral("/places/nz-localities.csv"), &error))
            report("no villages to search around", "villages", error);
        return data;
    }();
    return read;
}

const LandAtlas &land()
{
    return readOnce<LandAtlas>("naturalearth", "no land on the maps", "land");
}

QString missing()
{
    places();
    land();
    const std::lock_guard<std::mutex> lock(lackingGuard);
    return lacking.join(QStringLiteral(" and "));
}

} // namespace ShippedData
