#pragma once

// An UpstreamClient asks one service for the events of a window, in the
// service's own protocol, and reads what it answers. The mirror (Upstream)
// decides which windows to ask for and what to keep.

#include "catalogue/catalogue.h"
#include "catalogue/windows.h"
#include "formats/readoutcome.h"

#include <QString>

#include <optional>

class QIODevice;
class QTemporaryFile;

class UpstreamClient
{
public:
    enum class Answer { Events, Nothing, TooBig, Failed };
    // What a service said of a window: on Events the body holds the reply,
    // and expected how many rows it must hold where the service said so
    // beforehand; on TooBig and Failed, why.
    struct Asked
    {
        Answer answer = Answer::Failed;
        QString error;
        std::optional<qint64> expected;
    };

    virtual ~UpstreamClient() = default;

    // Asks for one window; requests counts each request made.
    virtual Asked ask(const UpstreamWindow &window, QTemporaryFile &body, int &requests) = 0;
    // Reads a reply that ask() brought.
    virtual ReadOutcome read(QIODevice &body, const RowSink &sink) const = 0;
    // The format its replies are in ("FDSN event text").
    virtual QString format() const = 0;
    // Whether a connection failed lately, so that it is not asked now.
    virtual bool isUnreachable() const = 0;
};
