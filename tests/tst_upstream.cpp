#include "catalogue/catalogue.h"
#include "http/searchquery.h"
#include "upstream/upstream.h"

#include "testsupport/gatewayprocess.h"
#include "testsupport/upstreamstandin.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>

#include <thread>

// The gateway against loopback stand-ins of GeoNet's quake search and of
// an FDSN event service that serve GeoNet's real material, and misbehave.
class TestUpstream : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void windowsOverTheCapAreSplit_data();
    void windowsOverTheCapAreSplit();
    void emptyReplies_data();
    void emptyReplies();
    void failuresStoreNothing_data();
    void failuresStoreNothing();
    void laterFetchesUpdateAndRemove();
    void serveCopiesThenFallsBack();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Catalogue> catalogue;
};

namespace {

using Protocol = UpstreamStandIn::Protocol;

QString geonet(const char *path)
{
    return QStringLiteral(HARVIX_GEONET_DIR "/") + QLatin1String(path);
}

std::int64_t utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() * 1000;
}

UpstreamWindow window(std::int64_t start, std::int64_t end)
{
    UpstreamWindow window;
    window.startUs = start;
    window.endUs = end;
    return window;
}

// The stand-in for a protocol, with GeoNet's real events in it.
std::unique_ptr<UpstreamStandIn> standIn(Protocol protocol, const char *file = nullptr)
{
    auto server = std::make_unique<UpstreamStandIn>(protocol);
    const char *path = file ? file
                            : protocol == Protocol::QuakeSearch ? "quakesearch/geonet_quakesearch_1980-2022.csv"
                                                                : "fdsn/geonet-fdsn-derived_6events_orderby-time.xml";
    if (!server->load(geonet(path)))
        return nullptr;
    return server;
}

qint64 count(const Catalogue &catalogue, const QString &where = QStringLiteral("1 = 1"))
{
    QSqlQuery query(catalogue.connection());
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM event WHERE ") + where) && query.next()
        ? query.value(0).toLongLong() : -1;
}

std::unique_ptr<Upstream> upstreamFor(const QString &url, int limit = 20000, bool xml = false, int timeout = 20)
{
    Upstream::Options options;
    options.quakeSearchLimit = limit;
    options.fdsnXml = xml;
    options.timeoutSeconds = timeout;
    QString error;
    return Upstream::forUrl(url, options, &error);
}

} // namespace

void TestUpstream::init()
{
    if (!QFile::exists(geonet("quakesearch/geonet_quakesearch_1980-2022.csv")))
        QSKIP("GeoNet's material in ../shared/geonet is not there");
    dir = std::make_unique<QTemporaryDir>();
    catalogue = std::make_unique<Catalogue>(dir->filePath(QStringLiteral("catalogue.sqlite")));
    QString error;
    QVERIFY2(catalogue->open(&error), qPrintable(error));
}

void TestUpstream::windowsOverTheCapAreSplit_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("xml");
    QTest::addColumn<int>("cap");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("events");    // what the real file holds in the window
    QTest::addColumn<int>("minimumRequests");

    // 2010 and 2011 of the Taupo CSV: 100 a reply at most.
    QTest::newRow("quake search, count then halves") << int(Protocol::QuakeSearch) << false << 100
        << qint64(utc(2010, 1, 1)) << qint64(utc(2012, 1, 1)) << 0 << 5;
    QTest::newRow("FDSN text, 413 then halves") << int(Protocol::Fdsn) << false << 2
        << qint64(utc(2000, 1, 1)) << qint64(utc(2030, 1, 1)) << 6 << 5;
    QTest::newRow("FDSN QuakeML 1.2") << int(Protocol::Fdsn) << true << 10
        << qint64(utc(2000, 1, 1)) << qint64(utc(2030, 1, 1)) << 6 << 1;
}

void TestUpstream::windowsOverTheCapAreSplit()
{
    QFETCH(int, protocol);
    QFETCH(bool, xml);
    QFETCH(int, cap);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(int, events);
    QFETCH(int, minimumRequests);

    auto server = standIn(Protocol(protocol));
    QVERIFY(server);
    if (xml) {
        QFile document(geonet("fdsn/geonet-fdsn-derived_6events_orderby-time.xml"));
        QVERIFY(document.open(QIODevice::ReadOnly));
        server->setXmlDocument(document.readAll());
    }
    server->setCap(cap);
    QVERIFY(server->start());
    if (events == 0) {
        // Counted here from the file itself, independently of the gateway's readers.
        QFile csv(geonet("quakesearch/geonet_quakesearch_1980-2022.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        for (const QByteArray &line : csv.readAll().split('\n')) {
            const QByteArray time = line.split(',').value(2);
            events += time >= "2010-01-01" && time < "2012-01-01" ? 1 : 0;
        }
        QVERIFY(events > 2 * cap);
    }

    auto upstream = upstreamFor(server->url(), cap, xml);
    const FetchReport report = upstream->fetch(*catalogue, window(start, end));
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QVERIFY2(report.requests >= minimumRequests, qPrintable(QString::number(report.requests)));
    // Each event once: none lost at the edges of the pieces, none doubled.
    QCOMPARE(count(*catalogue, QStringLiteral("origin_time >= %1 AND origin_time < %2").arg(start).arg(end)),
             qint64(events));
    QCOMPARE(count(*catalogue), qint64(events));
    QVERIFY(catalogue->isFetched(upstream->url().toString(), window(start, end), 0));
}

void TestUpstream::emptyReplies_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("body");   // what csv? sends; empty for the stand-in's own
    QTest::newRow("FDSN 204") << int(Protocol::Fdsn) << QByteArray();
    QTest::newRow("quake search, count 0") << int(Protocol::QuakeSearch) << QByteArray();
    QTest::newRow("quake search, header only") << int(Protocol::QuakeSearch)
        << QByteArray("publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude,depth,magnitudetype,"
                      "depthtype,evaluationmethod,evaluationstatus,evaluationmode,earthmodel,usedphasecount,"
                      "usedstationcount,magnitudestationcount,minimumdistance,azimuthalgap,originerror,"
                      "magnitudeuncertainty\n");
}

void TestUpstream::emptyReplies()
{
    QFETCH(int, protocol);
    QFETCH(QByteArray, body);
    auto server = standIn(Protocol(protocol));
    if (!body.isEmpty()) {
        server->setFault([body](const httplib::Request &request, httplib::Response &response) {
            if (request.path == "/count")
                response.set_content("{\"count\": 3}", "application/json");
            else
                response.set_content(body.toStdString(), "text/csv");
            return true;
        });
    }
    QVERIFY(server->start());
    auto upstream = upstreamFor(server->url());
    const UpstreamWindow quiet = window(utc(1970, 1, 1), utc(1970, 2, 1));
    const FetchReport report = upstream->fetch(*catalogue, quiet);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(count(*catalogue), qint64(0));
    QVERIFY(catalogue->isFetched(upstream->url().toString(), quiet, 0));
}

void TestUpstream::failuresStoreNothing_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error");
    QTest::newRow("refused") << int(Protocol::Fdsn) << "refuse" << "could not establish connection";
    QTest::newRow("silent") << int(Protocol::QuakeSearch) << "silent" << "within 1 s";
    QTest::newRow("HTTP 500") << int(Protocol::Fdsn) << "500" << "answered HTTP 500";
    QTest::newRow("HTML for CSV") << int(Protocol::QuakeSearch) << "html" << "the reply is not GeoNet quake search CSV";
    QTest::newRow("JSON for QuakeML") << int(Protocol::Fdsn) << "json" << "the reply is not QuakeML 1.2";
    QTest::newRow("cut mid-row") << int(Protocol::QuakeSearch) << "cut" << "ends inside a row";
    QTest::newRow("cut mid-element") << int(Protocol::Fdsn) << "cut" << "not well-formed XML";
}

void TestUpstream::failuresStoreNothing()
{
    QFETCH(int, protocol);
    QFETCH(QString, fault);
    QFETCH(QString, error);
    auto server = standIn(Protocol(protocol));
    UpstreamStandIn *raw = server.get();
    const bool xml = fault == QLatin1String("json") || (protocol == int(Protocol::Fdsn) && fault == QLatin1String("cut"));
    server->setFault([fault, raw](const httplib::Request &request, httplib::Response &response) {
        if (request.path == "/count")
            return false;
        if (fault == QLatin1String("silent")) {
            while (!raw->stopping())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return true;
        }
        if (fault == QLatin1String("500"))
            response.status = 500;
        else if (fault == QLatin1String("html"))
            response.set_content("<!DOCTYPE html><html><body>Moved</body></html>\n", "text/html");
        else if (fault == QLatin1String("json"))
            response.set_content("{\"events\": []}\n", "application/json");
        else if (request.path == "/csv")   // a good first row, then a cut
            response.set_content("publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude\n"
                                 "2011p1,earthquake,2011-01-01T00:00:00Z,2011-01-01T00:00:00Z,176,-38.8,2.5\n"
                                 "2011p2,earthquake,2011-01-0", "text/csv");
        else
            response.set_content("<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\"><eventParameters>"
                                 "<event publicID=\"smi:nz.org.geonet/2011p1\"><origin><time><value>2011-01-01T00:00:00Z"
                                 "</value></time></origin></event><event publicID=\"smi:nz", "application/xml");
        return true;
    });
    QVERIFY(server->start());
    const QString url = fault == QLatin1String("refuse") ? QStringLiteral("http://127.0.0.1:1/fdsnws/event/1/") : server->url();
    auto upstream = upstreamFor(url, 20000, xml, 1);
    const UpstreamWindow year = window(utc(2011, 1, 1), utc(2012, 1, 1));
    const FetchReport report = upstream->fetch(*catalogue, year);
    QVERIFY(report.failed());
    QVERIFY2(report.error.contains(error, Qt::CaseInsensitive), qPrintable(report.error));
    // Nothing of the window is kept, and it will be asked for again.
    QCOMPARE(count(*catalogue), qint64(0));
    QVERIFY(!catalogue->isFetched(upstream->url().toString(), year, 0));
}

void TestUpstream::laterFetchesUpdateAndRemove()
{
    UpstreamStandIn server(Protocol::Fdsn);
    EventRow row;
    row.originTimeUs = utc(2025, 3, 1);
    row.latitude = -41.3;
    row.longitude = 174.8;
    row.magnitude = 4.1;
    row.magnitudeType = QStringLiteral("MLv");
    row.eventType = QStringLiteral("earthquake");
    for (const char *id : { "2025p1", "2025p2" }) {
        row.publicId = QLatin1String(id);
        server.addEvent(row);
    }
    row.publicId = QStringLiteral("2025p3");
    row.latitude = 95;   // impossible: kept out, counted
    server.addEvent(row);
    server.setCap(10);
    QVERIFY(server.start());
    auto upstream = upstreamFor(server.url());
    const UpstreamWindow march = window(utc(2025, 3, 1), utc(2025, 4, 1));
    FetchReport report = upstream->fetch(*catalogue, march);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(report.skipped, qint64(1));
    QCOMPARE(count(*catalogue), qint64(2));

    // The upstream revises one event and withdraws the other.
    UpstreamStandIn revised(Protocol::Fdsn);
    row.latitude = -41.3;
    row.publicId = QStringLiteral("2025p1");
    row.magnitude = 4.4;
    revised.addEvent(row);
    row.publicId = QStringLiteral("2025p2");
    row.eventType = QStringLiteral("not existing");
    revised.addEvent(row);
    QVERIFY(revised.start());
    report = upstreamFor(revised.url())->fetch(*catalogue, march);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(report.removed, qint64(1));
    QCOMPARE(count(*catalogue), qint64(1));
    QCOMPARE(catalogue->find(QStringLiteral("2025p1"))->magnitude, std::optional<double>(4.4));
}

void TestUpstream::serveCopiesThenFallsBack()
{
    auto server = standIn(Protocol::Fdsn);
    std::atomic<int> active { 0 }, mostAtOnce { 0 };
    std::mutex agentsMutex;
    QSet<QByteArray> agents;
    server->setFault([&](const httplib::Request &request, httplib::Response &) {
        {
            std::lock_guard<std::mutex> lock(agentsMutex);
            agents.insert(QByteArray::fromStdString(request.get_header_value("User-Agent")));
        }
        mostAtOnce = std::max(mostAtOnce.load(), ++active);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --active;
        return false;
    });
    QVERIFY(server->start());
    GatewayProcess gateway;
    QVERIFY2(gateway.start({ "--catalogue", gateway.catalogue(), "--upstream", server->url(), "--upstream-timeout", "2" }),
             qPrintable(gateway.log()));

    auto search = [&gateway](int year) {
        const QString path = QStringLiteral("/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=%1-01-01"
                                            "&endDate=%1-12-31&outputFormat=quakeml1.0").arg(year);
        return GatewayProcess::get(gateway.url(path));
    };
    GatewayProcess::Reply reply = search(2016);
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("<event publicID=\"smi:nz.org.geonet/2016p408314\">"));
    QVERIFY(!reply.body.contains("<!--"));
    const int requests = server->requests();
    search(2016);   // fetched a moment ago: from the catalogue
    QCOMPARE(server->requests(), requests);

    // Eight searches of other windows at once: two requests upstream at most.
    QNetworkAccessManager manager;
    int done = 0;
    for (int year = 2001; year <= 2008; ++year) {
        const QString path = QStringLiteral("/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=%1-01-01"
                                            "&endDate=%1-12-31&outputFormat=quakeml1.0").arg(year);
        QNetworkReply *r = manager.get(QNetworkRequest(gateway.url(path)));
        connect(r, &QNetworkReply::finished, this, [&done, r] { ++done; r->deleteLater(); });
    }
    QTRY_COMPARE_WITH_TIMEOUT(done, 8, 30000);
    QVERIFY2(mostAtOnce <= 2 && mostAtOnce >= 1, qPrintable(QString::number(mostAtOnce)));
    QCOMPARE(agents, QSet<QByteArray>({ "Harvix/1.1 (harvix-gateway)" }));

    // Gone: the catalogue answers alone, and says so.
    server->stop();
    reply = search(2018);
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("<!-- The upstream failed ("));
    QVERIFY(reply.body.contains("this answer comes from the catalogue alone. -->"));
    QVERIFY(gateway.log().contains(QLatin1String("failed (could not establish connection); answering from the catalogue alone")));
    reply = search(2016);   // still in the catalogue
    QVERIFY(reply.body.contains("2016p408314"));
}

QTEST_MAIN(TestUpstream)
#include "tst_upstream.moc"
