#pragma once

// An FDSN event service (fdsnws/event/1/): query? in the text format, or in
// QuakeML 1.2 when asked. 204 is an empty window; 413, a window over the
// service's cap, is halved and asked again.

#include "upstream/upstreamhttp.h"

class FdsnEventClient : public UpstreamClient
{
public:
    FdsnEventClient(const QUrl &url, const UpstreamOptions &options) : m_http(url, options) {}

    Asked ask(const UpstreamWindow &window, QTemporaryFile &body, int &requests) override;
    ReadOutcome read(QIODevice &body, const RowSink &sink) const override;
    QString format() const override;
    bool isUnreachable() const override { return m_http.isUnreachable(); }

private:
    UpstreamHttp m_http;
};
