#include "upstream/upstream.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguewriter.h"
#include "formats/quakeml10writer.h"
#include "upstream/fdsneventclient.h"
#include "upstream/quakesearchclient.h"

#include <QTemporaryFile>

#include <httplib.h>

namespace {

// An event that the upstream has withdrawn.
bool isWithdrawn(const EventRow &row)
{
    return row.eventType.compare(QLatin1String("not existing"), Qt::CaseInsensitive) == 0
        || row.evaluationStatus.compare(QLatin1String("deleted"), Qt::CaseInsensitive) == 0;
}

// The upstream is asked a little wider than the window (its bounds may be
// strict where ours are inclusive); what is kept is exactly the window.
bool inWindow(const EventRow &row, const UpstreamWindow &window)
{
    if (row.originTimeUs < window.startUs || row.originTimeUs >= window.endUs)
        return false;
    if (isWithdrawn(row))
        return true;
    if (window.minMagnitude && (!row.magnitude || *row.magnitude < *window.minMagnitude))
        return false;
    return !(window.maxMagnitude && row.magnitude && *row.magnitude > *window.maxMagnitude);
}

} // namespace

namespace UpstreamTime {

QString text(std::int64_t microseconds)
{
    std::string out;
    QuakeML10Writer::appendTime(out, microseconds);
    return QString::fromStdString(out);
}

} // namespace UpstreamTime

std::unique_ptr<Upstream> Upstream::forUrl(const QString &text, const Options &options, QString *error)
{
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *error = QStringLiteral("the upstream must be an http or https URL, not '%1'").arg(text);
        return nullptr;
    }
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    url.setQuery(QString());
    if (url.path().endsWith(QLatin1String("fdsnws/event/1/")))
        return std::unique_ptr<Upstream>(new FdsnEventClient(url, options));
    return std::unique_ptr<Upstream>(new QuakeSearchClient(url, options));
}

FetchReport Upstream::fetch(const Catalogue &catalogue, const UpstreamWindow &window)
{
    FetchReport report;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(m_options.timeoutSeconds);
    CatalogueWriter writer(catalogue, m_url.host());
    if (!writer.begin()) {
        report.error = QStringLiteral("the catalogue cannot be written: %1").arg(writer.error());
        return report;
    }
    QString writeError;
    const bool collected = collect(window, deadline, [&](const EventRow &row) {
        if (!writeError.isEmpty() || !inWindow(row, window))
            return;
        if (!(isWithdrawn(row) ? writer.remove(row.publicId) : writer.write(row)))
            writeError = writer.error();
    }, report);
    if (collected && writeError.isEmpty() && writer.recordFetched(m_url.toString(), window)
        && writer.commit()) {
        report.added = writer.added();
        report.updated = writer.updated();
        report.removed = writer.removed();
        return report;
    }
    writer.rollback();
    if (report.error.isEmpty())
        report.error = QStringLiteral("the catalogue cannot be written: %1")
                           .arg(writeError.isEmpty() ? writer.error() : writeError);
    return report;
}

Upstream::Response Upstream::get(const QString &pathAndQuery, Clock::time_point deadline, QIODevice &body)
{
    Response response;
    {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        if (!m_gateFree.wait_until(lock, deadline, [this] { return m_active < m_options.maxConcurrentRequests; })) {
            response.error = QStringLiteral("no answer within %1 s").arg(m_options.timeoutSeconds);
            return response;
        }
        ++m_active;
    }

    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::int64_t remainingMs = std::max<std::int64_t>(remaining.count(), 1);
    const std::string origin = m_url.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
                                              | QUrl::StripTrailingSlash).toStdString();
    httplib::Client client(origin);
    client.set_connection_timeout(remainingMs / 1000, (remainingMs % 1000) * 1000);
    client.set_read_timeout(remainingMs / 1000, (remainingMs % 1000) * 1000);
    client.set_follow_location(true);
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    client.enable_server_certificate_verification(true);
#endif
    const httplib::Headers headers = { { "User-Agent", "Harvix/" HARVIX_VERSION " (harvix-gateway)" } };
    const std::string path = (m_url.path(QUrl::FullyEncoded) + pathAndQuery).toStdString();
    bool late = false;
    const httplib::Result result = client.Get(
        path, headers,
        [&response](const httplib::Response &reply) {
            response.status = reply.status;
            return true;
        },
        [&](const char *data, std::size_t length) {
            late = Clock::now() > deadline;
            return !late && body.write(data, qint64(length)) == qint64(length);
        });
    if (result)
        response.status = result->status;   // also where there was no body to receive
    const bool timedOut = late || Clock::now() + std::chrono::milliseconds(50) >= deadline;
    if (!result) {
        switch (result.error()) {
        case httplib::Error::Connection:
            response.error = timedOut ? QStringLiteral("no connection within %1 s").arg(m_options.timeoutSeconds)
                                      : QStringLiteral("could not establish connection");
            break;
        case httplib::Error::SSLConnection:
            response.error = QStringLiteral("the TLS connection failed");
            break;
        case httplib::Error::SSLServerVerification:
            response.error = QStringLiteral("the server's certificate was not accepted");
            break;
        default:
            response.error = timedOut ? QStringLiteral("no complete answer within %1 s").arg(m_options.timeoutSeconds)
                                      : QStringLiteral("the transfer failed (%1)")
                                            .arg(QString::fromStdString(httplib::to_string(result.error())));
        }
    }

    {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        --m_active;
    }
    m_gateFree.notify_one();
    return response;
}

QString Upstream::windowQuery(const UpstreamWindow &window, const QueryKeys &keys)
{
    constexpr std::int64_t secondUs = 1000000;
    constexpr double magnitudeMargin = 0.05;
    QString query = QStringLiteral("%1=%2&%3=%4")
                        .arg(QLatin1String(keys.start), UpstreamTime::text(window.startUs - secondUs),
                             QLatin1String(keys.end), UpstreamTime::text(window.endUs + secondUs));
    if (window.minMagnitude)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.minMagnitude)).arg(*window.minMagnitude - magnitudeMargin);
    if (window.maxMagnitude)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.maxMagnitude)).arg(*window.maxMagnitude + magnitudeMargin);
    if (window.updatedAfterUs)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.updatedAfter), UpstreamTime::text(*window.updatedAfterUs));
    return query;
}

bool Upstream::fetchInto(QTemporaryFile &body, const QString &pathAndQuery, Clock::time_point deadline,
                         Response &response, FetchReport &report)
{
    if (!body.open()) {
        report.error = QStringLiteral("no temporary file for the reply");
        return false;
    }
    ++report.requests;
    response = get(pathAndQuery, deadline, body);
    report.error = response.error;
    return response.error.isEmpty();
}

bool Upstream::halve(const UpstreamWindow &window, std::vector<UpstreamWindow> &pending, const QString &why,
                     FetchReport &report)
{
    if (window.endUs - window.startUs <= 2 * std::int64_t(1000000)) {
        report.error = QStringLiteral("%1 even within two seconds").arg(why);
        return false;
    }
    UpstreamWindow early = window, late = window;
    early.endUs = late.startUs = window.startUs + (window.endUs - window.startUs) / 2;
    pending.push_back(late);
    pending.push_back(early);
    return true;
}

bool Upstream::endsInsideLine(QTemporaryFile &body)
{
    return body.size() > 0 && (!body.seek(body.size() - 1) || body.read(1) != "\n");
}

bool Upstream::acceptOutcome(const ReadOutcome &outcome, const QString &expectedFormat, FetchReport &report)
{
    for (const auto &[reason, count] : outcome.skipped)
        report.skipped += count;
    if (outcome.failed()) {
        report.error = QStringLiteral("the reply is not %1 (line %2: %3)")
                           .arg(expectedFormat).arg(outcome.errorLine).arg(outcome.error);
        return false;
    }
    if (outcome.format != expectedFormat) {
        report.error = QStringLiteral("the reply is %1, not %2").arg(outcome.format, expectedFormat);
        return false;
    }
    return true;
}
