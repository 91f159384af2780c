#pragma once

// QuakeMLReader walks a whole search reply, without any GUI: every
// <eventParameters> anywhere in the document is handed to a reader of its
// own, and readEventParameters turns each <event> child into one record
// through QuakeEventParser. A broken document keeps the events read before
// the break; the error is returned for the caller to report.

#include "quakeml/quakeeventparser.h"
#include "quakeml/quakeeventrecord.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class QXmlStreamReader;
class ReplyBody;

struct QuakeMLError
{
    QString text;    // empty when the document was read without error
    qint64 line = 0;
    qint64 column = 0;

    bool isError() const { return !text.isEmpty(); }
};

class QuakeMLReader
{
public:
    // The reply body as text: one character per byte (Latin-1), up to the
    // first zero byte. The document's own encoding declaration plays no part.
    static QString decodeReply(const QByteArray &body);

    // QXmlStreamReader checks each attribute of an element against all the
    // ones before it, so an element with hundreds of thousands of attributes
    // would hold the window for minutes. A document is read only up to the
    // first tag that holds more '=' signs than this outside its quoted
    // values, and that place is reported as an XML error. Text, comments,
    // CDATA sections and processing instructions are not counted.
    static constexpr int MaximumAttributes = 10000;

    // Calls readEventParameters for every <eventParameters> start tag, with
    // the reader standing on it; it must leave the reader on the element's
    // end tag (or wherever the document ended or broke). Takes the text by
    // value: the reader keeps its own copy, so a caller that moves the text
    // in has it freed before the walk begins.
    static QuakeMLError readDocument(QString text,
                                     const std::function<void(QXmlStreamReader &)> &readEventParameters);

    // The same walk over a reply's body, as decodeReply reads it, with the
    // same events and the same error, but without ever holding the document
    // as text: the reader takes the bytes a few kilobytes at a time. Takes
    // the body by value for the same reason as readDocument.
    static QuakeMLError readReply(QByteArray body,
                                  const std::function<void(QXmlStreamReader &)> &readEventParameters);
    // The same over a body that may still be arriving, read as it arrives.
    static QuakeMLError readReply(ReplyBody &body,
                                  const std::function<void(QXmlStreamReader &)> &readEventParameters);

    // The same walk with readEventParameters below, into the given store.
    static QuakeMLError readDocument(QString text, QuakeEventStore &store);

    // Reads the children of the <eventParameters> element that the reader
    // stands on, through its end tag: each <event> becomes one entry of the
    // store, every other child is skipped whole.
    static void readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store);
    // The same, noting each event's location as it is read (in document
    // order, repeated identifiers included; see StoreOrder).
    static void readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store,
                                    std::vector<LocatedEvent> &located, std::vector<RawEvent> *raw = nullptr);
    // Reads the events as readEventParameters does but converts none: each
    // event's texts go to took, for QuakeEventParser(Texts) and storeEvent,
    // which may run on another thread.
    static void readEventTexts(QXmlStreamReader &reader,
                               const std::function<void(QuakeEventParser::Texts &&)> &took);
    // Stores the event that a parser made and notes it, as
    // readEventParameters does with each event it reads.
    static void storeEvent(QuakeEventParser &parser, QuakeEventStore &store, std::vector<LocatedEvent> &located,
                           std::vector<RawEvent> *raw);
};
