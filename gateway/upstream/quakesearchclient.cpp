#include "upstream/quakesearchclient.h"

#include "formats/csvcataloguereader.h"

#include <QJsonDocument>
#include <QJsonObject>

QString QuakeSearchClient::query(const UpstreamWindow &window)
{
    static const QueryKeys keys = { "startdate", "enddate", "minmag", "maxmag", "modificationtime", QueryKeys::Region::QuakeSearch };
    return windowQuery(window, keys);
}

Upstream::Answer QuakeSearchClient::ask(const UpstreamWindow &piece, QTemporaryFile &body,
                                        std::optional<qint64> &expected, FetchReport &report)
{
    const auto get = [&](QTemporaryFile &file, const QString &endpoint) {
        Response response;
        if (!fetchInto(file, endpoint + query(piece), response, report))
            return Answer::Failed;
        const Answer answer = answerOf(response.status, file, endpoint, report);
        if (answer == Answer::Nothing) {
            report.error = QStringLiteral("%1 answered HTTP 204").arg(endpoint);
            return Answer::Failed;
        }
        return answer;
    };

    QTemporaryFile counted;
    if (const Answer answer = get(counted, QStringLiteral("count?")); answer != Answer::Events)
        return answer;
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
    if (const Answer answer = get(body, QStringLiteral("csv?")); answer != Answer::Events)
        return answer;
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
