#include "upstream/fdsneventclient.h"

#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

bool FdsnEventClient::collect(const UpstreamWindow &window, Clock::time_point deadline,
                              const RowSink &sink, FetchReport &report)
{
    static const QueryKeys keys = { "starttime", "endtime", "minmagnitude", "maxmagnitude", "updatedafter" };
    const QString format = m_options.fdsnXml ? QStringLiteral("&orderby=time-asc&format=xml")
                                             : QStringLiteral("&orderby=time-asc&format=text");
    std::vector<UpstreamWindow> pending = { window };
    while (!pending.empty()) {
        const UpstreamWindow piece = pending.back();
        pending.pop_back();

        QTemporaryFile body;
        Response response;
        if (!fetchInto(body, QStringLiteral("query?") + windowQuery(piece, keys) + format, deadline, response, report))
            return false;
        if (response.status == 204)
            continue;
        if (response.status == 413) {
            if (!halve(piece, pending, QStringLiteral("the service refuses the events (HTTP 413)"), report))
                return false;
            continue;
        }
        if (response.status != 200) {
            report.error = QStringLiteral("query? answered HTTP %1").arg(response.status);
            return false;
        }
        if (!m_options.fdsnXml && endsInsideLine(body)) {
            report.error = QStringLiteral("the text reply ends inside a line");
            return false;
        }
        body.seek(0);
        const bool accepted = m_options.fdsnXml
            ? acceptOutcome(QuakeML12Reader::read(body, sink), QStringLiteral("QuakeML 1.2"), report)
            : acceptOutcome(FdsnTextReader::read(body, sink), QStringLiteral("FDSN event text"), report);
        if (!accepted)
            return false;
    }
    return true;
}
