#include "quakeml/quakeeventparser.h"
#include "app/shownresult.h"
#include "quakeml/quakemlreader.h"
#include "testsupport/replyinvariants.h"

#include <QDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <ctime>

namespace {

// One line per field, "label|value", in the map's own order.
QByteArray dump(const QuakeFieldMap &fields)
{
    QByteArray out;
    for (const auto &[label, value] : fields)
        out += QByteArray::fromStdString(label) + '|' + QByteArray::fromStdString(value) + '\n';
    return out;
}

QByteArray fullOrigin(const char *depth, const char *lat, const char *lon, const char *mode,
                      const char *status, const char *ref, const char *time)
{
    return QByteArray("Focal Depth:|") + depth + " km\nLatitude:|" + lat + " \xB0\nLongitude:|" + lon
        + " \xB0\nOrigin evaluation mode:|" + mode + "\nOrigin evaluation status:|" + status
        + "\nReference ID:|" + ref + "\nUniversal Time:|" + time + '\n';
}

QByteArray withMagnitude(QByteArray origin, const char *mag, const char *count)
{
    // The two magnitude rows sort between "Reference ID:" and "Universal Time:".
    const qsizetype at = origin.indexOf("Universal Time:");
    const QByteArray magRows = QByteArray("Richter Magnitude:|") + mag + " \nStation Count (Magnitude):|" + count + '\n';
    return at < 0 ? origin + magRows : origin.insert(at, magRows);
}

void setTimeZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

struct Parsed
{
    std::string id;
    QuakeFieldMap fields;
    bool earthquake = false;
    bool endsOnEventEndTag = false;
    bool readerError = false;
};

// Decodes the document as the data manager does and parses its first <event>.
Parsed parseFirstEvent(const QByteArray &document)
{
    const QString text = QuakeMLReader::decodeReply(document);
    QXmlStreamReader reader(text);
    Parsed parsed;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"event") {
            QuakeEventParser parser(reader);
            parser.getQuakeEvent(parsed.id, parsed.fields);
            parsed.earthquake = parser.isEarthquake();
            parsed.endsOnEventEndTag = reader.tokenType() == QXmlStreamReader::EndElement
                && reader.name() == u"event";
            break;
        }
    }
    parsed.readerError = reader.hasError();
    return parsed;
}

} // namespace

class TestQuakeEventParser : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setTimeZone("Pacific/Auckland"); }

    void eventShapes_data();
    void eventShapes();
    void getQuakeEventReplacesCallerData();
    void depthTypeIsKept_data();
    void depthTypeIsKept();
    void locatedEventsCarryTheirReference_data();
    void locatedEventsCarryTheirReference();
    void createEventID_data();
    void createEventID();
    void zuluToNZTime_data();
    void zuluToNZTime();
    void stringWithDouble_data();
    void stringWithDouble();
    void stringWithDoubleLargest_data();
    void stringWithDoubleLargest();
    void skipsDeepNestingWithoutRecursion();
    void fixtures_data();
    void fixtures();
    void corpus_data();
    void corpus();
    void replyReadAsText_data();
    void replyReadAsText();
};

void TestQuakeEventParser::eventShapes_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<bool>("earthquake");
    QTest::addColumn<bool>("wellFormed");

    const QByteArray typicalOrigin =
        "<origin publicID=\"a/b/3366146g/1\"><time><value>2009-07-14T09:22:29</value></time>"
        "<latitude><value>-41.2864</value></latitude><longitude><value>174.7762</value></longitude>"
        "<depth><value>12</value></depth><evaluationMode>manual</evaluationMode>"
        "<evaluationStatus>confirmed</evaluationStatus></origin>";
    const QByteArray typicalMag = "<magnitude><mag><value>4.5</value></mag><stationCount>12</stationCount></magnitude>";
    const QByteArray typicalFields = withMagnitude(
        fullOrigin("12.000", "-41.286", "174.776", "manual", "confirmed", "3366146", "2009-07-14T09:22:29"),
        "4.500", "12");
    const QByteArray emptyOrigin = fullOrigin("0.000", "0.000", "0.000", "", "", "", "");

    QTest::newRow("typical event, 12 hours ahead of UTC")
        << QByteArray("Etc/GMT-12")
        << "<event><type>earthquake</type>" + typicalOrigin + typicalMag + "</event>"
        << QByteArray("[3366146] Tue, 14 July 2009 at 21:22:29") << typicalFields << true << true;
    QTest::newRow("typical event, Auckland winter (+12)")
        << QByteArray("Pacific/Auckland") << "<event>" + typicalOrigin + typicalMag + "</event>"
        << QByteArray("[3366146] Tue, 14 July 2009 at 21:22:29") << typicalFields << false << true;
    QTest::newRow("typical event, 5 hours behind UTC")
        << QByteArray("Etc/GMT+5") << "<event>" + typicalOrigin + typicalMag + "</event>"
        << QByteArray("[3366146] Tue, 14 July 2009 at 04:22:29") << typicalFields << false << true;
    QTest::newRow("typical event, UTC")
        << QByteArray("UTC") << "<event>" + typicalOrigin + typicalMag + "</event>"
        << QByteArray("[3366146] Tue, 14 July 2009 at 09:22:29") << typicalFields << false << true;
    QTest::newRow("typical event, Chatham Islands +12:45")
        << QByteArray("Pacific/Chatham") << "<event>" + typicalOrigin + typicalMag + "</event>"
        << QByteArray("[3366146] Tue, 14 July 2009 at 22:07:29") << typicalFields << false << true;

    QTest::newRow("empty event")
        << QByteArray("UTC") << QByteArray("<event></event>") << QByteArray() << QByteArray() << false << true;
    QTest::newRow("empty-element event")
        << QByteArray("UTC") << QByteArray("<event/>") << QByteArray() << QByteArray() << false << true;
    QTest::newRow("earthquake without fields is not flagged")
        << QByteArray("UTC") << QByteArray("<event><type>earthquake</type></event>") << QByteArray()
        << QByteArray() << false << true;
    QTest::newRow("magnitude only")
        << QByteArray("UTC") << "<event><type>earthquake</type>" + typicalMag + "</event>" << QByteArray()
        << QByteArray("Richter Magnitude:|4.500 \nStation Count (Magnitude):|12\n") << true << true;
    QTest::newRow("origin without publicID")
        << QByteArray("UTC") << QByteArray("<event><origin><time><value>2009-07-14T09:22:29</value></time></origin></event>")
        << QByteArray("[] Tue, 14 July 2009 at 09:22:29")
        << fullOrigin("0.000", "0.000", "0.000", "", "", "", "2009-07-14T09:22:29") << false << true;
    QTest::newRow("origin without children")
        << QByteArray("UTC") << QByteArray("<event><origin publicID=\"x\"/></event>") << QByteArray("[] ")
        << emptyOrigin << false << true;
    QTest::newRow("direct text instead of value")
        << QByteArray("UTC") << QByteArray("<event><origin><latitude>-41.5</latitude><depth>7<value>8</value>9</depth></origin></event>")
        << QByteArray("[] ") << fullOrigin("8.000", "0.000", "0.000", "", "", "", "") << false << true;
    QTest::newRow("two value children: the last counts")
        << QByteArray("UTC") << QByteArray("<event><origin><depth><value>1</value><uncertainty>3</uncertainty><value>2.5</value></depth></origin></event>")
        << QByteArray("[] ") << fullOrigin("2.500", "0.000", "0.000", "", "", "", "") << false << true;
    QTest::newRow("repeated child overwrites")
        << QByteArray("UTC") << QByteArray("<event><origin><evaluationMode>manual</evaluationMode><evaluationMode>automatic</evaluationMode></origin></event>")
        << QByteArray("[] ") << fullOrigin("0.000", "0.000", "0.000", "automatic", "", "", "") << false << true;
    QTest::newRow("station count 12.0")
        << QByteArray("UTC") << QByteArray("<event><magnitude><stationCount>12.0</stationCount></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|0\n") << false << true;
    QTest::newRow("station count abc")
        << QByteArray("UTC") << QByteArray("<event><magnitude><stationCount>abc</stationCount></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|0\n") << false << true;
    QTest::newRow("station count above 32 bits")
        << QByteArray("UTC") << QByteArray("<event><magnitude><stationCount>2147483648</stationCount></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|0\n") << false << true;
    QTest::newRow("station count at the 32-bit limits")
        << QByteArray("UTC") << QByteArray("<event><magnitude><stationCount>-2147483648</stationCount></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|-2147483648\n") << false << true;
    QTest::newRow("unparsable magnitude")
        << QByteArray("UTC") << QByteArray("<event><magnitude><mag><value>4,5</value></mag><stationCount>3</stationCount></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|3\n") << false << true;
    QTest::newRow("two magnitudes, the second without stationCount")
        << QByteArray("UTC") << "<event>" + typicalMag + "<magnitude><mag><value>5.1</value></mag></magnitude></event>"
        << QByteArray() << QByteArray("Richter Magnitude:|5.100 \nStation Count (Magnitude):|0\n") << false << true;
    QTest::newRow("two origins: the second writes everything anew")
        << QByteArray("UTC") << "<event>" + typicalOrigin + "<origin publicID=\"q/77g/1\"><depth><value>3</value></depth></origin></event>"
        << QByteArray("[77] ") << fullOrigin("3.000", "0.000", "0.000", "", "", "77", "") << false << true;
    QTest::newRow("nested origin and magnitude are not read")
        << QByteArray("UTC") << "<event><description><origin publicID=\"a/1g/1\"/>" + typicalMag + "</description></event>"
        << QByteArray() << QByteArray() << false << true;
    QTest::newRow("prefixed names are matched by local name")
        << QByteArray("UTC")
        << QByteArray("<q:event xmlns:q=\"urn:x\"><q:origin publicID=\"a/5g/1\"><q:depth><q:value>5</q:value></q:depth></q:origin>"
                      "<q:magnitude><q:mag><q:value>2</q:value></q:mag></q:magnitude></q:event>")
        << QByteArray("[5] ") << withMagnitude(fullOrigin("5.000", "0.000", "0.000", "", "", "5", ""), "2.000", "0")
        << false << true;
    QTest::newRow("wrong case is skipped")
        << QByteArray("UTC") << QByteArray("<event><Origin publicID=\"a/5g/1\"/><magnitude><Mag><value>3</value></Mag></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|0.000 \nStation Count (Magnitude):|0\n") << false << true;
    QTest::newRow("document ends inside an origin")
        << QByteArray("UTC") << QByteArray("<event><origin publicID=\"a/42g/1\"><time><value>2009-07-14T09:22:29</value></time><latitude><value>-41</value></latitude><depth>")
        << QByteArray("[42] Tue, 14 July 2009 at 09:22:29")
        << fullOrigin("0.000", "-41.000", "0.000", "", "", "42", "2009-07-14T09:22:29") << false << false;
    QTest::newRow("child element inside a text element")
        << QByteArray("UTC") << QByteArray("<event><origin><evaluationMode>man<b>x</b>ual</evaluationMode><depth><value>4</value></depth></origin></event>")
        << QByteArray("[] ") << fullOrigin("0.000", "0.000", "0.000", "man", "", "", "") << false << false;
    QTest::newRow("character reference above U+00FF")
        << QByteArray("UTC") << QByteArray("<event><origin><evaluationMode>a&#8211;b&#233;</evaluationMode></origin></event>")
        << QByteArray("[] ") << fullOrigin("0.000", "0.000", "0.000", "a?b\xE9", "", "", "") << false << true;
    QTest::newRow("raw UTF-8 stays its bytes")
        << QByteArray("UTC") << QByteArray("<event><origin><evaluationMode>a\xE2\x80\x93" "b</evaluationMode></origin></event>")
        << QByteArray("[] ") << fullOrigin("0.000", "0.000", "0.000", "a\xE2\x80\x93" "b", "", "", "") << false << true;
    QTest::newRow("time with Z is not converted")
        << QByteArray("Pacific/Auckland") << QByteArray("<event><origin publicID=\"a/1g/\"><time><value>2011-05-03T00:01:00.590Z</value></time></origin></event>")
        << QByteArray("[1] 2011-05-03T00:01:00.590Z")
        << fullOrigin("0.000", "0.000", "0.000", "", "", "1", "2011-05-03T00:01:00.590Z") << false << true;
    QTest::newRow("Auckland: last second of standard time")
        << QByteArray("Pacific/Auckland") << QByteArray("<event><origin><time><value>2009-09-26T13:59:59</value></time></origin></event>")
        << QByteArray("[] Sun, 27 September 2009 at 01:59:59")
        << fullOrigin("0.000", "0.000", "0.000", "", "", "", "2009-09-26T13:59:59") << false << true;
    QTest::newRow("Auckland: first second of daylight time")
        << QByteArray("Pacific/Auckland") << QByteArray("<event><origin><time><value>2009-09-26T14:00:00</value></time></origin></event>")
        << QByteArray("[] Sun, 27 September 2009 at 03:00:00")
        << fullOrigin("0.000", "0.000", "0.000", "", "", "", "2009-09-26T14:00:00") << false << true;
    QTest::newRow("Auckland: daylight time ends, the hour repeats")
        << QByteArray("Pacific/Auckland") << QByteArray("<event><origin><time><value>2010-04-03T14:30:00</value></time></origin></event>")
        << QByteArray("[] Sun, 04 April 2010 at 02:30:00")
        << fullOrigin("0.000", "0.000", "0.000", "", "", "", "2010-04-03T14:30:00") << false << true;
    QTest::newRow("skipped children with deep content")
        << QByteArray("UTC") << QByteArray("<event><pick><a><b><origin publicID=\"z/1g/1\"/></b></a>text</pick><!-- c --><?pi x?><magnitude><x><mag/></x><mag><value>1</value></mag></magnitude></event>")
        << QByteArray() << QByteArray("Richter Magnitude:|1.000 \nStation Count (Magnitude):|0\n") << false << true;
}

void TestQuakeEventParser::eventShapes()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, xml);
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, fields);
    QFETCH(bool, earthquake);
    QFETCH(bool, wellFormed);

    setTimeZone(zone);
    const Parsed parsed = parseFirstEvent(xml);
    QCOMPARE(QByteArray::fromStdString(parsed.id), id);
    QCOMPARE(dump(parsed.fields), fields);
    QCOMPARE(parsed.earthquake, earthquake);
    QCOMPARE(parsed.endsOnEventEndTag, wellFormed);
    QCOMPARE(parsed.readerError, !wellFormed);
}

void TestQuakeEventParser::getQuakeEventReplacesCallerData()
{
    QXmlStreamReader reader(QStringLiteral("<event><magnitude><mag><value>2</value></mag></magnitude></event>"));
    reader.readNext();
    reader.readNext();
    QuakeEventParser parser(reader);
    std::string id = "old";
    std::map<std::string, std::string> fields = { { "Latitude:", "1" }, { "Zzz", "x" } };
    parser.getQuakeEvent(id, fields);
    QCOMPARE(id, std::string());
    QCOMPARE(dump(fields), QByteArray("Richter Magnitude:|2.000 \nStation Count (Magnitude):|0\n"));
    std::string again;
    std::map<std::string, std::string> againFields;
    parser.getQuakeEvent(again, againFields);
    QVERIFY(againFields == fields);
}

void TestQuakeEventParser::depthTypeIsKept_data()
{
    QTest::addColumn<QString>("origins");
    QTest::addColumn<QString>("depthType");
    const QString fixed = QStringLiteral("<origin><depth><value>750</value></depth><depthType>operator assigned</depthType></origin>");
    QTest::newRow("as GeoNet writes a fixed depth") << fixed << "operator assigned";
    QTest::newRow("none") << "<origin><depth><value>12</value></depth></origin>" << "";
    // A later origin replaces all an earlier one gave.
    QTest::newRow("a later origin without one") << fixed + "<origin><depth><value>9</value></depth></origin>" << "";
}

void TestQuakeEventParser::depthTypeIsKept()
{
    QFETCH(QString, origins);
    QFETCH(QString, depthType);
    QXmlStreamReader reader(QStringLiteral("<event>") + origins + QStringLiteral("</event>"));
    reader.readNext();
    reader.readNext();
    QuakeEventParser parser(reader);
    std::string id;
    std::map<std::string, std::string> fields;
    parser.getQuakeEvent(id, fields);
    QCOMPARE(QString::fromStdString(std::string(parser.rawEvent(&id)[RawEvent::DepthType])), depthType);
    QCOMPARE(ShownResult::isFixedDepth(parser.rawEvent(&id)[RawEvent::DepthType]), !depthType.isEmpty());
}

void TestQuakeEventParser::locatedEventsCarryTheirReference_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QByteArray>("reference");
    QTest::addColumn<bool>("hasTime");
    QTest::newRow("GeoNet's origin") << "<event publicID=\"smi:geonet.org.nz/event/2016p858000\"><origin publicID="
                                        "\"smi:geonet.org.nz/origin/2016p858000g/1\"><time><value>2016-11-13T11:02:56"
                                        "</value></time></origin></event>"
                                     << QByteArray("2016p858000") << true;
    QTest::newRow("an origin without a reference") << "<event><origin publicID=\"x\"><time><value>2016-11-13T11:02:56"
                                                      "</value></time></origin></event>"
                                                   << QByteArray() << true;
    QTest::newRow("no origin") << "<event publicID=\"e/7\"><magnitude><mag><value>3</value></mag></magnitude></event>"
                               << QByteArray() << false;
}

void TestQuakeEventParser::locatedEventsCarryTheirReference()
{
    QFETCH(QString, event);
    QFETCH(QByteArray, reference);
    QFETCH(bool, hasTime);
    QXmlStreamReader reader(QStringLiteral("<eventParameters>") + event + QStringLiteral("</eventParameters>"));
    reader.readNextStartElement();
    QuakeEventStore store;
    std::vector<LocatedEvent> located;
    QuakeMLReader::readEventParameters(reader, store, located);
    QCOMPARE(located.size(), std::size_t(1));
    const LocatedEvent &at = located.front();
    // What the tree shows of it, read back from the store.
    const QuakeFieldMap &fields = store.at(*at.eventId);
    const auto shown = fields.find("Reference ID:");
    QCOMPARE(QByteArray::fromStdString(std::string(at.reference())), reference);
    QCOMPARE(shown == fields.end() ? QByteArray() : QByteArray::fromStdString(shown->second), reference);
    // The local time is the identifier's after its reference, whole.
    QCOMPARE(at.localTime().empty(), !hasTime);
    if (hasTime)
        QCOMPARE(QByteArray::fromStdString(*at.eventId),
                 "[" + reference + "] " + QByteArray::fromStdString(std::string(at.localTime())));
}

void TestQuakeEventParser::createEventID_data()
{
    QTest::addColumn<QString>("publicId");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("a/b/3366146g/1") << "a/b/3366146g/1" << QByteArray("3366146");
    QTest::newRow("GeoNet origin") << "smi:geonet.org.nz/origin/3366146g/1" << QByteArray("3366146");
    QTest::newRow("last g/ decides") << "x/45g/y/678g/z" << QByteArray("678");
    QTest::newRow("no g/") << "smi:geonet.org.nz/ori/492453/GROPE" << QByteArray();
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("slash right before g/") << "a/b/g/1" << QByteArray();
    QTest::newRow("no slash before") << "3366146g/1" << QByteArray("3366146");
    QTest::newRow("upper-case G does not count") << "a/123G/1" << QByteArray();
    QTest::newRow("g/ at the end") << "a/99g/" << QByteArray("99");
    QTest::newRow("above Latin-1") << QString::fromUtf8("a/x\u2013\u00e9g/1") << QByteArray("x?\xE9");
}

void TestQuakeEventParser::createEventID()
{
    QFETCH(QString, publicId);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(QuakeEventParser::createEventID(publicId)), expected);
}

void TestQuakeEventParser::zuluToNZTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("example") << QByteArray("Etc/GMT-12") << "2009-07-14T09:22:29" << QByteArray("Tue, 14 July 2009 at 21:22:29");
    QTest::newRow("into the next year") << QByteArray("Etc/GMT-12") << "2009-12-31T23:00:00" << QByteArray("Fri, 01 January 2010 at 11:00:00");
    QTest::newRow("into the previous day") << QByteArray("Etc/GMT+5") << "2010-03-01T02:00:00" << QByteArray("Sun, 28 February 2010 at 21:00:00");
    QTest::newRow("leap day") << QByteArray("UTC") << "2008-02-29T12:00:00" << QByteArray("Fri, 29 February 2008 at 12:00:00");
    QTest::newRow("early year") << QByteArray("UTC") << "0999-05-01T00:00:00" << QByteArray("Wed, 01 May 0999 at 00:00:00");
    QTest::newRow("empty") << QByteArray("UTC") << "" << QByteArray();
    QTest::newRow("impossible date") << QByteArray("UTC") << "2009-02-30T00:00:00" << QByteArray("2009-02-30T00:00:00");
    QTest::newRow("month 13") << QByteArray("UTC") << "2009-13-01T00:00:00" << QByteArray("2009-13-01T00:00:00");
    QTest::newRow("24:00") << QByteArray("UTC") << "2009-07-14T24:00:00" << QByteArray("2009-07-14T24:00:00");
    QTest::newRow("second 60") << QByteArray("UTC") << "2009-07-14T23:59:60" << QByteArray("2009-07-14T23:59:60");
    QTest::newRow("fraction") << QByteArray("UTC") << "2009-07-14T09:22:29.5" << QByteArray("2009-07-14T09:22:29.5");
    QTest::newRow("zone letter") << QByteArray("UTC") << "2009-07-14T09:22:29Z" << QByteArray("2009-07-14T09:22:29Z");
    QTest::newRow("offset") << QByteArray("UTC") << "2009-07-14T09:22:29+00:00" << QByteArray("2009-07-14T09:22:29+00:00");
    QTest::newRow("blank for T") << QByteArray("UTC") << "2009-07-14 09:22:29" << QByteArray("2009-07-14 09:22:29");
    QTest::newRow("non-Latin-1 text kept as ?") << QByteArray("UTC") << QString::fromUtf8("soon\u2013") << QByteArray("soon?");
}

void TestQuakeEventParser::zuluToNZTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    setTimeZone(zone);
    QCOMPARE(QByteArray::fromStdString(QuakeEventParser::zuluToNZTime(text)), expected);

    // The toolkit's own reading of the pattern agrees.
    QDateTime reference = QDateTime::fromString(text, QStringLiteral("yyyy'-'MM'-'dd'T'HH':'mm':'ss"));
    if (reference.isValid()) {
        reference.setTimeSpec(Qt::UTC);
        QCOMPARE(QString::fromLatin1(expected),
                 reference.toLocalTime().toString(QStringLiteral("ddd', 'dd MMMM yyyy 'at' hh:mm:ss")));
    } else {
        QCOMPARE(QString::fromLatin1(expected), QString::fromLatin1(text.toLatin1()));
    }
}

void TestQuakeEventParser::stringWithDouble_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("magnitude") << 4.5 << QByteArray() << QByteArray("4.500 ");
    QTest::newRow("depth") << 12.0 << QByteArray("km") << QByteArray("12.000 km");
    QTest::newRow("latitude") << -41.2864 << QByteArray() << QByteArray("-41.286 ");
    QTest::newRow("zero") << 0.0 << QByteArray() << QByteArray("0.000 ");
    QTest::newRow("negative zero") << -0.0 << QByteArray("km") << QByteArray("-0.000 km");
    QTest::newRow("tiny negative rounds to -0.000") << -0.0004 << QByteArray() << QByteArray("-0.000 ");
    QTest::newRow("0.0005 is just above half") << 0.0005 << QByteArray() << QByteArray("0.001 ");
    QTest::newRow("1.0005 is just below half") << 1.0005 << QByteArray() << QByteArray("1.000 ");
    QTest::newRow("exact half rounds to even") << 0.0625 << QByteArray() << QByteArray("0.062 ");
    QTest::newRow("9.9996 carries") << 9.9996 << QByteArray() << QByteArray("10.000 ");
    QTest::newRow("no digit grouping") << 1234567.891 << QByteArray() << QByteArray("1234567.891 ");
    QTest::newRow("infinity") << HUGE_VAL << QByteArray() << QByteArray("inf ");
}

void TestQuakeEventParser::stringWithDouble()
{
    QFETCH(double, value);
    QFETCH(QByteArray, unit);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(QuakeEventParser::stringWithDouble(value, unit.constData())), expected);
}

void TestQuakeEventParser::stringWithDoubleLargest_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("1e248") << 1e248;
    QTest::newRow("1e300") << 1e300;
    QTest::newRow("largest double") << DBL_MAX;
    QTest::newRow("lowest double") << -DBL_MAX;
    QTest::newRow("just under 255 characters") << 1e249;
}

void TestQuakeEventParser::stringWithDoubleLargest()
{
    // Texts longer than 255 characters come out whole, digit for digit as
    // printf writes them.
    QFETCH(double, value);
    std::vector<char> reference(1024);
    const int length = std::snprintf(reference.data(), reference.size(), "%.3f %s", value, "km");
    const std::string text = QuakeEventParser::stringWithDouble(value, "km");
    QCOMPARE(text, std::string(reference.data(), std::size_t(length)));
    QVERIFY(text.size() > 250);
}

void TestQuakeEventParser::skipsDeepNestingWithoutRecursion()
{
    // Far deeper than any stack would take if skipping recursed.
    const int depth = 300000;
    QString xml = QStringLiteral("<event><foo>");
    xml.reserve(depth * 7 + 100);
    for (int i = 0; i < depth; ++i)
        xml += QLatin1String("<a>");
    for (int i = 0; i < depth; ++i)
        xml += QLatin1String("</a>");
    xml += QLatin1String("</foo><magnitude><mag><value>6</value></mag></magnitude></event>");
    const Parsed parsed = parseFirstEvent(xml.toLatin1());
    QVERIFY(parsed.endsOnEventEndTag);
    QCOMPARE(dump(parsed.fields), QByteArray("Richter Magnitude:|6.000 \nStation Count (Magnitude):|0\n"));
}

static void addFileRows(const QString &dir)
{
    const QStringList files = QDir(dir).entryList({ QStringLiteral("*.xml") }, QDir::Files, QDir::Name);
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << dir + QLatin1Char('/') + file;
}

// Walks every <eventParameters> of a document event by event, the way the
// data manager does, checking where the reader stands after each event.
static void walkDocument(const QString &path, QuakeEventStore &store, int &events, bool &wellFormed)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QuakeMLReader::decodeReply(file.readAll());
    QXmlStreamReader reader(text);
    events = 0;
    int depth = 0;
    int parametersDepth = -1;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (--depth < parametersDepth)
                parametersDepth = -1;
        } else if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (reader.name() == u"eventParameters" && parametersDepth < 0) {
                parametersDepth = depth;
            } else if (reader.name() == u"event" && depth == parametersDepth + 1) {
                QuakeEventParser parser(reader);
                std::string id;
                QuakeFieldMap fields;
                parser.getQuakeEvent(id, fields);
                store[id] = fields;
                ++events;
                if (!reader.hasError()) {
                    QCOMPARE(reader.tokenType(), QXmlStreamReader::EndElement);
                    QCOMPARE(reader.name(), u"event");
                }
                --depth;
            }
        }
    }
    wellFormed = !reader.hasError();

    // The reader used by the program gives the same store, from the text
    // and from the bytes.
    QuakeEventStore viaReader;
    const QuakeMLError error = QuakeMLReader::readDocument(text, viaReader);
    QVERIFY(viaReader == store);
    file.seek(0);
    const char *differs = readFromBytesDiffers(file.readAll(), error, store);
    QVERIFY2(!differs, differs);
}

void TestQuakeEventParser::fixtures_data()
{
    QTest::addColumn<QString>("path");
    addFileRows(QStringLiteral(HARVIX_TEST_DATA_DIR));
}

void TestQuakeEventParser::fixtures()
{
    QFETCH(QString, path);
    setTimeZone("Pacific/Auckland");
    QuakeEventStore store;
    int events = 0;
    bool wellFormed = false;
    walkDocument(path, store, events, wellFormed);
    if (QTest::currentTestFailed())
        return;

    if (path.endsWith(QLatin1String("geonet-three-events.xml"))) {
        QVERIFY(wellFormed);
        QCOMPARE(events, 3);
        QCOMPARE(int(store.size()), 3);
        const auto first = store.begin();
        QCOMPARE(first->first, std::string("[10] Thu, 16 July 2009 at 11:59:59"));
        QCOMPARE(dump(first->second), withMagnitude(fullOrigin("150.250", "-38.500", "176.050", "automatic", "preliminary", "10", "2009-07-15T23:59:59"), "3.142", "7"));
        QCOMPARE(std::next(first)->first, std::string("[3366146] Tue, 14 July 2009 at 21:22:29"));
        QCOMPARE(std::prev(store.end())->first, std::string("[9] Thu, 01 January 2009 at 13:00:00"));
        QCOMPARE(dump(std::prev(store.end())->second), withMagnitude(fullOrigin("0.000", "-45.000", "170.500", "", "reviewed", "9", "2009-01-01T00:00:00"), "2.000", "3"));
    } else if (path.endsWith(QLatin1String("geonet-cut-in-third-event.xml"))) {
        QVERIFY(!wellFormed);
        QCOMPARE(events, 3);
        QCOMPARE(dump(store.at("[9] Thu, 01 January 2009 at 13:00:00")),
                 fullOrigin("0.000", "0.000", "0.000", "", "", "9", "2009-01-01T00:00:00"));
    }
}

void TestQuakeEventParser::corpus_data()
{
    QTest::addColumn<QString>("path");
    addFileRows(QStringLiteral(HARVIX_CORPUS_DIR));
}

void TestQuakeEventParser::corpus()
{
    QFETCH(QString, path);
    setTimeZone("Pacific/Auckland");
    QuakeEventStore store;
    int events = 0;
    bool wellFormed = false;
    walkDocument(path, store, events, wellFormed);
    if (QTest::currentTestFailed())
        return;

    // Event counts as the corpus's SOURCES.md gives them, and values checked by hand.
    static const QHash<QString, int> expectedEvents = {
        { "emsc-qml10-neries-events-2012.xml", 3 },
        { "geonet-qml101-1870524-crlf-nomag.xml", 1 },
        { "geonet-qml101-2732452-crlf.xml", 1 },
        { "geonet-qml101-3506628.xml", 1 },
        { "geonet-qml101-3541211-felt.xml", 1 },
        { "geonet-qml12-2012p070732.xml", 1 },
        { "geonet-qml12-2026p742111-bare-event-root.xml", 0 },
        { "geonet-qml12-3471609-no-origin.xml", 1 },
        { "geonet-qml12-999-empty-root.xml", 0 },
        { "geonet-sc3ml07-3506628-not-quakeml.xml", 0 },
        { "ingv-qml12-terremoti-1-usascii.xml", 1 },
        { "iris-qml12-fdsn-events-by-time.xml", 3 },
        { "iris-qml12-nepal-mw7.2-nodecl.xml", 1 },
        { "isc-qml12-2004-12-26-mag6-oddns.xml", 23 },
        { "obspy-qml12-example-1.2-RC3-geonet.xml", 1 },
        { "obspy-qml12-invalid-id.xml", 1 },
        { "obspy-qml12-iris-events.xml", 2 },
        { "obspy-qml12-origin-full.xml", 1 },
        { "obspy-qml12-preferred.xml", 1 },
        { "obspy-qml12-usgs-event.xml", 2 },
        { "obspy-qml12-westaus-events.xml", 2 },
        { "sed-qml12-coseismiq.xml", 1 },
        { "usgs-qml12-nc72182046-phase-data-oneline.xml", 1 },
        { "usgs-qml12-usc000nwtr-origin.xml", 1 },
    };
    const QString name = QFileInfo(path).fileName();
    if (name == QLatin1String("geonet-sc3ml07-2012p070732-malformed.xml")) {
        QVERIFY(!wellFormed);
        return;
    }
    QVERIFY(wellFormed);
    if (expectedEvents.contains(name))
        QCOMPARE(events, expectedEvents.value(name));

    if (name == QLatin1String("geonet-qml101-3506628.xml")) {
        // Its origin publicID has no "g/", and the time carries a fraction and a Z.
        QCOMPARE(int(store.size()), 1);
        QCOMPARE(store.begin()->first, std::string("[] 2011-05-03T00:01:00.590Z"));
        const QuakeFieldMap &f = store.begin()->second;
        QCOMPARE(f.at("Latitude:"), std::string("-43.169 \xB0"));
        QCOMPARE(f.at("Longitude:"), std::string("172.018 \xB0"));
        QCOMPARE(f.at("Focal Depth:"), std::string("8.017 km"));
        QCOMPARE(f.at("Origin evaluation mode:"), std::string("manual"));
        QCOMPARE(f.at("Origin evaluation status:"), std::string("confirmed"));
    } else if (name == QLatin1String("geonet-qml101-1870524-crlf-nomag.xml")) {
        const QuakeFieldMap &f = store.begin()->second;
        QCOMPARE(f.at("Focal Depth:"), std::string("12.000 km"));
        QCOMPARE(f.at("Richter Magnitude:"), std::string("0.000 "));
        QCOMPARE(f.at("Station Count (Magnitude):"), std::string("0"));
    } else if (name == QLatin1String("geonet-qml101-2732452-crlf.xml")) {
        const QuakeFieldMap &f = store.begin()->second;
        QCOMPARE(f.at("Richter Magnitude:"), std::string("4.389 "));
        QCOMPARE(f.at("Station Count (Magnitude):"), std::string("56"));
    } else if (name == QLatin1String("geonet-qml12-3471609-no-origin.xml")) {
        QCOMPARE(store.begin()->first, std::string());
        QVERIFY(store.begin()->second.empty());
    } else if (name == QLatin1String("obspy-qml12-westaus-events.xml")) {
        bool negativeDepth = false;
        for (const auto &entry : store)
            negativeDepth |= entry.second.at("Focal Depth:") == "-1865.000 km";
        QVERIFY(negativeDepth);
    }
}

// A reply read from its bytes (as the data manager reads it, a few hundred
// bytes at a time, the declaration's encoding ignored) gives the same events
// and the same error, at the same place, as its text read whole.
void TestQuakeEventParser::replyReadAsText_data()
{
    QTest::addColumn<QByteArray>("body");

    const QByteArray event = "<event><origin publicID=\"smi:nz/origin/7g/1\"><time><value>2009-07-14T09:22:29</value>"
                             "</time><evaluationMode>caf\xE9\xFF</evaluationMode></origin></event>";
    const QByteArray params = "<quakeml><eventParameters>" + event + "</eventParameters></quakeml>";
    QTest::newRow("no declaration") << params;
    QTest::newRow("declaration") << "<?xml version=\"1.0\"?>\n" + params;
    QTest::newRow("Latin-1 declared") << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + params;
    QTest::newRow("UTF-16 declared") << "<?xml version='1.0' encoding='UTF-16'?>" + params;
    QTest::newRow("standalone") << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + params;
    QTest::newRow("standalone before a DOCTYPE")
        << "<?xml version=\"1.0\" standalone=\"yes\"?><!-- c --><!DOCTYPE quakeml SYSTEM \"q.dtd\">"
           "<quakeml><eventParameters><event><type>&undeclared;</type></event>" + event + "</eventParameters></quakeml>";
    QTest::newRow("DOCTYPE, not standalone")
        << "<?xml version=\"1.0\"?><!DOCTYPE quakeml SYSTEM \"q.dtd\"><quakeml><eventParameters><event><type>"
           "&undeclared;</type></event>" + event + "</eventParameters></quakeml>";
    QTest::newRow("unsupported version") << "<?xml version=\"2.0\"?>" + params;
    QTest::newRow("broken declaration") << "<?xml/2.0\"> <x encoding=\"UTF-8\"?>" + params;
    QTest::newRow("end of declaration in a value") << "<?xml version=\"1.0?>\"?>" + params;
    QTest::newRow("declaration after white space") << " <?xml version=\"1.0\"?>" + params;
    QTest::newRow("second declaration") << "<?xml version=\"1.0\"?><?xml version=\"1.0\"?>" + params;
    QTest::newRow("UTF-8 byte order mark") << "\xEF\xBB\xBF" + params;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("three bytes") << QByteArray("<q>");
    QTest::newRow("zero byte") << params.left(60) + QByteArray("\0", 1) + params.mid(60);
    QTest::newRow("cut in an event") << params.left(params.size() - 40);
    QTest::newRow("attribute flood at the start") << "<q " + QByteArray(10001, '=') + ">" + params;
    QTest::newRow("attribute flood after the events")
        << "<quakeml><eventParameters>" + event + "</eventParameters><x" + QByteArray(10001, '=') + "/></quakeml>";

    // Long enough to cross many pieces: line breaks of both kinds, bytes
    // above 127 on every boundary, an error far in.
    QByteArray many = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<quakeml><eventParameters>\r\n";
    for (int i = 0; i < 300; ++i) {
        QByteArray one = event;
        one.replace("7g/1", QByteArray::number(i) + "g/1");
        one.replace("caf\xE9", QByteArray(i % 7, '\xE9') + "\r\n" + QByteArray(i % 5, 'x'));
        many += one + (i % 2 ? "\r\n" : "\n");
    }
    QTest::newRow("many events") << many + "</eventParameters></quakeml>";
    QTest::newRow("many events, broken far in") << many + "</eventParameters></quakeml2>";

    // Big enough (over a megabyte) for the flood to be searched beside the
    // reading: cut after the first half, at the start, or not at all.
    QByteArray big = "<quakeml><eventParameters>";
    while (big.size() < (3 << 19))
        big += many.mid(many.indexOf("<event>"), many.lastIndexOf("</event>") + 8 - many.indexOf("<event>"));
    const QByteArray flood = "<x" + QByteArray(10001, '=') + "/>";
    QTest::newRow("big, flood in the middle") << big + flood + big.mid(26) + "</eventParameters></quakeml>";
    QTest::newRow("big, flood at the start") << flood + big + "</eventParameters></quakeml>";
    QTest::newRow("big, broken before a flood") << big + "</quakeml>" + flood + "</eventParameters></quakeml>";
    QTest::newRow("big, no flood") << big + "</eventParameters></quakeml>";

    // Every kind of place the flood search passes over, holding more '='
    // signs than a tag may, many times, so that bytes arriving in pieces
    // end within each of their marks.
    const QByteArray signs = " a " + QByteArray(10001, '=') + " > ";
    QByteArray passed = "<quakeml>";
    for (int i = 0; i < 4; ++i)
        passed += "<!--" + signs + "--><y><![CDATA[" + signs + "]]></y><?pi" + signs + "?><y a=\"" + signs
                + "\" b='" + signs + "'/>";
    QTest::newRow("flood after comments, sections, instructions and values") << passed + flood + "</quakeml>";
}

void TestQuakeEventParser::replyReadAsText()
{
    QFETCH(QByteArray, body);
    setTimeZone("Pacific/Auckland");
    QuakeEventStore asText;
    const QuakeMLError textError = QuakeMLReader::readDocument(QuakeMLReader::decodeReply(body), asText);
    const char *differs = readFromBytesDiffers(body, textError, asText);
    QVERIFY2(!differs, differs);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    if (tag.startsWith(QLatin1String("many events")))
        QCOMPARE(int(asText.size()), 300);
    if (tag == QLatin1String("big, flood in the middle") || tag.startsWith(QLatin1String("flood after")))
        QCOMPARE(textError.text, QStringLiteral("An element has more than 10000 attributes."));
    if (tag == QLatin1String("many events, broken far in"))
        QVERIFY(textError.line > 300);
}

QTEST_MAIN(TestQuakeEventParser)
#include "tst_quakeeventparser.moc"
