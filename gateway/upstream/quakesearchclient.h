#pragma once

// GeoNet's quake search service: count? tells how many events a window
// holds, csv? returns them in the 21-column CSV, at most a limit a reply.
// A window over the limit is halved until every piece is under it.

#include "upstream/upstream.h"

class QuakeSearchClient : public Upstream
{
public:
    QuakeSearchClient(const QUrl &url, const Options &options) : Upstream(url, options) {}

protected:
    bool collect(const UpstreamWindow &window, Clock::time_point deadline, const RowSink &sink,
                 FetchReport &report) override;

private:
    static QString query(const UpstreamWindow &window);
};
