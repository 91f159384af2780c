#include "upstream/fdsneventclient.h"

#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"


namespace {

constexpr double MagnitudeMargin = 0.05;  // the service's bounds are strict
constexpr std::int64_t SecondUs = 1000000;

QString queryOf(const UpstreamWindow &window, bool xml)
{
    QString query = QStringLiteral("query?starttime=%1&endtime=%2")
                        .arg(UpstreamTime::text(window.startUs - SecondUs), UpstreamTime::text(window.endUs + SecondUs));
    if (window.minMagnitude)
        query += QStringLiteral("&minmagnitude=%1").arg(*window.minMagnitude - MagnitudeMargin);
    if (window.maxMagnitude)
        query += QStringLiteral("&maxmagnitude=%1").arg(*window.maxMagnitude + MagnitudeMargin);
    if (window.updatedAfterUs)
        query += QStringLiteral("&updatedafter=%1").arg(UpstreamTime::text(*window.updatedAfterUs));
    query += xml ? QStringLiteral("&orderby=time-asc&format=xml") : QStringLiteral("&orderby=time-asc&format=text");
    return query;
}

} // namespace

bool FdsnEventClient::collect(const UpstreamWindow &window, Clock::time_point deadline,
                              const RowSink &sink, FetchReport &report)
{
    std::vector<UpstreamWindow> pending = { window };
    while (!pending.empty()) {
        const UpstreamWindow piece = pending.back();
        pending.pop_back();

        QTemporaryFile body;
        Response response;
        if (!fetchInto(body, queryOf(piece, m_options.fdsnXml), deadline, response, report))
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
