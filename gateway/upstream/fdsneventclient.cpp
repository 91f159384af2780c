#include "upstream/fdsneventclient.h"

#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

#include <QTemporaryFile>

#include <vector>

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
        if (!body.open()) {
            report.error = QStringLiteral("no temporary file for the reply");
            return false;
        }
        ++report.requests;
        const Response response = get(queryOf(piece, m_options.fdsnXml), deadline, body);
        if (!response.error.isEmpty()) {
            report.error = response.error;
            return false;
        }
        if (response.status == 204)
            continue;
        if (response.status == 413) {
            if (piece.endUs - piece.startUs <= 2 * SecondUs) {
                report.error = QStringLiteral("the service refuses even two seconds of events (HTTP 413)");
                return false;
            }
            UpstreamWindow early = piece, late = piece;
            early.endUs = late.startUs = piece.startUs + (piece.endUs - piece.startUs) / 2;
            pending.push_back(late);
            pending.push_back(early);
            continue;
        }
        if (response.status != 200) {
            report.error = QStringLiteral("query? answered HTTP %1").arg(response.status);
            return false;
        }
        if (!m_options.fdsnXml && body.size() > 0 && (!body.seek(body.size() - 1) || body.read(1) != "\n")) {
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
