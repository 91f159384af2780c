#pragma once

// GeoNet's quake search service: count? tells how many events a window
// holds, csv? returns them in the 21-column CSV, at most a limit a reply.
// A window over the limit is halved until every piece is under it, and a
// CSV reply with fewer rows than count? announced is a failure.

#include "upstream/upstream.h"

class QuakeSearchClient : public Upstream
{
public:
    QuakeSearchClient(const QUrl &url, const Options &options) : Upstream(url, options) {}

protected:
    Answer ask(const UpstreamWindow &piece, QTemporaryFile &body, std::optional<qint64> &expected,
               FetchReport &report) override;
    ReadOutcome read(QIODevice &body, const RowSink &sink) const override;
    QString format() const override;

private:
    static QString query(const UpstreamWindow &window);
};
