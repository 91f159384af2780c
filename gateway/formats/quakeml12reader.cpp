#include "formats/quakeml12reader.h"

#include "formats/fieldparsing.h"
#include "quakeml/quakeml12.h"
#include "quakeml/utctime.h"

#include <QIODevice>
#include <QList>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace QuakeML12Reader {

namespace {

// A text or a tag of more than MaxRunBytes between two markup characters
// ends the document here: QXmlStreamReader would hold it whole.
class BoundedMarkup : public QIODevice
{
public:
    static constexpr qint64 MaxRunBytes = qint64(1) << 20;

    explicit BoundedMarkup(QIODevice &in) : m_in(in) { open(QIODevice::ReadOnly); }
    bool exceeded() const { return m_exceeded; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_exceeded)
            return 0;
        const qint64 read = m_in.read(data, maxSize);
        for (qint64 i = 0; i < read; ++i) {
            if (data[i] == '<' || data[i] == '>') {
                m_run = 0;
            } else if (++m_run > MaxRunBytes) {
                m_exceeded = true;
                return i;
            }
        }
        return read;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &m_in;
    qint64 m_run = 0;
    bool m_exceeded = false;
};

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
    const qint64 line = xml.lineNumber();
    row.publicId = eventIdOf(xml.attributes());
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
        outcome.skip(line, QStringLiteral("without a usable id"));
        return;
    }
    const Origin *origin = preferred(origins, preferredOriginId);
    const auto time = origin ? UtcTime::fromIso(origin->time) : std::nullopt;
    if (!time) {
        outcome.skip(line, QStringLiteral("without a usable time"), origin ? QStringView(origin->time) : QStringView());
        return;
    }
    row.originTimeUs = *time;
    if (!FieldParsing::setCoordinates(row, origin->latitude, origin->longitude)) {
        outcome.skip(line, QStringLiteral("with impossible coordinates"),
                     QStringLiteral("%1, %2").arg(origin->latitude, origin->longitude));
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
    // UTF-16 with or without a byte order mark: '<' with a zero byte beside it.
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF") || start.startsWith(QByteArray("<\0", 2))
        || start.startsWith(QByteArray("\0<", 2)))
        return true;
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
        return match.captured(1).trimmed();
    const QString trimmed = publicId.trimmed();
    QString segment = trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
    // Harvix's export and the gateway write any id, escaped ~XX to fit the
    // schema's pattern.
    if (trimmed.startsWith(QLatin1String("smi:org.harvix/")) || trimmed.startsWith(QLatin1String("smi:harvix.gateway/")))
        return QString::fromStdString(QuakeML12::unescapedId(segment.toStdString()));
    // "smi:ISC/evid=16461282": the key is not part of the id.
    if (const qsizetype eq = segment.indexOf(u'='); eq >= 0)
        segment.remove(0, eq + 1);
    return segment;
}

QString eventIdOf(const QXmlStreamAttributes &attributes)
{
    // ANSS's catalog attributes name the id as the agency's own services do:
    // eventsource "us" and eventid "6000kawn" are "us6000kawn".
    QStringView source, id;
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (!attribute.namespaceUri().startsWith(u"http://anss.org/xmlns/catalog/"))
            continue;
        if (attribute.name() == u"eventsource")
            source = attribute.value().trimmed();
        else if (attribute.name() == u"eventid")
            id = attribute.value().trimmed();
    }
    if (!source.isEmpty() && !id.isEmpty())
        return source.toString() + id.toString();
    return eventIdOf(attributes.value(QLatin1String("publicID")).toString());
}

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    ReadOutcome outcome;
    outcome.format = QStringLiteral("QuakeML 1.2");
    BoundedMarkup bounded(in);
    QXmlStreamReader xml(&bounded);
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
    if (bounded.exceeded())
        outcome.fail(xml.lineNumber(), QStringLiteral("a text or tag longer than %1 MiB: not a catalogue's")
                                           .arg(BoundedMarkup::MaxRunBytes >> 20));
    else if (xml.hasError())
        outcome.fail(xml.lineNumber(), QStringLiteral("not well-formed XML: %1").arg(xml.errorString()));
    return outcome;
}

} // namespace QuakeML12Reader
