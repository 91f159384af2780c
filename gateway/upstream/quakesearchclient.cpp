#include "upstream/quakesearchclient.h"

#include "formats/csvcataloguereader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

UpstreamClient::Asked QuakeSearchClient::ask(const UpstreamWindow &window, QTemporaryFile &body, int &requests)
{
    static const UpstreamHttp::QueryKeys keys = { "startdate", "enddate", "minmag", "maxmag", "modificationtime",
                                                  UpstreamHttp::QueryKeys::Region::QuakeSearch };
    const QString query = UpstreamHttp::windowQuery(window, keys);
    const auto get = [&](QTemporaryFile &file, const QString &endpoint) {
        Asked asked = m_http.fetch(file, endpoint, query, requests);
        if (asked.answer == Answer::Nothing)
            asked = { Answer::Failed, QStringLiteral("%1 answered HTTP 204").arg(endpoint), std::nullopt };
        return asked;
    };
    const auto failed = [](const QString &why) { return Asked { Answer::Failed, why, std::nullopt }; };

    QTemporaryFile counted;
    if (Asked asked = get(counted, QStringLiteral("count?")); asked.answer != Answer::Events)
        return asked;
    counted.seek(0);
    const QJsonObject json = QJsonDocument::fromJson(counted.readAll()).object();
    if (!json.value(QLatin1String("count")).isDouble())
        return failed(QStringLiteral("count? did not answer JSON with a count"));
    const qint64 count = qint64(json.value(QLatin1String("count")).toDouble());
    const int limit = m_http.options().quakeSearchLimit;
    if (count == 0)
        return { Answer::Nothing, QString(), std::nullopt };
    if (count > limit)
        return { Answer::TooBig, QStringLiteral("more than %1 events").arg(limit), std::nullopt };
    if (Asked asked = get(body, QStringLiteral("csv?")); asked.answer != Answer::Events)
        return asked;
    if (body.size() == 0)
        return failed(QStringLiteral("csv? answered nothing where count? said %1 events").arg(count));
    if (UpstreamHttp::endsInsideLine(body))
        return failed(QStringLiteral("the CSV reply ends inside a row"));
    return { Answer::Events, QString(), count };
}

ReadOutcome QuakeSearchClient::read(QIODevice &body, const RowSink &sink) const
{
    return CsvCatalogueReader::read(body, sink);
}

QString QuakeSearchClient::format() const
{
    return QStringLiteral("GeoNet quake search CSV");
}
