#include "quakeml/quakeeventparser.h"

#include "quakeml/latin1.h"
#include "quakeml/quakelabels.h"
#include "quakeml/utctime.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

const char kDegreeSign = '\xB0';

// The reference id in an origin's resource id: the segment before its last "g/".
QStringView referenceOf(QStringView publicId)
{
    const qsizetype marker = publicId.lastIndexOf(QLatin1String("g/"));
    if (marker < 0)
        return QStringView();
    QStringView head = publicId.left(marker);
    const qsizetype slash = head.lastIndexOf(u'/');
    if (slash >= 0)
        head = head.mid(slash + 1);
    return head;
}

// The strict "yyyy-MM-ddTHH:mm:ss" shape that every service sends, read
// without building a date parser per event. Anything else goes to
// QDateTime::fromString with the same pattern, so odd texts behave exactly
// as the toolkit reads them (which knows no year 0 and no leap second).
// us is the text as UtcTime reads it.
QDateTime parseZuluTime(const QString &text, std::optional<std::int64_t> us)
{
    static const QString pattern = QStringLiteral("yyyy'-'MM'-'dd'T'HH':'mm':'ss");
    if (us && text.size() == 19 && text[10] == u'T' && !text.startsWith(u"0000") && !text.endsWith(u":60"))
        return QDateTime::fromMSecsSinceEpoch(*us / 1000, Qt::UTC);
    QDateTime parsed = QDateTime::fromString(text, pattern);
    if (parsed.isValid())
        parsed.setTimeSpec(Qt::UTC);
    return parsed;
}

// "ddd', 'dd MMMM yyyy 'at' hh:mm:ss" with the English names that Qt 6 uses
// for QDateTime::toString.
std::string formatLocalTime(const QDateTime &local)
{
    static const char *const dayNames[] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };
    static const char *const monthNames[] = { "January", "February", "March", "April",
                                              "May", "June", "July", "August",
                                              "September", "October", "November", "December" };
    const QDate date = local.date();
    const QTime time = local.time();
    std::string out;
    out.reserve(40);
    out += dayNames[date.dayOfWeek() - 1];
    out += ", ";
    Latin1::appendTwoDigits(out, date.day());
    out += ' ';
    out += monthNames[date.month() - 1];
    out += ' ';
    Latin1::appendYear(out, date.year());
    out += " at ";
    Latin1::appendTwoDigits(out, time.hour());
    out += ':';
    Latin1::appendTwoDigits(out, time.minute());
    out += ':';
    Latin1::appendTwoDigits(out, time.second());
    return out;
}

// The local time of a UTC time text, or the text itself when it is none.
std::string localTimeText(const QString &zuluTime, std::optional<std::int64_t> us)
{
    const QDateTime utc = parseZuluTime(zuluTime, us);
    if (!utc.isValid())
        return Latin1::fromText(zuluTime);
    return formatLocalTime(utc.toLocalTime());
}

constexpr float None = std::numeric_limits<float>::quiet_NaN();

// The value of a number text, or NaN when it is not one.
float numberOrNone(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    if (!ok)
        *value = 0.0;
    return ok && std::isfinite(*value) ? float(*value) : None;
}

} // namespace

std::optional<double> QuakeEventParser::numberOf(const QString &text)
{
    double value = 0;
    return std::isnan(numberOrNone(text, &value)) ? std::nullopt : std::optional<double>(value);
}

QuakeEventParser::QuakeEventParser()
    : m_location { None, None, None, None }
    , m_utcSeconds(None)
{
}

QuakeEventParser::QuakeEventParser(QXmlStreamReader &reader)
    : QuakeEventParser()
{
    parseEvent(reader);
    convert();
}

QuakeEventParser::QuakeEventParser(Texts texts)
    : QuakeEventParser()
{
    m_texts = std::move(texts);
    convert();
}

QuakeEventParser::~QuakeEventParser() = default;

QuakeEventParser::Texts QuakeEventParser::readTexts(QXmlStreamReader &reader)
{
    QuakeEventParser parser;
    parser.parseEvent(reader);
    return std::move(parser.m_texts);
}

void QuakeEventParser::getQuakeEvent(std::string &eventId, std::map<std::string, std::string> &fields)
{
    eventId = m_eventId;
    fields = m_fields;
}

void QuakeEventParser::takeQuakeEvent(std::string &eventId, std::map<std::string, std::string> &fields)
{
    eventId = std::move(m_eventId);
    fields = std::move(m_fields);
    m_eventId.clear();
    m_fields.clear();
}

void QuakeEventParser::parseEvent(QXmlStreamReader &reader)
{
    QString type;
    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        if (name == u"origin")
            parseOrigin(reader);
        else if (name == u"magnitude")
            parseMagnitude(reader);
        else if (name == u"type")
            type = reader.readElementText();
        else
            skipUnknownElement(reader);
    }
    m_texts.raw[RawEvent::EventType] = type;
}

void QuakeEventParser::parseOrigin(QXmlStreamReader &reader)
{
    // A later origin replaces everything an earlier one gave.
    QString *const raw = m_texts.raw;
    m_texts.hasOrigin = true;
    for (const RawEvent::Field field : { RawEvent::Time, RawEvent::Latitude, RawEvent::Longitude, RawEvent::Depth,
                                         RawEvent::DepthType, RawEvent::Mode, RawEvent::Status })
        raw[field].clear();
    raw[RawEvent::ReferenceId] = referenceOf(reader.attributes().value(QLatin1String("publicID"))).toString();

    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        if (name == u"time")
            raw[RawEvent::Time] = parseElementWithValue(reader);
        else if (name == u"latitude")
            raw[RawEvent::Latitude] = parseElementWithValue(reader);
        else if (name == u"longitude")
            raw[RawEvent::Longitude] = parseElementWithValue(reader);
        else if (name == u"depth")
            raw[RawEvent::Depth] = parseElementWithValue(reader);
        else if (name == u"depthType")
            raw[RawEvent::DepthType] = reader.readElementText(QXmlStreamReader::SkipChildElements);
        else if (name == u"evaluationMode")
            raw[RawEvent::Mode] = reader.readElementText();
        else if (name == u"evaluationStatus")
            raw[RawEvent::Status] = reader.readElementText();
        else
            skipUnknownElement(reader);
    }
}

void QuakeEventParser::parseMagnitude(QXmlStreamReader &reader)
{
    QString *const raw = m_texts.raw;
    m_texts.hasMagnitude = true;
    raw[RawEvent::Magnitude].clear();
    raw[RawEvent::MagnitudeType].clear();
    raw[RawEvent::Stations].clear();

    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        if (name == u"mag")
            raw[RawEvent::Magnitude] = parseElementWithValue(reader);
        else if (name == u"stationCount")
            raw[RawEvent::Stations] = reader.readElementText();
        else if (name == u"type")
            raw[RawEvent::MagnitudeType] = reader.readElementText(QXmlStreamReader::SkipChildElements);
        else
            skipUnknownElement(reader);
    }
}

void QuakeEventParser::convert()
{
    const QString *const raw = m_texts.raw;
    if (m_texts.hasOrigin) {
        double latitude = 0.0;
        double longitude = 0.0;
        double depth = 0.0;
        m_location.latitude = numberOrNone(raw[RawEvent::Latitude], &latitude);
        m_location.longitude = numberOrNone(raw[RawEvent::Longitude], &longitude);
        m_location.depthKm = numberOrNone(raw[RawEvent::Depth], &depth);

        const QString &timeText = raw[RawEvent::Time];
        const std::optional<std::int64_t> us = UtcTime::fromIso(timeText);
        m_utcSeconds = us ? double(*us) / 1e6 : None;
        const std::string localTime = timeText.isEmpty() ? std::string() : localTimeText(timeText, us);
        std::string referenceId = Latin1::fromText(raw[RawEvent::ReferenceId]);
        m_referenceLength = referenceId.size();

        m_eventId.reserve(referenceId.size() + localTime.size() + 3);
        m_eventId += '[';
        m_eventId += referenceId;
        m_eventId += "] ";
        m_eventId += localTime;

        m_fields[QuakeLabels::Time] = Latin1::fromText(timeText);
        m_fields[QuakeLabels::Depth] = stringWithDouble(depth, "km");
        (m_fields[QuakeLabels::Latitude] = stringWithDouble(latitude, "")) += kDegreeSign;
        (m_fields[QuakeLabels::Longitude] = stringWithDouble(longitude, "")) += kDegreeSign;
        m_fields[QuakeLabels::Mode] = Latin1::fromText(raw[RawEvent::Mode]);
        m_fields[QuakeLabels::Status] = Latin1::fromText(raw[RawEvent::Status]);
        m_fields[QuakeLabels::Reference] = std::move(referenceId);
    }
    if (m_texts.hasMagnitude) {
        double magnitude = 0.0;
        m_location.magnitude = numberOrNone(raw[RawEvent::Magnitude], &magnitude);
        m_fields[QuakeLabels::Magnitude] = stringWithDouble(magnitude, "");
        m_fields[QuakeLabels::StationCount] = std::to_string(raw[RawEvent::Stations].toInt(nullptr, 10));
    }
    m_isEarthquake = raw[RawEvent::EventType] == u"earthquake" && !m_fields.empty();
}

RawEvent QuakeEventParser::rawEvent(const std::string *eventId) const
{
    RawEvent raw;
    raw.eventId = eventId;
    for (int field = 0; field < RawEvent::FieldCount; ++field) {
        // The id, time, mode and status as they were; the numbers and
        // words without the blanks around them.
        const bool asItWas = field == RawEvent::ReferenceId || field == RawEvent::Time || field == RawEvent::Mode
            || field == RawEvent::Status;
        const QString &text = m_texts.raw[field];
        raw.texts += (asItWas ? text : text.trimmed()).toUtf8().toStdString();
        raw.ends[std::size_t(field)] = std::uint32_t(raw.texts.size());
    }
    return raw;
}

QString QuakeEventParser::parseElementWithValue(QXmlStreamReader &reader)
{
    QString value;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"value")
            value = reader.readElementText();
        else
            skipUnknownElement(reader);
    }
    return value;
}

void QuakeEventParser::skipUnknownElement(QXmlStreamReader &reader)
{
    reader.skipCurrentElement();
}

std::string QuakeEventParser::createEventID(const QString &publicId)
{
    return Latin1::fromText(referenceOf(publicId));
}

std::string QuakeEventParser::zuluToNZTime(const QString &zuluTime)
{
    return localTimeText(zuluTime, UtcTime::fromIso(zuluTime));
}


std::string QuakeEventParser::stringWithDouble(double value, const char *unit)
{
    // Fixed notation as "%.3f" writes it, but independent of the C locale that
    // QApplication sets from the environment. The largest double needs 309
    // digits, so the buffer holds every value whole.
    char buffer[400];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    std::string out(buffer, result.ptr);
    out += ' ';
    out += unit;
    return out;
}
