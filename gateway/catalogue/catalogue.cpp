#include "catalogue/catalogue.h"

#include "catalogue/windows.h"

#include <QUrl>

std::unique_ptr<Catalogue::Cursor> Catalogue::keepInside(const EventFilter &filter, std::unique_ptr<Cursor> cursor)
{
    class Inside : public Cursor
    {
    public:
        Inside(const SearchRegion &region, std::unique_ptr<Cursor> rows)
            : m_region(region)
            , m_rows(std::move(rows))
        {
        }
        bool next(EventRow &row) override
        {
            while (m_rows->next(row)) {
                if (m_region.contains(row.latitude, row.longitude, row.depthKm))
                    return true;
            }
            return false;
        }
        QString error() const override { return m_rows->error(); }

    private:
        const SearchRegion m_region;
        const std::unique_ptr<Cursor> m_rows;
    };
    if (filter.region.isWhole())
        return cursor;
    return std::make_unique<Inside>(filter.region, std::move(cursor));
}

QString Catalogue::agencyOf(const QString &source)
{
    if (source.startsWith(QLatin1String("MLNZ20_")) || source.startsWith(QLatin1String("GeoNet_")))
        return QStringLiteral("GeoNet");
    const QUrl url(source);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return QString();
    const QString host = url.host();
    return host == QLatin1String("geonet.org.nz") || host.endsWith(QLatin1String(".geonet.org.nz"))
        ? QStringLiteral("GeoNet") : host;
}
