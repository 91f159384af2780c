#include "upstream/quakesearchclient.h"

#include "formats/csvcataloguereader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <vector>

namespace {

// Asks a little wider than the window: the service's bounds may be strict,
// and what comes back is stored whole anyway.
constexpr double MagnitudeMargin = 0.05;
constexpr std::int64_t SecondUs = 1000000;

} // namespace

QString QuakeSearchClient::query(const UpstreamWindow &window)
{
    QString query = QStringLiteral("startdate=%1&enddate=%2")
                        .arg(UpstreamTime::text(window.startUs - SecondUs), UpstreamTime::text(window.endUs + SecondUs));
    if (window.minMagnitude)
        query += QStringLiteral("&minmag=%1").arg(*window.minMagnitude - MagnitudeMargin);
    if (window.maxMagnitude)
        query += QStringLiteral("&maxmag=%1").arg(*window.maxMagnitude + MagnitudeMargin);
    if (window.updatedAfterUs)
        query += QStringLiteral("&modificationtime=%1").arg(UpstreamTime::text(*window.updatedAfterUs));
    return query;
}

bool QuakeSearchClient::collect(const UpstreamWindow &window, Clock::time_point deadline,
                                const RowSink &sink, FetchReport &report)
{
    std::vector<UpstreamWindow> pending = { window };
    while (!pending.empty()) {
        const UpstreamWindow piece = pending.back();
        pending.pop_back();

        QTemporaryFile counted;
        if (!counted.open()) {
            report.error = QStringLiteral("no temporary file for the reply");
            return false;
        }
        ++report.requests;
        const Response countResponse = get(QStringLiteral("count?") + query(piece), deadline, counted);
        if (!countResponse.error.isEmpty() || countResponse.status != 200) {
            report.error = countResponse.error.isEmpty()
                ? QStringLiteral("count? answered HTTP %1").arg(countResponse.status)
                : countResponse.error;
            return false;
        }
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
            if (piece.endUs - piece.startUs <= 2 * SecondUs) {
                report.error = QStringLiteral("more than %1 events within two seconds").arg(m_options.quakeSearchLimit);
                return false;
            }
            UpstreamWindow early = piece, late = piece;
            early.endUs = late.startUs = piece.startUs + (piece.endUs - piece.startUs) / 2;
            pending.push_back(late);
            pending.push_back(early);
            continue;
        }

        QTemporaryFile body;
        if (!body.open()) {
            report.error = QStringLiteral("no temporary file for the reply");
            return false;
        }
        ++report.requests;
        const Response response = get(QStringLiteral("csv?") + query(piece), deadline, body);
        if (!response.error.isEmpty() || response.status != 200) {
            report.error = response.error.isEmpty() ? QStringLiteral("csv? answered HTTP %1").arg(response.status)
                                                    : response.error;
            return false;
        }
        if (body.size() == 0)
            continue;
        // A reply cut short ends inside a row.
        if (body.size() > 0 && (!body.seek(body.size() - 1) || body.read(1) != "\n")) {
            report.error = QStringLiteral("the CSV reply ends inside a row");
            return false;
        }
        body.seek(0);
        if (!acceptOutcome(CsvCatalogueReader::read(body, sink), QStringLiteral("GeoNet quake search CSV"), report))
            return false;
    }
    return true;
}
