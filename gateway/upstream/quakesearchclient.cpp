#include "upstream/quakesearchclient.h"

#include "formats/csvcataloguereader.h"

#include <QJsonDocument>
#include <QJsonObject>

QString QuakeSearchClient::query(const UpstreamWindow &window)
{
    static const QueryKeys keys = { "startdate", "enddate", "minmag", "maxmag", "modificationtime" };
    return windowQuery(window, keys);
}

Upstream::Answer QuakeSearchClient::ask(const UpstreamWindow &piece, QTemporaryFile &body,
                                        std::optional<qint64> &expected, FetchReport &report)
{
    // Both endpoints answer 200 or fail.
    const auto get = [&](QTemporaryFile &file, const QString &endpoint) {
        Response response;
        if (!fetchInto(file, endpoint + query(piece), response, report))
            return false;
        if (response.status != 200) {
            report.error = QStringLiteral("%1 answered HTTP %2").arg(endpoint).arg(response.status);
            return false;
        }
        return true;
    };

    QTemporaryFile counted;
    if (!get(counted, QStringLiteral("count?")))
        return Answer::Failed;
    counted.seek(0);
    const QJsonObject json = QJsonDocument::fromJson(counted.readAll()).object();
    if (!json.value(QLatin1String("count")).isDouble()) {
        report.error = QStringLiteral("count? did not answer JSON with a count");
        return Answer::Failed;
    }
    const qint64 count = qint64(json.value(QLatin1String("count")).toDouble());
    if (count == 0)
        return Answer::Nothing;
    if (count > m_options.quakeSearchLimit) {
        report.error = QStringLiteral("more than %1 events").arg(m_options.quakeSearchLimit);
        return Answer::TooBig;
    }
    if (!get(body, QStringLiteral("csv?")))
        return Answer::Failed;
    if (body.size() == 0) {
        report.error = QStringLiteral("csv? answered nothing where count? said %1 events").arg(count);
        return Answer::Failed;
    }
    if (endsInsideLine(body)) {
        report.error = QStringLiteral("the CSV reply ends inside a row");
        return Answer::Failed;
    }
    expected = count;
    return Answer::Events;
}

ReadOutcome QuakeSearchClient::read(QIODevice &body, const RowSink &sink) const
{
    return CsvCatalogueReader::read(body, sink);
}

QString QuakeSearchClient::format() const
{
    return QStringLiteral("GeoNet quake search CSV");
}
