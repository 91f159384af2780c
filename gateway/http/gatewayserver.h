#pragma once

// The gateway's routes: Harvix's search, the page of one event, the home
// page and the FDSN event service, each a service of its own over one
// catalogue, served over HTTP by the transport.

#include "http/fdsnservice.h"
#include "http/httptransport.h"
#include "http/pageservice.h"
#include "http/searchservice.h"
#include "http/sequenceservice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class Catalogue;
class Upstream;

class GatewayServer : public HttpHandler
{
public:
    struct Limits : HttpTransport::Limits
    {
        // The most events that one FDSN query may give; none by default.
        std::optional<std::int64_t> maxEvents;
    };

    GatewayServer(const Catalogue &catalogue, const Limits &limits);

    // Binding, starting and stopping.
    HttpTransport &transport() { return m_transport; }

    // Each search first brings the catalogue up to date from the upstream
    // for its window, unless that window was fetched in the last minutes;
    // it starts no new piece of the window after the seconds given.
    void setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds = 20);

    // Where the server says what its clients are not told (why the
    // catalogue cannot be reached), once as it happens and once as it ends.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

    void answer(const HttpRequest &request, HttpReply &reply) override;

private:
    std::function<void(const QString &)> m_log;
    std::atomic<bool> m_away { false };
    const Catalogue &m_catalogue;
    SearchService m_search;
    PageService m_pages;
    const FdsnService m_fdsn;
    const SequenceService m_sequences;
    HttpTransport m_transport;
};
