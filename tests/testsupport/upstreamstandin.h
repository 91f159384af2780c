#pragma once

// A loopback stand-in for the services the gateway copies from: GeoNet's
// quake search (count? and csv?) or an FDSN event service (query? in text
// or QuakeML 1.2), serving a set of events filtered by time and magnitude
// as those services do, with a cap on the events of one reply, and a hook
// through which a test makes it misbehave. It runs on threads of its own.

#include "catalogue/eventrow.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}

class UpstreamStandIn
{
public:
    enum class Protocol { QuakeSearch, Fdsn };

    struct Event
    {
        EventRow row;
        QByteArray csvLine;          // the quake search CSV row, as the file has it
        std::int64_t modifiedUs = 0; // when the service last changed it
    };

    explicit UpstreamStandIn(Protocol protocol);
    ~UpstreamStandIn();

    // Loads events: the quake search CSV (rows kept verbatim), or FDSN text
    // or QuakeML 1.2 files, whose events the text replies are made from.
    bool load(const QString &path);
    // The QuakeML 1.2 document served whole, for format=xml, whenever its
    // window holds any event.
    void setXmlDocument(const QByteArray &document) { m_xml = document; }
    // An event of the service; a quake search CSV row is made for it when
    // none is given. Safe while it serves.
    void addEvent(const EventRow &row, const QByteArray &csvLine = QByteArray(), std::int64_t modifiedUs = 0);
    // The service revises an event (it is changed at modifiedUs), or drops
    // it, as FDSN services drop a deleted event without a mark.
    void reviseEvent(const EventRow &row, std::int64_t modifiedUs);
    void dropEvent(const QString &publicId);
    // Over its cap a service refuses (quake search 500, FDSN 413), answers
    // as USGS does (400, "N matching events exceeds search limit of CAP"),
    // or silently sends its first CAP events (some services; a proxy).
    enum class CapStyle { Refuse, Usgs, Silent };
    void setCap(int events, CapStyle style = CapStyle::Refuse)
    {
        m_cap = events;
        m_capStyle = style;
    }

    // Returns true when it has answered the request itself.
    using Fault = std::function<bool(const httplib::Request &, httplib::Response &)>;
    void setFault(Fault fault);

    bool start();
    QString url() const;
    int port() const { return m_port; }
    int requests() const { return m_requests; }
    // Releases requests that a fault holds, and stops.
    void stop();
    bool stopping() const { return m_stopping; }

private:
    void reply(const httplib::Request &request, httplib::Response &response);
    std::vector<Event> select(const httplib::Request &request, bool strictMagnitudes) const;

    Protocol m_protocol;
    mutable std::mutex m_eventsMutex;
    mutable std::vector<Event> m_events;
    mutable bool m_sorted = true;
    QByteArray m_csvHeader;
    QByteArray m_xml;
    std::atomic<int> m_cap { 1000000 };
    std::atomic<CapStyle> m_capStyle { CapStyle::Refuse };
    Fault m_fault;
    std::mutex m_faultMutex;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<int> m_requests { 0 };
    std::atomic<bool> m_stopping { false };
};
