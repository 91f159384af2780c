// The gateway's FDSN event service: every parameter on its boundary, boxes
// and circles across the antimeridian, paging, the errors, QuakeML 1.2
// against the schema, and a real FDSN client (seisplotjs under Node) that
// must read what the gateway's own Harvix search gives.

#include "geo/places.h"
#include "testsupport/gatewayprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

class TestFdsn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void query_data();
    void query();
    void refused_data();
    void refused();
    void quakemlIsValid();
    void pagingNeitherRepeatsNorSkips();
    void cappedWithMaxEvents();
    void textReadsBackAsTheSameCatalogue();
    void otherEndpoints();
    void seisplotjsReadsWhatHarvixSees();

private:
    GatewayProcess gateway;
};

namespace {

// Ten events of January 2024: on the edges of the month, on both sides of
// 180°, without a depth, a magnitude or a position, a quarry blast, and a
// magnitude type longer than QuakeML 1.2's 32 characters.
const QByteArray events =
    "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude|MagAuthor"
    "|EventLocationName|EventType\n"
    "first|2024-01-01T00:00:00Z|-41|174|5|||||ML|3|||earthquake\n"
    "taupo|2024-01-05T10:00:00Z|-38.69|176.07|5.5|||||ML|3.2|||earthquake\n"
    "kermadec-east|2024-01-06T00:00:00Z|-30|-179.9|40|||||Mw|5.1|||earthquake\n"
    "kermadec-west|2024-01-07T00:00:00Z|-30|179.9|35|||||mb|4.8|||earthquake\n"
    "far-east|2024-01-08T00:00:00Z|-30|-170|10|||||ML as the far east's own network reports it|4|||earthquake\n"
    "nodepth|2024-01-09T00:00:00Z|-41.3|174.8||||||ML|2.1|||earthquake\n"
    "quarry|2024-01-10T12:30:00.123456Z|-43.5|172.6|0.1|||||ML|1.5|||quarry\n"
    "nomag|2024-01-11T00:00:00Z|-45|170|12|||||||||earthquake\n"
    "noplace|2024-01-12T00:00:00Z|||5|||||ML|2|||earthquake\n"
    "last|2024-01-31T23:59:59.999Z|-41|174|5|||||ML|12|||earthquake\n";

const QString inTimeOrder = QStringLiteral("first taupo kermadec-east kermadec-west far-east nodepth quarry nomag last");

QString queryPath(const QString &query)
{
    return QStringLiteral("/fdsnws/event/1/query?") + query;
}

// The ids of a text reply, in order.
QString idsOf(const QByteArray &text)
{
    QStringList ids;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            ids << QString::fromUtf8(line.left(line.indexOf('|')));
    }
    return ids.join(u' ');
}

} // namespace

void TestFdsn::initTestCase()
{
    const QString file = gateway.writeFile(QStringLiteral("events.txt"), events);
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", gateway.catalogue(), file });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
}

void TestFdsn::query_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("ids");

    QTest::newRow("everything, newest first") << "" << QStringLiteral("last nomag quarry nodepth far-east kermadec-west "
                                                                      "kermadec-east taupo first");
    QTest::newRow("time ascending") << "orderby=time-asc" << inTimeOrder;
    QTest::newRow("both time bounds on one event") << "start=2024-01-01T00:00:00&end=2024-01-01T00:00:00" << "first";
    QTest::newRow("a date is its midnight") << "starttime=2024-01-31&orderby=time-asc" << "last";
    QTest::newRow("end to the millisecond") << "starttime=2024-01-31T23:59:59.999" << "last";
    QTest::newRow("latitude bounds on the events") << "minlatitude=-30&maxlat=-30&orderby=time-asc"
                                                   << "kermadec-east kermadec-west far-east";
    QTest::newRow("longitude box across 180°") << "minlon=179&maxlon=-179&orderby=time-asc"
                                               << "kermadec-east kermadec-west";
    QTest::newRow("longitude box past 180°") << "minlongitude=179&maxlongitude=181&orderby=time-asc"
                                             << "kermadec-east kermadec-west";
    QTest::newRow("longitude box past -180°") << "minlongitude=-181&maxlongitude=-179&orderby=time-asc"
                                              << "kermadec-east kermadec-west";
    QTest::newRow("longitude bounds on the events") << "minlongitude=-179.9&maxlongitude=-170&orderby=time-asc"
                                                    << "kermadec-east far-east";
    QTest::newRow("radius across 180°") << "lat=-30&lon=180&maxradius=0.2&orderby=time-asc"
                                        << "kermadec-east kermadec-west";
    QTest::newRow("ring beyond a minimum radius") << "latitude=-30&longitude=-180&minradius=1&maxradius=9" << "far-east";
    QTest::newRow("depth bounds on the events") << "mindepth=35&maxdepth=40&orderby=time-asc"
                                                << "kermadec-east kermadec-west";
    QTest::newRow("a depth bound leaves out unknown depths") << "maxdepth=1" << "quarry";
    QTest::newRow("magnitude bounds on the events") << "minmag=4.8&maxmagnitude=5.1&orderby=time-asc"
                                                    << "kermadec-east kermadec-west";
    QTest::newRow("a magnitude bound leaves out unknown ones") << "minmagnitude=-5&orderby=time-asc"
        << QString(inTimeOrder).remove(QStringLiteral(" nomag"));
    QTest::newRow("magnitude type in any case") << "magnitudetype=mw" << "kermadec-east";
    QTest::newRow("event type") << "eventtype=quarry" << "quarry";
    QTest::newRow("event type as QuakeML shows it") << "eventtype=quarry%20blast" << "quarry";
    QTest::newRow("a listed type's wildcard") << "eventtype=*BLAST" << "quarry";
    QTest::newRow("a catalog that it lists") << "catalog=events.txt&orderby=time-asc" << inTimeOrder;
    QTest::newRow("a catalog that it does not list") << "catalog=GeoNet" << "";
    QTest::newRow("an event without a position is in neither format") << "starttime=2024-01-12&endtime=2024-01-12T12:00:00"
                                                                       << "";
    QTest::newRow("event types with a wildcard") << "eventtype=quarry,earth*&orderby=time-asc" << inTimeOrder;
    QTest::newRow("event id") << "eventid=taupo" << "taupo";
    QTest::newRow("event id as its publicID") << "eventid=smi:harvix.gateway/event/kermadec-west" << "kermadec-west";
    QTest::newRow("largest first") << "orderby=magnitude"
        << QStringLiteral("last kermadec-east kermadec-west far-east taupo first nodepth quarry nomag");
    QTest::newRow("smallest first") << "orderby=magnitude-asc"
        << QStringLiteral("quarry nodepth first taupo far-east kermadec-west kermadec-east last nomag");
    QTest::newRow("limit and offset") << "orderby=time-asc&limit=2&offset=3" << "kermadec-east kermadec-west";
    QTest::newRow("offset past the end") << "offset=10" << "";
    QTest::newRow("updated after long ago") << "updatedafter=2000-01-01T00:00:00&orderby=time-asc" << inTimeOrder;
    QTest::newRow("updated after the future") << "updatedafter=2100-01-01" << "";
}

void TestFdsn::query()
{
    QFETCH(QString, query);
    QFETCH(QString, ids);
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(queryPath(query + QStringLiteral("&format=text"))));
    QCOMPARE(reply.status, ids.isEmpty() ? 204 : 200);
    QCOMPARE(idsOf(reply.body), ids);
    QCOMPARE(reply.headers.value("access-control-allow-origin"), QByteArray("*"));
    if (!ids.isEmpty())
        QVERIFY(reply.contentType.startsWith("text/plain"));
}

void TestFdsn::refused_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("details");

    QTest::newRow("unknown parameter") << "minmag=3&colour=red" << 400 << "unknown parameter \"colour\"";
    QTest::newRow("long and short form") << "start=2024-01-01&starttime=2024-01-02" << 400 << "starttime is given more than once";
    QTest::newRow("latitude beyond 90") << "minlatitude=-91" << 400 << "minlatitude must be a number from -90 to 90";
    QTest::newRow("longitude beyond 360") << "maxlon=361" << 400 << "maxlongitude must be a number from -360 to 360";
    QTest::newRow("box upside down") << "minlat=10&maxlat=-10" << 400 << "minlatitude 10 is above maxlatitude -10";
    QTest::newRow("radius beyond 180") << "lat=0&lon=0&maxradius=181" << 400 << "maxradius must be a number from 0 to 180";
    QTest::newRow("ring inside out") << "lat=0&lon=0&minradius=5&maxradius=1" << 400 << "minradius 5 is above maxradius 1";
    QTest::newRow("radius without a centre") << "maxradius=5" << 400 << "a search by distance needs both latitude and longitude";
    QTest::newRow("time that is not one") << "starttime=yesterday" << 400 << "starttime must be a UTC date";
    QTest::newRow("times reversed") << "starttime=2024-02-01&endtime=2024-01-01" << 400 << "starttime is after endtime";
    QTest::newRow("depths reversed") << "mindepth=10&maxdepth=5" << 400 << "mindepth 10 is above maxdepth 5";
    QTest::newRow("magnitudes reversed") << "minmag=6&maxmag=5" << 400 << "minmagnitude 6 is above maxmagnitude 5";
    QTest::newRow("all origins") << "includeallorigins=true" << 400 << "includeallorigins=true is not supported";
    QTest::newRow("arrivals") << "includearrivals=true" << 400 << "includearrivals=true is not supported";
    QTest::newRow("neither true nor false") << "includeallmagnitudes=yes" << 400 << "includeallmagnitudes must be false, true";
    QTest::newRow("an empty catalog") << "catalog=" << 400 << "catalog has no value";
    QTest::newRow("an empty type in a list") << "eventtype=," << 400 << "eventtype lists an empty type";
    QTest::newRow("an empty event id") << "eventid=" << 400 << "eventid has no value";
    QTest::newRow("an event id with a NUL") << "eventid=last%00junk" << 400 << "eventid holds a control character";
    QTest::newRow("an empty event type") << "eventtype=%20" << 400 << "eventtype has no value";
    QTest::newRow("too many event types") << "eventtype=" + QStringLiteral("a,").repeated(50) + "a" << 400
                                          << "eventtype lists 51 types; at most 50 are taken";
    QTest::newRow("other format") << "format=json" << 400 << "format must be xml, text";
    QTest::newRow("other nodata") << "nodata=500" << 400 << "nodata must be 204, 404";
    QTest::newRow("other order") << "orderby=depth" << 400 << "orderby must be time, time-asc, magnitude, magnitude-asc";
    QTest::newRow("limit of nothing") << "limit=0" << 400 << "limit must be a whole number of at least 1";
    QTest::newRow("offset from zero") << "offset=0" << 400 << "offset must be a whole number of at least 1";
    QTest::newRow("no data, said with 404") << "starttime=2030-01-01&nodata=404" << 404 << "No events match the query.";
}

void TestFdsn::refused()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QString, details);
    const QUrl url = gateway.url(queryPath(query));
    const GatewayProcess::Reply reply = GatewayProcess::get(url);
    QCOMPARE(reply.status, status);
    QVERIFY(reply.contentType.startsWith("text/plain"));
    // FDSN's error text, naming what was wrong.
    const QString text = QString::fromUtf8(reply.body);
    const QString heading = status == 400 ? QStringLiteral("Error 400: Bad Request\n\n") : QStringLiteral("Error 404: Not Found\n\n");
    QVERIFY2(text.startsWith(heading + details), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\n\nRequest:\n") + url.toString(QUrl::FullyEncoded) + u'\n'));
    QVERIFY(text.contains(QStringLiteral("\n\nRequest Submitted:\n")));
    QVERIFY(text.endsWith(QStringLiteral("\n\nService version:\n1.2.0\n")));
}

void TestFdsn::quakemlIsValid()
{
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(queryPath(QStringLiteral("orderby=time-asc"))));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.contentType.startsWith("application/xml"));
    const QString file = gateway.writeFile(QStringLiteral("reply.xml"), reply.body);
    QProcess xmllint;
    xmllint.setProcessChannelMode(QProcess::MergedChannels);
    xmllint.start(QStringLiteral("xmllint"), { "--noout", "--schema",
                                               QStringLiteral(HARVIX_TEST_DATA_DIR "/quakeml/QuakeML-1.2.xsd"), file });
    QVERIFY(xmllint.waitForFinished(60000));
    QVERIFY2(xmllint.exitCode() == 0, xmllint.readAll().constData());

    // Depth in metres, time to the microsecond, the place, the type mapped.
    const QByteArray body = reply.body;
    QVERIFY(body.contains("<depth><value>5500</value></depth>"));
    QVERIFY(body.contains("<time><value>2024-01-10T12:30:00.123456Z</value></time>"));
    QCOMPARE(body.count("<type>region name</type></description>"), 9);
    QVERIFY(body.contains(" of Taupo</text>"));
    QVERIFY(body.contains("<type>quarry blast</type>"));
    QCOMPARE(body.count("<event "), 9);
    // An event without a magnitude has no magnitude, one without a depth no depth.
    const qsizetype nomag = body.indexOf("smi:harvix.gateway/event/nomag\"");
    QVERIFY(!body.mid(nomag, body.indexOf("</event>", nomag) - nomag).contains("<magnitude"));
}

void TestFdsn::pagingNeitherRepeatsNorSkips()
{
    for (const char *order : { "time", "time-asc", "magnitude", "magnitude-asc" }) {
        const QString whole = idsOf(GatewayProcess::get(gateway.url(queryPath(
            QStringLiteral("format=text&orderby=%1").arg(QLatin1String(order))))).body);
        QStringList pages;
        for (int offset = 1; offset <= 9; offset += 2) {
            pages << idsOf(GatewayProcess::get(gateway.url(queryPath(
                QStringLiteral("format=text&orderby=%1&limit=2&offset=%2").arg(QLatin1String(order)).arg(offset)))).body);
        }
        QCOMPARE(pages.join(u' '), whole);
    }
}

void TestFdsn::cappedWithMaxEvents()
{
    GatewayProcess capped;
    QVERIFY(capped.start({ "--catalogue", gateway.catalogue(), "--max-events", "3" }));
    const GatewayProcess::Reply tooMany = GatewayProcess::get(capped.url(queryPath(QStringLiteral("format=text"))));
    QCOMPARE(tooMany.status, 413);
    QVERIFY(tooMany.body.startsWith("Error 413: Request Entity Too Large\n\nThe query selects more than 3 events"));
    QCOMPARE(GatewayProcess::get(capped.url(queryPath(QStringLiteral("format=text&limit=3")))).status, 200);
    QCOMPARE(GatewayProcess::get(capped.url(queryPath(QStringLiteral("format=text&minmag=4.8")))).status, 200);
    // Harvix's own search has no cap.
    QCOMPARE(GatewayProcess::get(capped.url(QStringLiteral(
        "/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=2024-01-01&endDate=2024-01-31"
        "&outputFormat=quakeml1.0"))).body.count("<event "), 10);
}

void TestFdsn::textReadsBackAsTheSameCatalogue()
{
    const QByteArray text = GatewayProcess::get(gateway.url(queryPath(QStringLiteral("format=text")))).body;
    GatewayProcess copy;
    const QString file = copy.writeFile(QStringLiteral("fdsn.txt"), text);
    const GatewayProcess::Result imported = copy.run({ "import", "--catalogue", copy.catalogue(), file });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    QVERIFY(copy.start({ "--catalogue", copy.catalogue() }));
    const QByteArray again = GatewayProcess::get(copy.url(queryPath(QStringLiteral("format=text")))).body;
    // The same lines but for the catalog each came from.
    const auto withoutCatalog = [](const QByteArray &reply) {
        QList<QByteArray> lines = reply.split('\n');
        for (QByteArray &line : lines) {
            QList<QByteArray> fields = line.split('|');
            if (fields.size() > 6)
                fields[6].clear();
            line = fields.join('|');
        }
        return lines;
    };
    QCOMPARE(withoutCatalog(again), withoutCatalog(text));
    QCOMPARE(text.count('\n'), 10);
}

void TestFdsn::otherEndpoints()
{
    const GatewayProcess::Reply version = GatewayProcess::get(gateway.url(QStringLiteral("/fdsnws/event/1/version")));
    QCOMPARE(version.body, QByteArray("1.2.0\n"));
    const GatewayProcess::Reply wadl = GatewayProcess::get(gateway.url(QStringLiteral("/fdsnws/event/1/application.wadl")));
    QCOMPARE(wadl.status, 200);
    QXmlStreamReader xml(wadl.body);
    QStringList parameters;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("param"))
            parameters << xml.attributes().value(QLatin1String("name")).toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    // What it describes is what the query takes.
    for (const QString &parameter : std::as_const(parameters)) {
        const QByteArray body = GatewayProcess::get(gateway.url(queryPath(parameter + QStringLiteral("=x")))).body;
        QVERIFY2(!body.contains("unknown parameter"), qPrintable(parameter));
    }
    QVERIFY(parameters.contains(QStringLiteral("updatedafter")));
    QVERIFY(GatewayProcess::get(gateway.url(QStringLiteral("/fdsnws/event/1/catalogs"))).body.contains("<Catalog>events.txt</Catalog>"));
    QCOMPARE(GatewayProcess::get(gateway.url(QStringLiteral("/fdsnws/event/1/nothing"))).status, 404);
    // Harvix's search lets web pages read it too.
    QCOMPARE(GatewayProcess::get(gateway.url(QStringLiteral(
        "/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=2024-01-01&endDate=2024-01-31"
        "&outputFormat=quakeml1.0"))).headers.value("access-control-allow-origin"), QByteArray("*"));
}

void TestFdsn::seisplotjsReadsWhatHarvixSees()
{
    const QString client = QStringLiteral(HARVIX_CLIENTS_DIR);
    QVERIFY2(QFile::exists(client + QStringLiteral("/node_modules/seisplotjs/package.json")),
             "tests/clients has no node_modules: ./dev test installs them");
    QProcess node;
    node.setWorkingDirectory(client);
    node.start(QStringLiteral("node"), { QStringLiteral("fdsnquery.mjs"), QString::number(gateway.port()),
                                         "2024-01-01T00:00:00", "2024-01-31T23:59:59.999", "1" });
    QVERIFY(node.waitForFinished(60000));
    QVERIFY2(node.exitCode() == 0, node.readAllStandardError().constData());
    QMap<QString, QJsonObject> read;
    for (const QByteArray &line : node.readAllStandardOutput().split('\n')) {
        if (line.startsWith('{')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            read.insert(event.value(QLatin1String("publicId")).toString().section(u'/', -1), event);
        }
    }

    // The same window through Harvix's own protocol.
    const QByteArray harvix = GatewayProcess::get(gateway.url(QStringLiteral(
        "/services/quake/search?magnitudeLower=1&magnitudeUpper=12&startDate=2024-01-01&endDate=2024-01-31"
        "&outputFormat=quakeml1.0"))).body;
    Places places;
    QString error;
    QVERIFY2(places.load(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/places/places.csv"), &error), qPrintable(error));
    QXmlStreamReader xml(harvix);
    int compared = 0;
    QString id, path;
    QMap<QString, QString> values;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path += u'/' + xml.name().toString();
            if (xml.name() == QLatin1String("event")) {
                id = xml.attributes().value(QLatin1String("publicID")).toString().section(u'/', -1);
                values.clear();
            }
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            values[path] = xml.text().toString();
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("event") && id == QLatin1String("noplace")) {
                QVERIFY(!read.contains(id));   // FDSN's formats hold events with a position only
            } else if (xml.name() == QLatin1String("event")) {
                QVERIFY2(read.contains(id), qPrintable(id));
                const QJsonObject event = read.take(id);
                const QString origin = QStringLiteral("/quakeml/eventParameters/event/origin/");
                QCOMPARE(event.value(QLatin1String("time")).toString().left(19), values[origin + "time/value"]);
                const double latitude = values[origin + "latitude/value"].toDouble();
                const double longitude = values[origin + "longitude/value"].toDouble();
                QCOMPARE(event.value(QLatin1String("latitude")).toDouble(), latitude);
                QCOMPARE(event.value(QLatin1String("longitude")).toDouble(), longitude);
                if (values.contains(origin + "depth/value"))
                    QCOMPARE(event.value(QLatin1String("depthKm")).toDouble(), values[origin + "depth/value"].toDouble());
                else
                    QVERIFY(event.value(QLatin1String("depthKm")).isNull());
                QCOMPARE(event.value(QLatin1String("magnitude")).toDouble(),
                         values[QStringLiteral("/quakeml/eventParameters/event/magnitude/mag/value")].toDouble());
                QCOMPARE(event.value(QLatin1String("place")).toString(), places.catalogueName({ latitude, longitude }));
                ++compared;
            }
            path.chop(xml.name().size() + 1);
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(compared, 8);
    QVERIFY2(read.isEmpty(), qPrintable(QStringList(read.keys()).join(u' ')));
}

QTEST_GUILESS_MAIN(TestFdsn)
#include "tst_fdsn.moc"
