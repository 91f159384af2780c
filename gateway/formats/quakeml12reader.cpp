#include "formats/quakeml12reader.h"

#include "formats/fieldparsing.h"

#include <QIODevice>
#include <QList>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace QuakeML12Reader {

namespace {

struct Origin
{
    QString publicId;
    QString time;
    QString latitude;
    QString longitude;
    std::optional<double> depthMetres;
    std::optional<int> usedStationCount;
    QString evaluationMode;
    QString evaluationStatus;
};

struct Magnitude
{
    QString publicId;
    std::optional<double> value;
    QString type;
    std::optional<int> stationCount;
};

// The text of the <value> child of the element the reader stands on.
QString readValue(QXmlStreamReader &xml)
{
    QString value;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"value")
            value = xml.readElementText(QXmlStreamReader::SkipChildElements);
        else
            xml.skipCurrentElement();
    }
    return value;
}

QString readText(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
}

Origin readOrigin(QXmlStreamReader &xml)
{
    Origin origin;
    origin.publicId = xml.attributes().value(QLatin1String("publicID")).toString();
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (name == u"time") {
            origin.time = readValue(xml);
        } else if (name == u"latitude") {
            origin.latitude = readValue(xml);
        } else if (name == u"longitude") {
            origin.longitude = readValue(xml);
        } else if (name == u"depth") {
            origin.depthMetres = FieldParsing::number(readValue(xml));
        } else if (name == u"quality") {
            while (xml.readNextStartElement()) {
                if (xml.name() == u"usedStationCount")
                    origin.usedStationCount = FieldParsing::integer(readText(xml));
                else
                    xml.skipCurrentElement();
            }
        } else if (name == u"evaluationMode") {
            origin.evaluationMode = readText(xml);
        } else if (name == u"evaluationStatus") {
            origin.evaluationStatus = readText(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
    return origin;
}

Magnitude readMagnitude(QXmlStreamReader &xml)
{
    Magnitude magnitude;
    magnitude.publicId = xml.attributes().value(QLatin1String("publicID")).toString();
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (name == u"mag")
            magnitude.value = FieldParsing::number(readValue(xml));
        else if (name == u"type")
            magnitude.type = readText(xml);
        else if (name == u"stationCount")
            magnitude.stationCount = FieldParsing::integer(readText(xml));
        else
            xml.skipCurrentElement();
    }
    return magnitude;
}

template <typename Item>
const Item *preferred(const QList<Item> &items, const QString &preferredId)
{
    for (const Item &item : items) {
        if (!preferredId.isEmpty() && item.publicId == preferredId)
            return &item;
    }
    return items.isEmpty() ? nullptr : &items.first();
}

void readEvent(QXmlStreamReader &xml, ReadOutcome &outcome, const RowSink &sink)
{
    EventRow row;
    row.publicId = eventIdOf(xml.attributes().value(QLatin1String("publicID")).toString());
    QString preferredOriginId;
    QString preferredMagnitudeId;
    QList<Origin> origins;
    QList<Magnitude> magnitudes;
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (name == u"origin")
            origins.append(readOrigin(xml));
        else if (name == u"magnitude")
            magnitudes.append(readMagnitude(xml));
        else if (name == u"preferredOriginID")
            preferredOriginId = readText(xml);
        else if (name == u"preferredMagnitudeID")
            preferredMagnitudeId = readText(xml);
        else if (name == u"type")
            row.eventType = readText(xml);
        else
            xml.skipCurrentElement();
    }
    if (xml.hasError())
        return;

    if (row.publicId.isEmpty()) {
        outcome.skip(QStringLiteral("without a usable id"));
        return;
    }
    const Origin *origin = preferred(origins, preferredOriginId);
    const auto time = origin ? FieldParsing::isoTime(origin->time) : std::nullopt;
    if (!time) {
        outcome.skip(QStringLiteral("without a usable time"));
        return;
    }
    row.originTimeUs = *time;
    if (!FieldParsing::setCoordinates(row, origin->latitude, origin->longitude)) {
        outcome.skip(QStringLiteral("with impossible coordinates"));
        return;
    }
    if (origin->depthMetres)
        row.depthKm = *origin->depthMetres / 1000.0;
    row.evaluationMode = origin->evaluationMode;
    row.evaluationStatus = origin->evaluationStatus;
    if (const Magnitude *magnitude = preferred(magnitudes, preferredMagnitudeId);
        magnitude && magnitude->value) {
        row.magnitude = magnitude->value;
        row.magnitudeType = magnitude->type;
        row.magnitudeStationCount = magnitude->stationCount ? magnitude->stationCount
                                                            : origin->usedStationCount;
    }
    sink(row);
    ++outcome.rows;
}

} // namespace

bool recognises(const QByteArray &start)
{
    QByteArray text = start;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    return text.trimmed().startsWith('<');
}

QString eventIdOf(const QString &publicId)
{
    static const QRegularExpression eventIdParameter(QStringLiteral("[?&]eventid=([^&]+)"),
                                                     QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = eventIdParameter.match(publicId);
    if (match.hasMatch())
        return match.captured(1);
    const QString trimmed = publicId.trimmed();
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    ReadOutcome outcome;
    outcome.format = QStringLiteral("QuakeML 1.2");
    QXmlStreamReader xml(&in);
    bool sawQuakeML = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"quakeml") {
            // 1.0 has the same names but depths in km and ids in the origin.
            if (xml.namespaceUri().endsWith(u"/quakeml/1.0")) {
                outcome.fail(xml.lineNumber(), QStringLiteral("QuakeML 1.0 is not read: only QuakeML 1.2 is"));
                return outcome;
            }
            sawQuakeML = true;
        } else if (xml.name() == u"eventParameters") {
            while (xml.readNextStartElement()) {
                if (xml.name() == u"event")
                    readEvent(xml, outcome, sink);
                else
                    xml.skipCurrentElement();
            }
        } else if (!sawQuakeML) {
            outcome.fail(xml.lineNumber(), QStringLiteral("not a QuakeML document: the root element is <%1>")
                                               .arg(xml.name()));
            return outcome;
        }
    }
    if (xml.hasError())
        outcome.fail(xml.lineNumber(), QStringLiteral("not well-formed XML: %1").arg(xml.errorString()));
    return outcome;
}

} // namespace QuakeML12Reader
