#pragma once

// QuakeMLReader walks a whole search reply into an event store, without any
// GUI: every <eventParameters> anywhere in the document is walked, and each of
// its <event> children becomes one record through QuakeEventParser. A broken
// document keeps the events read before the break; the error is returned for
// the caller to report.

#include "quakeml/quakeeventrecord.h"

#include <QByteArray>
#include <QString>

class QXmlStreamReader;

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
    // first place where more '=' signs than this stand between two '<' (an
    // attribute value cannot hold a '<'), and that place is reported as an
    // XML error.
    static constexpr int MaximumAttributes = 10000;

    // Takes the text by value: the reader keeps its own copy, so a caller
    // that moves the text in has it freed before the walk begins.
    static QuakeMLError readDocument(QString text, QuakeEventStore &store);

    // Reads the children of the <eventParameters> element that the reader
    // stands on, through its end tag.
    static void readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store);

    // Moves to the next child element of the element being read. False at
    // that element's end tag, at the end of the document or on an error;
    // text, comments and processing instructions are passed over.
    static bool readNextChild(QXmlStreamReader &reader);

    // Consumes the element that the reader stands on with everything inside
    // it, through its end tag. Counts depth instead of recursing, so that no
    // nesting, however deep, can exhaust the stack.
    static void skipElement(QXmlStreamReader &reader);
};
