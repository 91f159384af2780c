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

QuakeMLError QuakeMLReader::readDocument(QString text, QuakeEventStore &store)
{
    QXmlStreamReader reader(text);
    text = QString();
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement
            && reader.name() == u"eventParameters")
            readEventParameters(reader, store);
    }

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
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement)
            break;
        if (token != QXmlStreamReader::StartElement)
            continue;
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
