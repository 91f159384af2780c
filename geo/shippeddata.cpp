#include "geo/shippeddata.h"

#include "geo/landatlas.h"
#include "geo/places.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace ShippedData {

namespace {

// One file or folder of the shipped data, read on first use.
template <typename Data>
const Data &readOnce(const char *path, const char *without)
{
    static const Data read = [&] {
        Data data;
        QString error;
        if (!data.load(folder() + u'/' + QLatin1String(path), &error))
            std::fprintf(stderr, "%s: %s: %s\n", qPrintable(QCoreApplication::applicationName()), without,
                         qPrintable(error));
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
    return readOnce<Places>("places/places.csv", "no place names");
}

const LandAtlas &land()
{
    return readOnce<LandAtlas>("naturalearth", "no land on the maps");
}

} // namespace ShippedData
