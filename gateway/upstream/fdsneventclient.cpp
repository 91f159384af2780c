#include "upstream/fdsneventclient.h"

#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

Upstream::Answer FdsnEventClient::ask(const UpstreamWindow &piece, QTemporaryFile &body,
                                      std::optional<qint64> &, FetchReport &report)
{
    static const QueryKeys keys = { "starttime", "endtime", "minmagnitude", "maxmagnitude", "updatedafter", QueryKeys::Region::Fdsn };
    const QString format = m_options.fdsnXml ? QStringLiteral("&orderby=time-asc&format=xml")
                                             : QStringLiteral("&orderby=time-asc&format=text");
    Response response;
    if (!fetchInto(body, QStringLiteral("query?") + windowQuery(piece, keys) + format, response, report))
        return Answer::Failed;
    if (const Answer answer = answerOf(response.status, body, QStringLiteral("query?"), report);
        answer != Answer::Events)
        return answer;
    if (!m_options.fdsnXml && endsInsideLine(body)) {
        report.error = QStringLiteral("the text reply ends inside a line");
        return Answer::Failed;
    }
    return Answer::Events;
}

ReadOutcome FdsnEventClient::read(QIODevice &body, const RowSink &sink) const
{
    return m_options.fdsnXml ? QuakeML12Reader::read(body, sink) : FdsnTextReader::read(body, sink);
}

QString FdsnEventClient::format() const
{
    return m_options.fdsnXml ? QStringLiteral("QuakeML 1.2") : QStringLiteral("FDSN event text");
}
