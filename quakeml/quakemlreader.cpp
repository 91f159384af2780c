#include "quakeml/quakemlreader.h"

#include <algorithm>
#include <iterator>

#include "quakeml/quakeeventparser.h"

#include <QXmlStreamReader>

#include <cstring>

QString QuakeMLReader::decodeReply(const QByteArray &body)
{
    const char *data = body.constData();
    const void *zero = std::memchr(data, 0, std::size_t(body.size()));
    const qsizetype length = zero ? static_cast<const char *>(zero) - data : body.size();
    return QString::fromLatin1(data, length);
}

namespace {

// The offset of the '<' of the first tag that holds more than
// QuakeMLReader::MaximumAttributes '=' signs outside its quoted values, or
// -1. Quoted values may hold '=' and '>'; comments, CDATA sections and
// processing instructions are passed over whole, and text is not a tag.
qsizetype findAttributeFlood(QStringView text)
{
    const qsizetype size = text.size();
    const char16_t *const chars = text.utf16();
    auto startsWith = [&](qsizetype pos, QStringView prefix) {
        return text.mid(pos, prefix.size()) == prefix;
    };
    // Past the terminator, or to the end; QStringView's searches are vectorised.
    auto skipPast = [&](qsizetype pos, QStringView terminator) {
        const qsizetype found = text.indexOf(terminator, pos);
        return found < 0 ? size : found + terminator.size();
    };
    qsizetype pos = 0;
    while ((pos = text.indexOf(u'<', pos)) >= 0) {
        const char16_t next = pos + 1 < size ? chars[pos + 1] : u'\0';
        if (next == u'!' && startsWith(pos, u"<!--")) {
            pos = skipPast(pos + 4, u"-->");
            continue;
        }
        if (next == u'!' && startsWith(pos, u"<![CDATA[")) {
            pos = skipPast(pos + 9, u"]]>");
            continue;
        }
        if (next == u'?') {
            pos = skipPast(pos + 2, u"?>");
            continue;
        }
        const qsizetype tagStart = pos++;
        int equalSigns = 0;
        while (pos < size) {
            const char16_t c = chars[pos++];
            if (c > u'>')   // names and most of a tag: none of "'<=>
                continue;
            if (c == u'"' || c == u'\'') {
                const qsizetype close = text.indexOf(QChar(c), pos);
                pos = close < 0 ? size : close + 1;
            } else if (c == u'>') {
                break;
            } else if (c == u'<') {
                --pos; // an unclosed tag; the reader stops there anyway
                break;
            } else if (c == u'=' && ++equalSigns > QuakeMLReader::MaximumAttributes) {
                return tagStart;
            }
        }
    }
    return -1;
}

QuakeMLError floodError(QStringView text, qsizetype offset)
{
    QuakeMLError error;
    error.text = QStringLiteral("An element has more than %1 attributes.")
                     .arg(QuakeMLReader::MaximumAttributes);
    const QStringView before = text.left(offset);
    error.line = before.count(u'\n') + 1;
    error.column = offset - (before.lastIndexOf(u'\n') + 1);
    return error;
}

} // namespace

QuakeMLError QuakeMLReader::readDocument(QString text, QuakeEventStore &store)
{
    return readDocument(std::move(text),
                        [&store](QXmlStreamReader &reader) { readEventParameters(reader, store); });
}

QuakeMLError QuakeMLReader::readDocument(QString text,
                                         const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    const qsizetype flood = findAttributeFlood(text);
    QuakeMLError floodAt;
    if (flood >= 0) {
        floodAt = floodError(text, flood);
        text.truncate(flood);
    }

    QXmlStreamReader reader(text);
    text = QString();
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement
            && reader.name() == u"eventParameters")
            readEventParameters(reader);
    }

    // The events before the flood are kept, as they are before any other
    // break in a document. The end that the cut makes is reported as the
    // flood; an earlier break of the document's own is reported as itself.
    const bool endsAtCut = !reader.hasError()
        || reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    if (flood >= 0 && endsAtCut)
        return floodAt;
    QuakeMLError error;
    if (reader.hasError()) {
        error.text = reader.errorString();
        error.line = reader.lineNumber();
        error.column = reader.columnNumber();
    }
    return error;
}

namespace {

// Reads the events of one <eventParameters> into the store, telling each
// stored event and its parser to noted().
template <typename Noted>
void readEvents(QXmlStreamReader &reader, QuakeEventStore &store, const Noted &noted)
{
    std::string eventId;
    QuakeFieldMap fields;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"event") {
            QuakeEventParser parser(reader);
            parser.takeQuakeEvent(eventId, fields);
            // A later event with the same identifier replaces the earlier one.
            noted(store.insert_or_assign(std::move(eventId), std::move(fields)).first->first, parser);
        } else {
            reader.skipCurrentElement();
        }
    }
}

// Puts notes of events in the store's order, keeping the last of each
// identifier, as the store keeps it.
template <typename Note, typename IdOf>
void alignToStore(std::vector<Note> &notes, const IdOf &idOf)
{
    std::stable_sort(notes.begin(), notes.end(), [&](const Note &a, const Note &b) { return *idOf(a) < *idOf(b); });
    auto kept = notes.begin();
    for (auto it = notes.begin(); it != notes.end(); ++it) {
        if (std::next(it) != notes.end() && idOf(*std::next(it)) == idOf(*it))
            continue;
        *kept++ = *it;
    }
    notes.erase(kept, notes.end());
}

} // namespace

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store,
                                        std::vector<LocatedEvent> &located, std::vector<RawEvent> *raw)
{
    readEvents(reader, store, [&](const std::string &eventId, const QuakeEventParser &parser) {
        located.push_back({ &eventId, parser.location(), parser.utcSeconds() });
        if (raw)
            raw->push_back(parser.rawEvent(&eventId));
    });
}

void QuakeMLReader::alignLocations(std::vector<LocatedEvent> &located)
{
    alignToStore(located, [](const LocatedEvent &event) { return event.eventId; });
    located.shrink_to_fit();
}

std::vector<const RawEvent *> QuakeMLReader::alignRaw(const std::vector<RawEvent> &raw)
{
    std::vector<const RawEvent *> aligned;
    aligned.reserve(raw.size());
    for (const RawEvent &event : raw)
        aligned.push_back(&event);
    alignToStore(aligned, [](const RawEvent *event) { return event->eventId; });
    return aligned;
}

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store)
{
    readEvents(reader, store, [](const std::string &, const QuakeEventParser &) {});
}
