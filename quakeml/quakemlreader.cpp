#include "quakeml/quakemlreader.h"

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

// Where the text holds more than QuakeMLReader::MaximumAttributes '=' signs
// between two '<', the offset of the '<' before them; -1 elsewhere.
qsizetype findAttributeFlood(QStringView text)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *tagStart = begin;
    int equalSigns = 0;
    for (const char16_t *p = begin; p != end; ++p) {
        if (*p == u'<') {
            tagStart = p;
            equalSigns = 0;
        } else if (*p == u'=' && ++equalSigns > QuakeMLReader::MaximumAttributes) {
            return tagStart - begin;
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
            readEventParameters(reader, store);
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

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store)
{
    std::string eventId;
    QuakeFieldMap fields;
    while (readNextChild(reader)) {
        if (reader.name() == u"event") {
            QuakeEventParser parser(reader);
            parser.takeQuakeEvent(eventId, fields);
            // A later event with the same identifier replaces the earlier one.
            store.insert_or_assign(std::move(eventId), std::move(fields));
        } else {
            skipElement(reader);
        }
    }
}

bool QuakeMLReader::readNextChild(QXmlStreamReader &reader)
{
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            return true;
        case QXmlStreamReader::EndElement:
            return false;
        default:
            break;
        }
    }
    return false;
}

void QuakeMLReader::skipElement(QXmlStreamReader &reader)
{
    qint64 depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
}
