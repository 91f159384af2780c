#include "import/defaultcatalogue.h"

#include "catalogue/sqlitecatalogue.h"
#include "geo/shippeddata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace DefaultCatalogue {

QString path()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/harvix/catalogue.sqlite");
}

QString geonetDirectory()
{
    return ShippedData::folder() + QStringLiteral("/geonet");
}

QStringList geonetFiles()
{
    const QDir dir(geonetDirectory());
    QStringList files;
    for (const QString &name : dir.entryList({ QStringLiteral("GeoNet_CMT_solutions.csv") }, QDir::Files))
        files << dir.filePath(name);
    for (const QString &name : dir.entryList({ QStringLiteral("MLNZ20_RapidEvents_*.csv") }, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

bool create(const QString &path, const std::function<void(const ImportReport &)> &report, QString *error)
{
    const QStringList files = geonetFiles();
    if (files.isEmpty()) {
        *error = QStringLiteral("GeoNet's catalogue files are not in %1").arg(geonetDirectory());
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot make the folder %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    const QString partial = path + QStringLiteral(".partial");
    for (const char *suffix : { "", "-wal", "-shm", "-journal" })
        QFile::remove(partial + QLatin1String(suffix));

    bool complete = true;
    {
        SqliteCatalogue catalogue(partial);
        complete = catalogue.open(error);
        for (const QString &file : files) {
            if (!complete)
                break;
            const ImportReport imported = CatalogueImport::importFile(catalogue, file);
            if (imported.failed()) {
                *error = imported.error;
                complete = false;
            }
            report(imported);
        }
    }
    if (complete && !QFile::rename(partial, path)) {
        *error = QStringLiteral("cannot rename %1 to %2").arg(partial, path);
        complete = false;
    }
    if (!complete) {
        for (const char *suffix : { "", "-wal", "-shm", "-journal" })
            QFile::remove(partial + QLatin1String(suffix));
    }
    return complete;
}

} // namespace DefaultCatalogue
