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

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store,
                                        std::vector<LocatedEvent> &located, std::vector<RawEvent> *raw)
{
    std::string eventId;
    QuakeFieldMap fields;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"event") {
            QuakeEventParser parser(reader);
            parser.takeQuakeEvent(eventId, fields);
            const auto stored = store.insert_or_assign(std::move(eventId), std::move(fields)).first;
            located.push_back({ &stored->first, parser.location() });
            if (raw)
                raw->push_back({ &stored->first, parser.rawValues() });
        } else {
            reader.skipCurrentElement();
        }
    }
}

void QuakeMLReader::alignLocations(std::vector<LocatedEvent> &located)
{
    std::stable_sort(located.begin(), located.end(), [](const LocatedEvent &a, const LocatedEvent &b) {
        return *a.eventId < *b.eventId;
    });
    // Of events with the same identifier the store holds the last read.
    auto kept = located.begin();
    for (auto it = located.begin(); it != located.end(); ++it) {
        if (std::next(it) != located.end() && std::next(it)->eventId == it->eventId)
            continue;
        *kept++ = *it;
    }
    located.erase(kept, located.end());
    located.shrink_to_fit();
}

std::vector<const RawEvent *> QuakeMLReader::alignRaw(const std::vector<RawEvent> &raw)
{
    std::vector<const RawEvent *> aligned;
    aligned.reserve(raw.size());
    for (const RawEvent &event : raw)
        aligned.push_back(&event);
    std::stable_sort(aligned.begin(), aligned.end(),
                     [](const RawEvent *a, const RawEvent *b) { return *a->eventId < *b->eventId; });
    // The store holds the last event read of each identifier.
    auto kept = aligned.begin();
    for (auto it = aligned.begin(); it != aligned.end(); ++it) {
        if (std::next(it) != aligned.end() && (*std::next(it))->eventId == (*it)->eventId)
            continue;
        *kept++ = *it;
    }
    aligned.erase(kept, aligned.end());
    return aligned;
}

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store)
{
    std::string eventId;
    QuakeFieldMap fields;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"event") {
            QuakeEventParser parser(reader);
            parser.takeQuakeEvent(eventId, fields);
            // A later event with the same identifier replaces the earlier one.
            store.insert_or_assign(std::move(eventId), std::move(fields));
        } else {
            reader.skipCurrentElement();
        }
    }
}
