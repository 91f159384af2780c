#include "formats/cataloguefile.h"
#include "formats/fieldparsing.h"
#include "formats/quakeml10writer.h"
#include "quakeml/text.h"
#include "http/searchquery.h"

#include "testsupport/fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

// The gateway's pure parts: the catalogue readers on GeoNet's real files,
// the search query's rules and the QuakeML 1.0 writer.
class TestGatewayFormats : public QObject
{
    Q_OBJECT

private slots:
    void realFiles_data();
    void realFiles();
    void refusedFiles_data();
    void refusedFiles();
    void searchQuery_data();
    void searchQuery();
    void writer();
};

namespace {

QString shipped(const char *path)
{
    return QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/") + QLatin1String(path);
}

QString geonet(const char *path)
{
    return QStringLiteral(HARVIX_GEONET_DIR "/") + QLatin1String(path);
}

QString realworld(const char *path)
{
    return QStringLiteral(HARVIX_TEST_DATA_DIR "/realworld/") + QLatin1String(path);
}

// A file's bytes as another writer might have stored them.
QByteArray transformed(const QByteArray &bytes, const QString &how)
{
    if (how == QLatin1String("gzip"))
        return gzipped(bytes);
    if (how == QLatin1String("UTF-16"))
        return utf16Of(bytes);
    if (how == QLatin1String("UTF-8 BOM"))
        return "\xEF\xBB\xBF" + bytes;
    if (how == QLatin1String("no final line break"))
        return bytes.endsWith('\n') ? bytes.chopped(1) : bytes;
    if (how == QLatin1String("comments"))
        return "# written by a service\n#  with two comment lines\n" + bytes;
    return bytes;
}

QString number(const std::optional<double> &value)
{
    std::string text;
    if (value)
        Text::appendNumber(text, *value);
    return QString::fromStdString(text);
}

// A row in one line: id|time|latitude|longitude|depth|magnitude|type|stations|event type|mode|status
QString describe(const EventRow &row)
{
    std::string time;
    Text::appendTime(time, row.originTimeUs);
    const QString fraction = QStringLiteral("%1").arg(row.originTimeUs % 1000000, 6, 10, QLatin1Char('0'));
    return QStringList({ row.publicId, QString::fromStdString(time) + u'.' + fraction, number(row.latitude),
                         number(row.longitude), number(row.depthKm), number(row.magnitude), row.magnitudeType,
                         row.magnitudeStationCount ? QString::number(*row.magnitudeStationCount) : QString(),
                         row.eventType, row.evaluationMode, row.evaluationStatus })
        .join(u'|');
}

QString skipText(const ReadOutcome &outcome)
{
    QStringList parts;
    for (const auto &[reason, count] : outcome.skipped)
        parts << QStringLiteral("%1 %2").arg(count).arg(reason);
    return parts.join(QStringLiteral("; "));
}

} // namespace

void TestGatewayFormats::realFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("transform");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("skipped");
    QTest::addColumn<int>("withoutMagnitude");
    QTest::addColumn<QString>("sample");    // one row of the file, whole

    QTest::newRow("MLNZ20 2024, ids repeated") << shipped("MLNZ20_RapidEvents_2024.csv") << ""
        << "GeoNet MLNZ20 rapid events CSV" << 23090 << "" << 0
        << "2024p000135|2024-01-01T01:11:54.900000|-38.58|178.57|21|2.22|MLv|7|||";
    QTest::newRow("MLNZ20 2025, short rows") << shipped("MLNZ20_RapidEvents_2025.csv") << ""
        << "GeoNet MLNZ20 rapid events CSV" << 20764 << "" << 3
        << "2025p708744|2025-09-20T05:38:01.500000|-33.34|179.81|357||||||";
    QTest::newRow("MLNZ20 2026, N/A") << shipped("MLNZ20_RapidEvents_2026.csv") << ""
        << "GeoNet MLNZ20 rapid events CSV" << 10871 << "" << 22
        << "2026p013755|2026-01-06T02:09:07.300000|-45.37|170.45||2.56|MLv|7|||";
    QTest::newRow("moment tensors, 9999999") << shipped("GeoNet_CMT_solutions.csv") << ""
        << "GeoNet moment-tensor CSV" << 3687 << "4 of events that have no id yet (9999999)" << 0
        << "2103645|2003-08-21T12:12:00.000000|-45.1929|166.83|22|7.1|Mw|5|||";
    QTest::newRow("MLnz, times with _") << realworld("MLnz_RapidEvents_2024_first20.csv") << "no final line break"
        << "GeoNet MLNZ20 rapid events CSV" << 20 << "" << 0
        << "2024p000140|2024-01-01T01:15:07.600000|-41.15|175.78|23|1.91|MLv||||";
    QTest::newRow("moment tensors, spreadsheet dates") << realworld("GeoNet_CMT_solutions_automatic.csv") << ""
        << "GeoNet moment-tensor CSV" << 0 << "70 without a usable time" << 0 << "";
    QTest::newRow("quake search, -9") << geonet("quakesearch_1980-1983_2010-2011.csv") << ""
        << "GeoNet quake search CSV" << 1147 << "" << 35
        << "1560729|1980-02-16T13:56:15.730000|-38.84|175.94|12|3.31|ML|7|earthquake|manual|reviewed";
    QTest::newRow("quake search, gzip") << geonet("quakesearch_1980-1983_2010-2011.csv") << "gzip"
        << "GeoNet quake search CSV, gzip-compressed" << 1147 << "" << 35
        << "1560729|1980-02-16T13:56:15.730000|-38.84|175.94|12|3.31|ML|7|earthquake|manual|reviewed";
    // Depth in metres; the station count from the origin where the magnitude has none.
    QTest::newRow("QuakeML 1.2, no type, no mode") << geonet("geonet-fdsn-derived_3events_orderby-time-asc.xml") << ""
        << "QuakeML 1.2" << 3 << "" << 0
        << "2801727|2007-10-01T13:35:26.690000|-49.10301|164.175|10|4.9|Mw|10|other event||reviewed";
    QTest::newRow("QuakeML 1.2 in UTF-16") << geonet("geonet-fdsn-derived_3events_orderby-time-asc.xml") << "UTF-16"
        << "QuakeML 1.2" << 3 << "" << 0
        << "2801727|2007-10-01T13:35:26.690000|-49.10301|164.175|10|4.9|Mw|10|other event||reviewed";
    // The first magnitude, with its own station count.
    QTest::newRow("QuakeML 1.2, preferred magnitude missing")
        << geonet("geonet-fdsn-derived_6events_orderby-time.xml") << "UTF-8 BOM" << "QuakeML 1.2" << 6 << "" << 0
        << "2016p408314|2016-05-31T01:50:12.062388|-45.19537735|167.3780823|100.126976|4.634552734|MLv|12|earthquake|manual|confirmed";
    // Ids as the agencies' own FDSN text replies give them.
    QTest::newRow("USGS ComCat, catalog attributes") << realworld("origin_usp0006dzc.xml") << "" << "QuakeML 1.2"
        << 1 << "" << 0 << "usp0006dzc|";
    QTest::newRow("NCSN, catalog attributes") << realworld("focalmech_nc72852151_fm1.xml") << "" << "QuakeML 1.2"
        << 1 << "" << 0 << "nc72852151|";
    QTest::newRow("ISC, evid=") << realworld("seisio_ISC_2011-tohoku-oki.xml") << "" << "QuakeML 1.2"
        << 1 << "" << 0 << "16461282|";
    QTest::newRow("IRIS, eventId= in the publicID") << realworld("obspy_iris_events.xml") << "" << "QuakeML 1.2"
        << 2 << "" << 0 << "3279407|";
    QTest::newRow("USGS via ObsPy, both") << realworld("tiskitpy_eqcat.qml") << "" << "QuakeML 1.2"
        << 9 << "" << 0 << "us10007ggp|";
    QTest::newRow("EMSC text, comments above the header") << realworld("emsc_text_2017-09_2017-10.txt") << "comments"
        << "FDSN event text" << 6 << "" << 0 << "20171031_0000002|";
}

void TestGatewayFormats::realFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, transform);
    QFETCH(QString, format);
    QFETCH(int, rows);
    QFETCH(QString, skipped);
    QFETCH(int, withoutMagnitude);
    QFETCH(QString, sample);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QByteArray bytes = transformed(file.readAll(), transform);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    int noMagnitude = 0;
    QString found;
    const QString sampleId = sample.section(u'|', 0, 0);
    const ReadOutcome outcome = CatalogueFile::read(buffer, [&](const EventRow &row) {
        noMagnitude += row.magnitude ? 0 : 1;
        if (row.publicId == sampleId && found.isEmpty())
            found = describe(row);
    });
    QVERIFY2(!outcome.failed(), qPrintable(outcome.error));
    QCOMPARE(outcome.format, format);
    QCOMPARE(outcome.rows, qint64(rows));
    QCOMPARE(skipText(outcome), skipped);
    QCOMPARE(noMagnitude, withoutMagnitude);
    // A sample of the id alone checks only that the id is there.
    QCOMPARE(sample.endsWith(u'|') ? found.left(sample.size()) : found, sample);
}

void TestGatewayFormats::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("rowsBefore");    // rows yielded before the error

    QTest::newRow("unknown header") << QByteArray("id,when,where\n1,2,3\n") << qint64(1) << "not a catalogue" << 0;
    QTest::newRow("empty") << QByteArray() << qint64(1) << "not a catalogue" << 0;
    QTest::newRow("HTML") << QByteArray("<!DOCTYPE html>\n<html><body>moved</body></html>") << qint64(2)
                          << "not a QuakeML document" << 0;
    QTest::newRow("QuakeML cut short") << QByteArray(
        "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\" xmlns=\"http://quakeml.org/xmlns/bed/1.2\">\n"
        "<eventParameters><event publicID=\"smi:nz.org.geonet/1\"><origin><time><value>2020-01-01T00:00:00Z"
        "</value></time></origin></event>\n<event publicID=\"smi:nz.org.geonet/2\"><origin>")
        << qint64(3) << "not well-formed XML" << 1;
    const QByteArray csv = "publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude,depth\n"
                           "2011p1,earthquake,2011-01-01T00:00:00Z,2011-01-01T00:00:00Z,176,-38.8,2.5,12.5\n";
    QTest::newRow("CSV cut inside its last row") << csv + "2011p2,earthquake,2011-01-02T00:00:00Z,2011-01-02T00:00:00Z,176,-38.8,5."
        << qint64(3) << "the last row has 7 of the header's 8 fields: the file seems cut short" << 1;
    QTest::newRow("CSV cut, gzip whole") << gzipped(csv + "2011p2,earthquake,2011-01-02")
        << qint64(3) << "the last row has 3 of the header's 8 fields" << 1;
    QTest::newRow("gzip cut short") << gzipped(csv.repeated(50)).chopped(30)
        << qint64(-1) << "the gzip data is cut short" << -1;
    QTest::newRow("FDSN text cut inside its last line")
        << QByteArray("#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude\n"
                      "e1|2020-01-01T00:00:00Z|-41|174|5|||||ML|3.1\ne2|2020-01-02T00:00:00Z|-41|17")
        << qint64(3) << "the last line has 4 of the header's 11 fields" << 1;
    QTest::newRow("QuakeML 1.0") << QByteArray("<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"/>")
                                 << qint64(1) << "QuakeML 1.0 is not read" << 0;
}

void TestGatewayFormats::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, line);
    QFETCH(QString, reason);
    QFETCH(int, rowsBefore);
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    int rows = 0;
    const ReadOutcome outcome = CatalogueFile::read(buffer, [&rows](const EventRow &) { ++rows; });
    QVERIFY(outcome.failed());
    if (line >= 0)   // -1: wherever the cut falls
        QCOMPARE(outcome.errorLine, line);
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    if (rowsBefore >= 0)
        QCOMPARE(rows, rowsBefore);
}

void TestGatewayFormats::searchQuery_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("result");    // bounds, or the error's key

    const QByteArray tail = "&startDate=2024-01-01&endDate=2024-01-31&outputFormat=quakeml1.0";
    QTest::newRow("Harvix's own") << "magnitudeLower=3&magnitudeUpper=12" + tail
                                  << "19723..19754 3..12";
    QTest::newRow("keys in any order, encoded") << QByteArray("outputFormat=quakeml1.0&endDate=2024%2D01%2D31&"
                                                              "startDate=2024-01-01&magnitudeUpper=12&magnitudeLower=2.5")
                                                << "19723..19754 2.5..12";
    QTest::newRow("lower 0 is no lower bound") << "magnitudeLower=0&magnitudeUpper=12" + tail << "19723..19754 none..12";
    QTest::newRow("negative lower") << "magnitudeLower=-1.5&magnitudeUpper=-1" + tail << "19723..19754 none..-1";
    QTest::newRow("one day") << QByteArray("magnitudeLower=3&magnitudeUpper=12&startDate=2024-02-29&endDate=2024-02-29"
                                           "&outputFormat=quakeml1.0") << "19782..19783 3..12";
    QTest::newRow("missing key") << "magnitudeUpper=12" + tail << "magnitudeLower is missing";
    QTest::newRow("repeated key") << "magnitudeLower=3&magnitudeLower=4&magnitudeUpper=12" + tail
                                  << "magnitudeLower is given more than once";
    QTest::newRow("unknown key") << "magnitudeLower=3&magnitudeUpper=12&limit=5" + tail << "unknown key \"limit\"";
    QTest::newRow("line break in a key") << "magnitudeLower=3&magnitudeUpper=12&a%0Ab=5" + tail << "unknown key \"a?b\"";
    QTest::newRow("not a number") << "magnitudeLower=three&magnitudeUpper=12" + tail << "magnitudeLower must be";
    QTest::newRow("empty number") << "magnitudeLower=&magnitudeUpper=12" + tail << "magnitudeLower must be";
    QTest::newRow("nan") << "magnitudeLower=3&magnitudeUpper=nan" + tail << "magnitudeUpper must be";
    QTest::newRow("infinity") << "magnitudeLower=3&magnitudeUpper=inf" + tail << "magnitudeUpper must be";
    QTest::newRow("exponent") << "magnitudeLower=3&magnitudeUpper=1e2" + tail << "magnitudeUpper must be";
    QTest::newRow("lower above upper") << "magnitudeLower=7&magnitudeUpper=6" + tail << "magnitudeLower 7 is above";
    QTest::newRow("impossible date") << QByteArray("magnitudeLower=3&magnitudeUpper=12&startDate=2025-02-29"
                                                   "&endDate=2025-03-01&outputFormat=quakeml1.0") << "startDate must be";
    QTest::newRow("short date") << QByteArray("magnitudeLower=3&magnitudeUpper=12&startDate=2024-01-01"
                                              "&endDate=2024-1-31&outputFormat=quakeml1.0") << "endDate must be";
    QTest::newRow("start after end") << QByteArray("magnitudeLower=3&magnitudeUpper=12&startDate=2024-02-01"
                                                   "&endDate=2024-01-31&outputFormat=quakeml1.0") << "startDate \"2024-02-01\" is after";
    QTest::newRow("other format") << QByteArray("magnitudeLower=3&magnitudeUpper=12&startDate=2024-01-01"
                                                "&endDate=2024-01-31&outputFormat=csv") << "outputFormat must be quakeml1.0";

    // A region after the five keys, as Harvix writes it, and what is refused.
    const QByteArray plain = "magnitudeLower=3&magnitudeUpper=12" + tail;
    const QString bounds = QStringLiteral("19723..19754 3..12");
    QTest::newRow("a box as GeoNet writes it") << plain + "&bbox=163.95,-49.18,182.63,-32.02"
                                               << bounds + "&bbox=163.95,-49.18,182.63,-32.02";
    QTest::newRow("a box across 180, encoded") << plain + "&bbox=170%2C-50%2C-170%2C-30"
                                               << bounds + "&bbox=170,-50,-170,-30";
    QTest::newRow("every key") << plain + "&bbox=170,-50,-170,-30&minDepth=100&maxDepth=300&latitude=-41.5"
                                          "&longitude=174&maxRadiusKm=50"
                               << bounds + "&bbox=170,-50,-170,-30&minDepth=100&maxDepth=300&latitude=-41.5"
                                           "&longitude=174&maxRadiusKm=50";
    QTest::newRow("one depth bound") << plain + "&maxDepth=40" << bounds + "&maxDepth=40";
    QTest::newRow("depths on one value") << plain + "&minDepth=40&maxDepth=40" << bounds + "&minDepth=40&maxDepth=40";
    QTest::newRow("box of three numbers") << plain + "&bbox=170,-50,-170" << "bbox must be WEST,SOUTH,EAST,NORTH";
    QTest::newRow("box of words") << plain + "&bbox=a,b,c,d" << "bbox must be WEST,SOUTH,EAST,NORTH";
    QTest::newRow("box south of north") << plain + "&bbox=170,-30,-170,-50" << "bbox's SOUTH -30 is above its NORTH -50";
    QTest::newRow("box beyond a pole") << plain + "&bbox=170,-91,-170,-50" << "bbox's latitudes must lie";
    QTest::newRow("box given twice") << plain + "&bbox=1,2,3,4&bbox=1,2,3,4" << "bbox is given more than once";
    QTest::newRow("depth not a number") << plain + "&minDepth=deep" << "minDepth must be a depth";
    QTest::newRow("depths upside down") << plain + "&minDepth=300&maxDepth=100" << "minDepth 300 is above maxDepth 100";
    QTest::newRow("circle without its radius") << plain + "&latitude=-41&longitude=174" << "maxRadiusKm is missing";
    QTest::newRow("circle without a longitude") << plain + "&latitude=-41&maxRadiusKm=5" << "longitude is missing";
    QTest::newRow("radius alone") << plain + "&maxRadiusKm=5" << "latitude is missing";
    QTest::newRow("latitude beyond a pole") << plain + "&latitude=91&longitude=174&maxRadiusKm=5" << "latitude must be";
    QTest::newRow("negative radius") << plain + "&latitude=-41&longitude=174&maxRadiusKm=-5" << "maxRadiusKm must be";
    QTest::newRow("infinite radius") << plain + "&latitude=-41&longitude=174&maxRadiusKm=inf" << "maxRadiusKm must be";
}

void TestGatewayFormats::searchQuery()
{
    QFETCH(QByteArray, query);
    QFETCH(QString, result);
    const Parsed<SearchQuery> parsed = SearchQuery::parse(std::string_view(query.constData(), std::size_t(query.size())));
    if (!parsed.value) {
        QVERIFY2(parsed.error.startsWith(result), qPrintable(parsed.error));
        QVERIFY(!parsed.error.contains(u'\n'));
        return;
    }
    const SearchQuery &q = *parsed.value;
    const qint64 day = qint64(86400) * 1000000;
    QVERIFY(q.startUs % day == 0 && q.endUs % day == 0);
    const QString bounds = QStringLiteral("%1..%2 %3..%4")
                               .arg(q.startUs / day)
                               .arg(q.endUs / day)
                               .arg(q.magnitudeLower ? QString::number(*q.magnitudeLower) : QStringLiteral("none"))
                               .arg(q.magnitudeUpper);
    QCOMPARE(bounds + q.region.queryKeys(), result);
}

void TestGatewayFormats::writer()
{
    EventRow row;
    row.publicId = QStringLiteral("2024p<1>&\u00E9");
    row.originTimeUs = -1; // one microsecond before 1970: the fraction is dropped, not rounded
    row.latitude = -41.286;
    row.magnitude = 0.1 + 0.2;
    row.magnitudeStationCount = 12;
    std::string out;
    QuakeML10Writer::appendEvent(out, row);
    QCOMPARE(QByteArray::fromStdString(out),
             QByteArray("<event publicID=\"smi:nz.org.geonet/2024p%3C1%3E%26%C3%A9\">"
                        "<origin publicID=\"smi:nz.org.geonet/origin/2024p%3C1%3E%26%C3%A9g/1\">"
                        "<time><value>1969-12-31T23:59:59</value></time><latitude><value>-41.286</value></latitude>"
                        "</origin><magnitude><mag><value>0.30000000000000004</value></mag>"
                        "<stationCount>12</stationCount></magnitude></event>\n"));
}

QTEST_MAIN(TestGatewayFormats)
#include "tst_gatewayformats.moc"
