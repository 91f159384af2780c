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

} // namespace

const Places &places()
{
    static const Places read = [] {
        Places places;
        QString error;
        if (!places.load(dataDirectory() + QStringLiteral("/places/places.csv"), &error))
            std::fprintf(stderr, "harvix-gateway: no place names: %s\n", qPrintable(error));
        return places;
    }();
    return read;
}

const LandAtlas &land()
{
    static const LandAtlas read = [] {
        LandAtlas land;
        QString error;
        if (!land.load(dataDirectory() + QStringLiteral("/naturalearth"), &error))
            std::fprintf(stderr, "harvix-gateway: no land on the maps: %s\n", qPrintable(error));
        return land;
    }();
    return read;
}

} // namespace GatewayData
