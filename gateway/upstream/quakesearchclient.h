#pragma once

// GeoNet's quake search service: count? tells how many events a window
// holds, csv? returns them in the 21-column CSV, at most a limit a reply.
// A window over the limit is halved until every piece is under it, and a
// CSV reply with fewer rows than count? announced is a failure.

#include "upstream/upstreamhttp.h"

class QuakeSearchClient : public UpstreamClient
{
public:
    QuakeSearchClient(const QUrl &url, const UpstreamOptions &options) : m_http(url, options) {}

    Asked ask(const UpstreamWindow &window, QTemporaryFile &body, int &requests) override;
    ReadOutcome read(QIODevice &body, const RowSink &sink) const override;
    QString format() const override;
    bool isUnreachable() const override { return m_http.isUnreachable(); }

private:
    UpstreamHttp m_http;
};
