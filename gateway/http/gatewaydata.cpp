#include "http/gatewaydata.h"

#include "geo/landatlas.h"
#include "geo/places.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace GatewayData {

namespace {

QString dataDirectory()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" HARVIX_DATA_FROM_BIN));
}

// One file or folder of the shipped data, read on first use.
template <typename Data>
const Data &readOnce(const char *path, const char *without)
{
    static const Data read = [&] {
        Data data;
        QString error;
        if (!data.load(dataDirectory() + u'/' + QLatin1String(path), &error))
            std::fprintf(stderr, "harvix-gateway: %s: %s\n", without, qPrintable(error));
        return data;
    }();
    return read;
}

} // namespace

const Places &places()
{
    return readOnce<Places>("places/places.csv", "no place names");
}

const LandAtlas &land()
{
    return readOnce<LandAtlas>("naturalearth", "no land on the maps");
}

} // namespace GatewayData
