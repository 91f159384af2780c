#pragma once

// An FDSN event service (fdsnws/event/1/): query? in the text format, or in
// QuakeML 1.2 when asked. 204 is an empty window; 413, a window over the
// service's cap, is halved and asked again.

#include "upstream/upstream.h"

class FdsnEventClient : public Upstream
{
public:
    FdsnEventClient(const QUrl &url, const Options &options) : Upstream(url, options) {}

protected:
    Answer ask(const UpstreamWindow &piece, QTemporaryFile &body, std::optional<qint64> &expected,
               FetchReport &report) override;
    ReadOutcome read(QIODevice &body, const RowSink &sink) const override;
    QString format() const override;
};
