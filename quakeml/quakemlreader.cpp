#include "quakeml/quakemlreader.h"

#include "quakeml/floodscan.h"
#include "quakeml/latin1source.h"
#include "quakeml/quakeeventparser.h"
#include "quakeml/replybody.h"
#include "quakeml/xmldeclaration.h"

#include <QXmlStreamReader>

#include <cstring>
#include <algorithm>
#include <limits>

namespace {

// Walks the whole document, handing every <eventParameters> to
// readEventParameters; the reader stops at the first break of the document.
void walk(QXmlStreamReader &reader, const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement
            && reader.name() == u"eventParameters")
            readEventParameters(reader);
    }
}

// What a walk reports. When the text was cut at a flood (floodAt), the end
// that the cut makes is reported as the flood; an earlier break of the
// document's own is reported as itself.
QuakeMLError ending(const QXmlStreamReader &reader, const QuakeMLError &floodAt)
{
    const bool endsAtCut = !reader.hasError()
        || reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    if (floodAt.isError() && endsAtCut)
        return floodAt;
    QuakeMLError error;
    if (reader.hasError()) {
        error.text = reader.errorString();
        error.line = reader.lineNumber();
        error.column = reader.columnNumber();
    }
    return error;
}

qsizetype textLength(const QByteArray &body)
{
    const void *zero = std::memchr(body.constData(), 0, std::size_t(body.size()));
    return zero ? static_cast<const char *>(zero) - body.constData() : body.size();
}
} // namespace

QString QuakeMLReader::decodeReply(const QByteArray &body)
{
    return QString::fromLatin1(body.constData(), textLength(body));
}

QuakeMLError QuakeMLReader::readDocument(QString text, QuakeEventStore &store)
{
    return readDocument(std::move(text),
                        [&store](QXmlStreamReader &reader) { readEventParameters(reader, store); });
}

QuakeMLError QuakeMLReader::readDocument(QString text,
                                         const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    FloodSearch::Arriving<QStringView> whole { QStringView(text) };
    const qsizetype flood = FloodSearch::findAttributeFlood(whole);
    QuakeMLError floodAt;
    if (flood >= 0) {
        floodAt = FloodSearch::floodError(QStringView(text), flood);
        text.truncate(flood);
    }
    QXmlStreamReader reader(text);
    text = QString();
    walk(reader, readEventParameters);
    return ending(reader, floodAt);
}

QuakeMLError QuakeMLReader::readReply(QByteArray body,
                                      const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    ReplyBody whole(std::move(body));
    return readReply(whole, readEventParameters);
}

QuakeMLError QuakeMLReader::readReply(ReplyBody &body,
                                      const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    const qsizetype blank = XmlDeclaration::toBlank(body);
    if (blank < 0) {
        QString text = QString::fromLatin1(body.data(), body.wholeLength());
        body.drop();
        return readDocument(std::move(text), readEventParameters);
    }
    FloodScan scan(body);
    if (scan.clearedBeyond(3) < 4) {
        // Too little before a flood, or at all, for a device reader to begin on.
        QXmlStreamReader reader(QString::fromLatin1(body.data(), scan.clearedBeyond(3)));
        walk(reader, readEventParameters);
        return ending(reader, scan.error());
    }
    QuakeMLError error;
    {
        Latin1Source source(body, scan, blank);
        QXmlStreamReader reader(&source);
        walk(reader, readEventParameters);
        scan.clearedBeyond(std::numeric_limits<qsizetype>::max() - 1);   // until the scan is done
        error = ending(reader, scan.error());
    }
    // A reader that stopped early leaves the rest arriving.
    if (body.isWhole())
        body.drop();
    return error;
}

namespace {

// Hands each <event> child of the <eventParameters> that the reader stands
// on to readEvent, which reads it through its end tag; every other child is
// skipped whole.
template <typename ReadEvent>
void walkEvents(QXmlStreamReader &reader, const ReadEvent &readEvent)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == u"event")
            readEvent();
        else
            reader.skipCurrentElement();
    }
}

// Stores the event that a parser read, returning its identifier in the
// store. A later event with the same identifier replaces the earlier one.
const std::string &store(QuakeEventParser &parser, QuakeEventStore &store)
{
    std::string eventId;
    QuakeFieldMap fields;
    parser.takeQuakeEvent(eventId, fields);
    return store.insert_or_assign(std::move(eventId), std::move(fields)).first->first;
}

} // namespace

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store,
                                        std::vector<LocatedEvent> &located, std::vector<RawEvent> *raw)
{
    walkEvents(reader, [&] {
        QuakeEventParser parser(reader);
        storeEvent(parser, store, located, raw);
    });
}

void QuakeMLReader::readEventTexts(QXmlStreamReader &reader,
                                   const std::function<void(QuakeEventParser::Texts &&)> &took)
{
    walkEvents(reader, [&] { took(QuakeEventParser::readTexts(reader)); });
}

void QuakeMLReader::storeEvent(QuakeEventParser &parser, QuakeEventStore &store, std::vector<LocatedEvent> &located,
                               std::vector<RawEvent> *raw)
{
    const std::string &eventId = ::store(parser, store);
    const std::size_t length = parser.referenceLength();
    located.push_back({ &eventId, parser.location(), parser.utcSeconds(),
                        length == std::string::npos ? -1 : std::int32_t(std::min<std::size_t>(length, INT32_MAX)),
                        raw && raw->size() < INT32_MAX ? std::int32_t(raw->size()) : -1 });
    if (raw)
        raw->push_back(parser.rawEvent(&eventId));
}

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store)
{
    walkEvents(reader, [&] {
        QuakeEventParser parser(reader);
        ::store(parser, store);
    });
}
