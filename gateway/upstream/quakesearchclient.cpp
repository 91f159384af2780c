#include "upstream/quakesearchclient.h"

#include "formats/csvcataloguereader.h"

#include <QJsonDocument>
#include <QJsonObject>

QString QuakeSearchClient::query(const UpstreamWindow &window)
{
    static const QueryKeys keys = { "startdate", "enddate", "minmag", "maxmag", "modificationtime" };
    return windowQuery(window, keys);
}

bool QuakeSearchClient::collect(const UpstreamWindow &window, Clock::time_point deadline,
                                const RowSink &sink, FetchReport &report)
{
    // Both endpoints answer 200 or fail.
    const auto get = [&](QTemporaryFile &file, const QString &endpoint, const UpstreamWindow &piece) {
        Response response;
        if (!fetchInto(file, endpoint + query(piece), deadline, response, report))
            return false;
        if (response.status != 200) {
            report.error = QStringLiteral("%1 answered HTTP %2").arg(endpoint).arg(response.status);
            return false;
        }
        return true;
    };

    std::vector<UpstreamWindow> pending = { window };
    while (!pending.empty()) {
        const UpstreamWindow piece = pending.back();
        pending.pop_back();

        QTemporaryFile counted;
        if (!get(counted, QStringLiteral("count?"), piece))
            return false;
        counted.seek(0);
        const QJsonObject json = QJsonDocument::fromJson(counted.readAll()).object();
        if (!json.value(QLatin1String("count")).isDouble()) {
            report.error = QStringLiteral("count? did not answer JSON with a count");
            return false;
        }
        const qint64 count = qint64(json.value(QLatin1String("count")).toDouble());
        if (count == 0)
            continue;
        if (count > m_options.quakeSearchLimit) {
            if (!halve(piece, pending, QStringLiteral("more than %1 events").arg(m_options.quakeSearchLimit), report))
                return false;
            continue;
        }

        QTemporaryFile body;
        if (!get(body, QStringLiteral("csv?"), piece))
            return false;
        if (body.size() == 0)
            continue;
        if (endsInsideLine(body)) {
            report.error = QStringLiteral("the CSV reply ends inside a row");
            return false;
        }
        body.seek(0);
        if (!acceptOutcome(CsvCatalogueReader::read(body, sink), QStringLiteral("GeoNet quake search CSV"), report))
            return false;
    }
    return true;
}
