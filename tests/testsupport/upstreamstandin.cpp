#include "testsupport/upstreamstandin.h"

#include "formats/cataloguefile.h"
#include "quakeml/text.h"

#include <QDateTime>
#include <QFile>
#include <QList>

#include <httplib.h>

#include <algorithm>

namespace {

std::int64_t microsecondsOf(const std::string &text)
{
    QDateTime time = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time.isValid() ? time.toMSecsSinceEpoch() * 1000 : 0;
}

QByteArray number(const std::optional<double> &value)
{
    std::string text;
    if (value)
        Text::appendNumber(text, *value);
    return QByteArray::fromStdString(text);
}

QByteArray fdsnTextLine(const EventRow &row)
{
    std::string time;
    Text::appendTime(time, row.originTimeUs);
    return row.publicId.toUtf8() + '|' + QByteArray::fromStdString(time) + '.'
        + QByteArray::number(row.originTimeUs % 1000000 / 1000).rightJustified(3, '0') + "Z|"
        + number(row.latitude) + '|' + number(row.longitude) + '|' + number(row.depthKm) + "|||||"
        + row.magnitudeType.toUtf8() + '|' + number(row.magnitude) + "|||" + row.eventType.toUtf8() + '\n';
}

} // namespace

UpstreamStandIn::UpstreamStandIn(Protocol protocol)
    : m_protocol(protocol)
    , m_server(std::make_unique<httplib::Server>())
{
}

UpstreamStandIn::~UpstreamStandIn()
{
    stop();
}

bool UpstreamStandIn::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (m_protocol == Protocol::QuakeSearch) {
        // Rows are kept as the file has them; the header names the columns.
        QFile rows(path);
        rows.open(QIODevice::ReadOnly);
        m_csvHeader = rows.readLine();
        return !CatalogueFile::read(file, [this, &rows](const EventRow &row) {
                   QByteArray line = rows.readLine();
                   while (!line.isEmpty() && !line.startsWith(row.publicId.toUtf8() + ','))
                       line = rows.readLine();
                   addEvent(row, line);
               }).failed();
    }
    return !CatalogueFile::read(file, [this](const EventRow &row) { addEvent(row); }).failed();
}

void UpstreamStandIn::addEvent(const EventRow &row, const QByteArray &csvLine, std::int64_t modifiedUs)
{
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    if (m_csvHeader.isEmpty())
        m_csvHeader = "publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude,depth,magnitudetype\n";
    QByteArray line = csvLine;
    if (line.isEmpty()) {
        std::string time;
        Text::appendTime(time, row.originTimeUs);
        line = row.publicId.toUtf8() + ',' + row.eventType.toUtf8() + ',' + QByteArray::fromStdString(time) + "Z,,"
            + number(row.longitude) + ',' + number(row.latitude) + ',' + number(row.magnitude) + ','
            + number(row.depthKm) + ',' + row.magnitudeType.toUtf8() + '\n';
    }
    m_events.push_back({ row, line, modifiedUs });
    m_sorted = false;
}

void UpstreamStandIn::reviseEvent(const EventRow &row, std::int64_t modifiedUs)
{
    dropEvent(row.publicId);
    addEvent(row, QByteArray(), modifiedUs);
}

void UpstreamStandIn::dropEvent(const QString &publicId)
{
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                                  [&](const Event &event) { return event.row.publicId == publicId; }),
                   m_events.end());
}

void UpstreamStandIn::setFault(Fault fault)
{
    std::lock_guard<std::mutex> lock(m_faultMutex);
    m_fault = std::move(fault);
}

bool UpstreamStandIn::start()
{
    const char *pattern = m_protocol == Protocol::QuakeSearch ? "/(count|csv)" : "/fdsnws/event/1/query";
    m_server->Get(pattern, [this](const httplib::Request &request, httplib::Response &response) {
        ++m_requests;
        reply(request, response);
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // Until the loop runs, the library's stop() does nothing.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void UpstreamStandIn::stop()
{
    m_stopping = true;
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString UpstreamStandIn::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/%2")
        .arg(m_port)
        .arg(m_protocol == Protocol::Fdsn ? QStringLiteral("fdsnws/event/1/") : QString());
}

std::vector<UpstreamStandIn::Event> UpstreamStandIn::select(const httplib::Request &request,
                                                           bool strictMagnitudes) const
{
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    if (!m_sorted) {
        std::stable_sort(m_events.begin(), m_events.end(),
                         [](const Event &a, const Event &b) { return a.row.originTimeUs < b.row.originTimeUs; });
        m_sorted = true;
    }
    const bool fdsn = m_protocol == Protocol::Fdsn;
    const std::int64_t start = microsecondsOf(request.get_param_value(fdsn ? "starttime" : "startdate"));
    const std::int64_t end = microsecondsOf(request.get_param_value(fdsn ? "endtime" : "enddate"));
    const std::string minKey = fdsn ? "minmagnitude" : "minmag";
    const std::string maxKey = fdsn ? "maxmagnitude" : "maxmag";
    const std::string changedKey = fdsn ? "updatedafter" : "modificationtime";
    const std::int64_t changedAfter = request.has_param(changedKey.c_str())
        ? microsecondsOf(request.get_param_value(changedKey.c_str())) : -1;
    std::vector<Event> selected;
    for (const Event &event : m_events) {
        const EventRow &row = event.row;
        if (row.originTimeUs < start || row.originTimeUs > end || event.modifiedUs <= changedAfter)
            continue;
        if (request.has_param(minKey.c_str())) {
            const double bound = std::stod(request.get_param_value(minKey.c_str()));
            if (!row.magnitude || (strictMagnitudes ? *row.magnitude <= bound : *row.magnitude < bound))
                continue;
        }
        if (request.has_param(maxKey.c_str())) {
            const double bound = std::stod(request.get_param_value(maxKey.c_str()));
            if (!row.magnitude || (strictMagnitudes ? *row.magnitude >= bound : *row.magnitude > bound))
                continue;
        }
        selected.push_back(event);
    }
    return selected;
}

void UpstreamStandIn::reply(const httplib::Request &request, httplib::Response &response)
{
    {
        std::lock_guard<std::mutex> lock(m_faultMutex);
        if (m_fault && m_fault(request, response))
            return;
    }
    if (m_protocol == Protocol::QuakeSearch) {
        const std::vector<Event> events = select(request, false);
        if (request.path == "/count") {
            response.set_content("{\"count\": " + std::to_string(events.size()) + "}", "application/json");
            return;
        }
        if (int(events.size()) > m_cap) {
            response.status = 500;
            response.set_content("too many events", "text/plain");
            return;
        }
        std::string body = m_csvHeader.toStdString();
        for (const Event &event : events)
            body += event.csvLine.toStdString();
        response.set_content(body, "text/csv");
        return;
    }

    // GeoNet's FDSN service: strict magnitude bounds, 413 over its cap, 204 for nothing.
    std::vector<Event> events = select(request, true);
    if (int(events.size()) > m_cap) {
        switch (m_capStyle.load()) {
        case CapStyle::Refuse:
            response.status = 413;
            response.set_content("Request Entity Too Large", "text/plain");
            return;
        case CapStyle::Usgs:
            response.status = 400;
            response.set_content("Error 400: Bad Request\n\n" + std::to_string(events.size())
                                     + " matching events exceeds search limit of " + std::to_string(m_cap)
                                     + ". Modify the search to match fewer events.\n\nUsage details are available"
                                       " from https://earthquake.usgs.gov/fdsnws/event/1\n",
                                 "text/plain");
            return;
        case CapStyle::Silent:
            events.resize(std::size_t(m_cap.load()));
            break;
        }
    }
    if (events.empty()) {
        response.status = 204;
        return;
    }
    if (request.get_param_value("format") == "xml") {
        response.set_content(m_xml.toStdString(), "application/xml");
        return;
    }
    std::string body = "#EventID | Time | Latitude | Longitude | Depth/km | Author | Catalog | Contributor"
                       " | ContributorID | MagType | Magnitude | MagAuthor | EventLocationName | EventType\n";
    for (const Event &event : events)
        body += fdsnTextLine(event.row).toStdString();
    response.set_content(body, "text/plain");
}
