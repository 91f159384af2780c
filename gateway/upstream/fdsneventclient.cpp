#include "upstream/fdsneventclient.h"

#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

#include <QTemporaryFile>

UpstreamClient::Asked FdsnEventClient::ask(const UpstreamWindow &window, QTemporaryFile &body, int &requests)
{
    static const UpstreamHttp::QueryKeys keys = { "starttime", "endtime", "minmagnitude", "maxmagnitude", "updatedafter",
                                                  UpstreamHttp::QueryKeys::Region::Fdsn };
    const bool xml = m_http.options().fdsnXml;
    const QString format = xml ? QStringLiteral("&orderby=time-asc&format=xml") : QStringLiteral("&orderby=time-asc&format=text");
    const Asked asked = m_http.fetch(body, QStringLiteral("query?"), UpstreamHttp::windowQuery(window, keys) + format, requests);
    if (asked.answer == Answer::Events && !xml && UpstreamHttp::endsInsideLine(body))
        return { Answer::Failed, QStringLiteral("the text reply ends inside a line"), std::nullopt };
    return asked;
}

ReadOutcome FdsnEventClient::read(QIODevice &body, const RowSink &sink) const
{
    return m_http.options().fdsnXml ? QuakeML12Reader::read(body, sink) : FdsnTextReader::read(body, sink);
}

QString FdsnEventClient::format() const
{
    return m_http.options().fdsnXml ? QStringLiteral("QuakeML 1.2") : QStringLiteral("FDSN event text");
}
