#include "catalogue/sqlitecatalogue.h"
#include "http/searchquery.h"
#include "upstream/follower.h"
#include "upstream/upstream.h"
#include "upstream/upstreamhttp.h"

#include "testsupport/gatewayprocess.h"
#include "testsupport/upstreamstandin.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrlQuery>
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
    void statusesAreRead_data();
    void statusesAreRead();
    void failuresStoreNothing_data();
    void failuresStoreNothing();
    void laterFetchesUpdateAndRemove();
    void aSourceThatLetsGoLeavesTheOthersValues_data();
    void aSourceThatLetsGoLeavesTheOthersValues();
    void aRevisionPastTheWindowsEndIsNoRemoval_data();
    void aRevisionPastTheWindowsEndIsNoRemoval();
    void syncMirrorsTheUpstream_data();
    void syncMirrorsTheUpstream();
    void searchesMirrorTheirWindows();
    void regionsAreAskedForAndMirroredInside_data();
    void regionsAreAskedForAndMirroredInside();
    void bigWindowSurvivesAKill();
    void noWriteLockWhileDownloading();
    void unreachableUpstreamIsRemembered();
    void serveCopiesThenFallsBack();
    void followingKeepsTheLastWeekCurrent();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SqliteCatalogue> catalogue;
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
                            : protocol == Protocol::QuakeSearch ? "quakesearch_1980-1983_2010-2011.csv"
                                                                : "geonet-fdsn-derived_6events_orderby-time.xml";
    if (!server->load(geonet(path)))
        return nullptr;
    return server;
}

qint64 count(const SqliteCatalogue &catalogue, const QString &where = QStringLiteral("1 = 1"))
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

EventRow quake(const char *id, std::int64_t time, double magnitude)
{
    EventRow row;
    row.publicId = QLatin1String(id);
    row.originTimeUs = time;
    row.latitude = -38.7;
    row.longitude = 176.1;
    row.depthKm = 5;
    row.magnitude = magnitude;
    row.magnitudeType = QStringLiteral("MLv");
    row.eventType = QStringLiteral("earthquake");
    return row;
}

// The magnitude of an event in a catalogue file, -1 when it is not there.
double magnitudeIn(const QString &path, const char *id)
{
    SqliteCatalogue catalogue(path);
    QString error;
    if (!catalogue.open(&error))
        return -2;
    const Read<EventRow> row = catalogue.find(QLatin1String(id));
    return row ? row->magnitude.value_or(-3) : -1;
}

QString searchPath(const char *from, const char *to, const char *lower = "0")
{
    return QStringLiteral("/services/quake/search?magnitudeLower=%1&magnitudeUpper=12&startDate=%2&endDate=%3"
                          "&outputFormat=quakeml1.0").arg(QLatin1String(lower), QLatin1String(from), QLatin1String(to));
}

} // namespace

void TestUpstream::init()
{
    dir = std::make_unique<QTemporaryDir>();
    catalogue = std::make_unique<SqliteCatalogue>(dir->filePath(QStringLiteral("catalogue.sqlite")));
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
        QFile document(geonet("geonet-fdsn-derived_6events_orderby-time.xml"));
        QVERIFY(document.open(QIODevice::ReadOnly));
        server->setXmlDocument(document.readAll());
    }
    server->setCap(cap);
    QVERIFY(server->start());
    if (events == 0) {
        // Counted here from the file itself, independently of the gateway's readers.
        QFile csv(geonet("quakesearch_1980-1983_2010-2011.csv"));
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
    QTest::newRow("FDSN 204") << int(Protocol::Fdsn);
    QTest::newRow("quake search, count 0") << int(Protocol::QuakeSearch);
}

void TestUpstream::emptyReplies()
{
    QFETCH(int, protocol);
    auto server = standIn(Protocol(protocol));
    QVERIFY(server->start());
    auto upstream = upstreamFor(server->url());
    const UpstreamWindow quiet = window(utc(1970, 1, 1), utc(1970, 2, 1));
    const FetchReport report = upstream->fetch(*catalogue, quiet);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(count(*catalogue), qint64(0));
    QVERIFY(catalogue->isFetched(upstream->url().toString(), quiet, 0));
}

void TestUpstream::statusesAreRead_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("error");
    using Answer = UpstreamClient::Answer;
    QTest::newRow("200") << 200 << QByteArray("a,b\n") << int(Answer::Events) << "";
    QTest::newRow("204") << 204 << QByteArray() << int(Answer::Nothing) << "";
    QTest::newRow("413 with FDSN's words")
        << 413 << QByteArray("Error 413: Request Entity Too Large\n\nThe query matches 30000 events\n")
        << int(Answer::TooBig) << "the service refuses the events (HTTP 413: The query matches 30000 events)";
    QTest::newRow("400 that says too many") << 400 << QByteArray("Your query exceeds the limit of 20000\n")
                                            << int(Answer::TooBig)
                                            << "the service refuses the events (HTTP 400: Your query exceeds the limit of 20000)";
    QTest::newRow("400 of another mistake") << 400 << QByteArray("Error 400: Bad Request\n\nBad date\n")
                                            << int(Answer::Failed) << "query? answered HTTP 400: Bad date";
    QTest::newRow("500 of HTML only") << 500 << QByteArray("<html><body>down</body></html>\n") << int(Answer::Failed)
                                      << "query? answered HTTP 500";
}

void TestUpstream::statusesAreRead()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, answer);
    QFETCH(QString, error);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(body);
    const UpstreamClient::Asked asked = UpstreamHttp::answerOf(status, file, QStringLiteral("query?"));
    QCOMPARE(int(asked.answer), answer);
    QCOMPARE(asked.error, error);
}

void TestUpstream::failuresStoreNothing_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error");
    QTest::newRow("refused") << int(Protocol::Fdsn) << "refuse" << "could not establish connection";
    QTest::newRow("silent") << int(Protocol::QuakeSearch) << "silent" << "no progress for 1 s";
    QTest::newRow("HTTP 500") << int(Protocol::Fdsn) << "500" << "answered HTTP 500";
    QTest::newRow("HTML for CSV") << int(Protocol::QuakeSearch) << "html" << "the reply is not GeoNet quake search CSV";
    QTest::newRow("JSON for QuakeML") << int(Protocol::Fdsn) << "json" << "the reply is not QuakeML 1.2";
    QTest::newRow("cut mid-row") << int(Protocol::QuakeSearch) << "cut" << "ends inside a row";
    QTest::newRow("cut mid-element") << int(Protocol::Fdsn) << "cut" << "not well-formed XML";
    // Replies that contradict the count that came before them.
    QTest::newRow("count 5, CSV empty") << int(Protocol::QuakeSearch) << "count-empty"
                                        << "csv? answered nothing where count? said 5 events";
    QTest::newRow("count 5, CSV of the header") << int(Protocol::QuakeSearch) << "count-header"
                                                << "the reply holds 0 of the 5 events that the service counted";
    QTest::newRow("count 5, CSV of 2 rows") << int(Protocol::QuakeSearch) << "count-short"
                                            << "the reply holds 2 of the 5 events that the service counted";
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
        const QByteArray header = "publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude\n";
        const QByteArray row = "2011p1,earthquake,2011-01-01T00:00:00Z,2011-01-01T00:00:00Z,176,-38.8,2.5\n";
        if (fault.startsWith(QLatin1String("count-"))) {
            if (request.path == "/count")
                response.set_content("{\"count\": 5}", "application/json");
            else if (fault == QLatin1String("count-header"))
                response.set_content(header.toStdString(), "text/csv");
            else if (fault == QLatin1String("count-short"))
                response.set_content((header + row + row).toStdString(), "text/csv");
            return true;
        }
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
            response.set_content((header + row + "2011p2,earthquake,2011-01-0").toStdString(), "text/csv");
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
    row.latitude = -41.3;
    row.publicId = QStringLiteral("2025p1");
    row.magnitude = 4.4;
    server.reviseEvent(row, 0);
    row.publicId = QStringLiteral("2025p2");
    row.eventType = QStringLiteral("not existing");
    server.reviseEvent(row, 0);
    report = upstream->fetch(*catalogue, march);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(report.removed, qint64(1));
    QCOMPARE(count(*catalogue), qint64(1));
    QCOMPARE(catalogue->find(QStringLiteral("2025p1"))->magnitude, std::optional<double>(4.4));
}

void TestUpstream::aSourceThatLetsGoLeavesTheOthersValues_data()
{
    QTest::addColumn<bool>("markedWithdrawn");   // else it is simply gone
    QTest::newRow("withdrawn") << true;
    QTest::newRow("gone") << false;
}

// A file and an upstream hold one event, each with values of its own: when
// the upstream lets go of it, the event shows the file's values again,
// under the file's name, not the withdrawn ones.
void TestUpstream::aSourceThatLetsGoLeavesTheOthersValues()
{
    QFETCH(bool, markedWithdrawn);
    EventRow fromFile = quake("xshared", utc(2026, 11, 10), 3.0);
    fromFile.depthKm = 12;
    const std::unique_ptr<Catalogue::Writer> file = catalogue->writer(QStringLiteral("fileA.csv"));
    QVERIFY(file->begin() && file->write(fromFile) && file->commit());

    UpstreamStandIn server(Protocol::Fdsn);
    EventRow upstreamRow = quake("xshared", utc(2026, 11, 10), 4.0);
    upstreamRow.depthKm = 10;
    server.addEvent(upstreamRow);
    QVERIFY(server.start());
    auto upstream = upstreamFor(server.url());
    const UpstreamWindow week = window(utc(2026, 11, 9), utc(2026, 11, 16));
    FetchReport report = upstream->fetch(*catalogue, week);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(catalogue->find(QStringLiteral("xshared"))->magnitude, std::optional<double>(4.0));

    if (markedWithdrawn) {
        upstreamRow.eventType = QStringLiteral("not existing");
        server.reviseEvent(upstreamRow, 0);
    } else {
        server.dropEvent(QStringLiteral("xshared"));
    }
    report = upstream->fetch(*catalogue, week);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(report.removed, qint64(0));
    const Read<EventRow> shown = catalogue->find(QStringLiteral("xshared"));
    QVERIFY(shown);
    QCOMPARE(shown->source, QStringLiteral("fileA.csv"));
    QCOMPARE(shown->magnitude, std::optional<double>(3.0));
    QCOMPARE(shown->depthKm, std::optional<double>(12));
    QCOMPARE(shown->eventType, QStringLiteral("earthquake"));
}

void TestUpstream::aRevisionPastTheWindowsEndIsNoRemoval_data()
{
    QTest::addColumn<int>("protocol");
    QTest::newRow("FDSN") << int(Protocol::Fdsn);
    QTest::newRow("quake search") << int(Protocol::QuakeSearch);
}

// The upstream moves an event from just before a window's end to just
// after it: copying the window again does not take it for gone.
void TestUpstream::aRevisionPastTheWindowsEndIsNoRemoval()
{
    QFETCH(int, protocol);
    UpstreamStandIn server { Protocol(protocol) };
    const std::int64_t midnight = utc(2026, 12, 2);
    server.addEvent(quake("edge1", midnight - 100000, 3.4));
    QVERIFY(server.start());
    auto upstream = upstreamFor(server.url());
    const UpstreamWindow day = window(utc(2026, 12, 1), midnight);
    FetchReport report = upstream->fetch(*catalogue, day);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(count(*catalogue), qint64(1));

    server.reviseEvent(quake("edge1", midnight + 200000, 3.4), 0);
    report = upstream->fetch(*catalogue, day);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(report.removed, qint64(0));
    const Read<EventRow> kept = catalogue->find(QStringLiteral("edge1"));
    QVERIFY(kept);
    // At its revised time (GeoNet's quake search gives whole seconds).
    QVERIFY2(kept->originTimeUs >= midnight && kept->originTimeUs <= midnight + 200000,
             qPrintable(QString::number(kept->originTimeUs - midnight)));
}

void TestUpstream::syncMirrorsTheUpstream_data()
{
    QTest::addColumn<int>("protocol");
    QTest::newRow("FDSN") << int(Protocol::Fdsn);
    QTest::newRow("quake search") << int(Protocol::QuakeSearch);
}

void TestUpstream::syncMirrorsTheUpstream()
{
    QFETCH(int, protocol);
    UpstreamStandIn server{ Protocol(protocol) };
    const std::int64_t before = utc(2026, 11, 20), after = utc(2026, 12, 2);
    server.addEvent(quake("2026p1", utc(2026, 11, 2), 3.2), QByteArray(), before);
    server.addEvent(quake("2026p2", utc(2026, 11, 9), 3.5), QByteArray(), before);
    server.addEvent(quake("2026p3", utc(2026, 11, 16), 4.0), QByteArray(), before);
    QVERIFY(server.start());

    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    // An event from a file in the same weeks: no fetch removes it.
    const QString file = gateway.writeFile("felt.txt", "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|"
                                                       "Contributor|ContributorID|MagType|Magnitude\n"
                                                       "felt1|2026-11-10T00:00:00Z|-41|174|5|||||ML|3.3\n");
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, file }).exitCode, 0);
    const QStringList sync = { "sync", "--catalogue", catalogue, "--upstream", server.url(),
                               "--from", "2026-11-01", "--to", "2026-11-28" };
    GatewayProcess::Result result = gateway.run(sync);
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("4 windows (0 done before): 3 events added")),
             qPrintable(result.output));

    // The upstream revises one event below M3, drops another without a
    // mark, and adds a third.
    server.reviseEvent(quake("2026p1", utc(2026, 11, 2), 2.9), after);
    server.dropEvent(QStringLiteral("2026p2"));
    server.addEvent(quake("2026p4", utc(2026, 11, 23), 3.8), QByteArray(), after);

    // What changed after a time: every week is asked, done before or not.
    int asked = server.requests();
    result = gateway.run(sync + QStringList { "--updated-after", "2026-11-30" });
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("4 windows (0 done before): 1 events added, 1 updated")),
             qPrintable(result.output));
    QVERIFY(server.requests() >= asked + 4);
    QCOMPARE(magnitudeIn(catalogue, "2026p1"), 2.9);
    QCOMPARE(magnitudeIn(catalogue, "2026p4"), 3.8);
    QCOMPARE(magnitudeIn(catalogue, "2026p2"), 3.5);   // a drop without a mark is not a change

    // A plain sync resumes: the weeks are done.
    asked = server.requests();
    result = gateway.run(sync);
    QVERIFY2(result.output.contains(QLatin1String("4 windows (4 done before)")), qPrintable(result.output));
    QCOMPARE(server.requests(), asked);

    // Fetching the done weeks again, whole, mirrors the drop; what is the
    // same as before is not counted as updated.
    result = gateway.run(sync + QStringList { "--refetch" });
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("(0 done before): 0 events added, 0 updated, 1 removed")),
             qPrintable(result.output));
    QCOMPARE(magnitudeIn(catalogue, "2026p2"), -1.0);
    QCOMPARE(magnitudeIn(catalogue, "felt1"), 3.3);
    QCOMPARE(magnitudeIn(catalogue, "2026p3"), 4.0);
    QCOMPARE(gateway.run(sync + QStringList { "--refetch", "--updated-after", "2026-11-30" }).exitCode, 2);
}

void TestUpstream::searchesMirrorTheirWindows()
{
    UpstreamStandIn server(Protocol::Fdsn);
    server.addEvent(quake("2026p1", utc(2026, 11, 2), 3.2));
    server.addEvent(quake("2026p2", utc(2026, 11, 9), 3.5));
    QVERIFY(server.start());
    GatewayProcess gateway;
    QVERIFY2(gateway.start({ "--catalogue", gateway.catalogue(), "--upstream", server.url(), "--refresh-after", "0" }),
             qPrintable(gateway.log()));
    GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(searchPath("2026-11-01", "2026-11-30", "3")));
    QVERIFY(reply.body.contains("2026p1") && reply.body.contains("2026p2"));

    server.reviseEvent(quake("2026p1", utc(2026, 11, 2), 2.9), utc(2026, 12, 1));
    server.dropEvent(QStringLiteral("2026p2"));
    reply = GatewayProcess::get(gateway.url(searchPath("2026-11-01", "2026-11-30", "3")));
    QCOMPARE(reply.status, 200);
    QVERIFY2(!reply.body.contains("2026p1") && !reply.body.contains("2026p2"), reply.body.constData());
    // A window with a lower floor brings the revised event back.
    reply = GatewayProcess::get(gateway.url(searchPath("2026-11-01", "2026-11-30")));
    QVERIFY(reply.body.contains("<event publicID=\"smi:nz.org.geonet/2026p1\">"));
    QVERIFY(reply.body.contains("<mag><value>2.9</value></mag>"));
    QVERIFY(!reply.body.contains("2026p2"));
}

void TestUpstream::bigWindowSurvivesAKill()
{
    // GeoNet's events of 1980-1983 and 2010-2011, from a service that
    // refuses more than 100 a reply and answers slowly.
    auto server = standIn(Protocol::Fdsn, "quakesearch_1980-1983_2010-2011.csv");
    QVERIFY(server);
    server->setCap(100);
    server->setFault([](const httplib::Request &, httplib::Response &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return false;
    });
    QVERIFY(server->start());
    // What a fetch of the whole window takes, into a catalogue of its own.
    const UpstreamWindow whole = window(utc(1980, 1, 1), utc(2012, 1, 1));
    FetchReport full = upstreamFor(server->url())->fetch(*catalogue, whole);
    QVERIFY2(!full.failed(), qPrintable(full.error));
    // A search has an upper magnitude bound, which leaves out the events without one.
    const qint64 events = count(*catalogue, QStringLiteral("magnitude IS NOT NULL"));
    QVERIFY(events > 1000 && full.requests > 20);

    GatewayProcess gateway;
    const QStringList serve = { "--catalogue", gateway.catalogue(), "--upstream", server->url(), "--upstream-timeout", "60" };
    QVERIFY2(gateway.start(serve), qPrintable(gateway.log()));
    QNetworkAccessManager manager;
    QNetworkReply *pending = manager.get(QNetworkRequest(gateway.url(searchPath("1980-01-01", "2011-12-31"))));
    const int before = server->requests();
    QTRY_VERIFY_WITH_TIMEOUT(server->requests() >= before + full.requests / 2, 60000);
    gateway.process().kill();
    QVERIFY(gateway.process().waitForFinished());
    delete pending;
    {
        SqliteCatalogue killed(gateway.catalogue());
        QString error;
        QVERIFY2(killed.open(&error), qPrintable(error));
        QSqlQuery check(killed.connection());
        QVERIFY(check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next());
        QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
        QVERIFY(count(killed) > 0 && count(killed) < events);
    }

    // Served again, the gateway asks only for what the killed one had not stored.
    QVERIFY2(gateway.start(serve), qPrintable(gateway.log()));
    const int resumed = server->requests();
    GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(searchPath("1980-01-01", "2011-12-31")));
    QCOMPARE(reply.status, 200);
    QVERIFY(!reply.body.contains("<!--"));
    QCOMPARE(reply.body.count("<event "), events);
    QVERIFY2(server->requests() - resumed < full.requests, qPrintable(QString::number(server->requests() - resumed)));
    QVERIFY(gateway.stop(SIGTERM));

    // One that may start no new piece after a second gets the window over
    // a few searches, each storing more.
    GatewayProcess hurried;
    QVERIFY(hurried.start({ "--catalogue", hurried.catalogue(), "--upstream", server->url(), "--upstream-timeout", "1" }));
    int searches = 0;
    do {
        reply = GatewayProcess::get(hurried.url(searchPath("1980-01-01", "2011-12-31")));
        QCOMPARE(reply.status, 200);
    } while (reply.body.contains("is not complete yet") && ++searches < 50);
    QVERIFY2(searches > 0 && !reply.body.contains("<!--"), qPrintable(hurried.log().right(2000)));
    QCOMPARE(reply.body.count("<event "), events);
}

void TestUpstream::noWriteLockWhileDownloading()
{
    UpstreamStandIn server(Protocol::Fdsn);
    server.addEvent(quake("2026p1", utc(2026, 11, 2), 3.2));
    std::atomic<bool> release { false }, held { false };
    server.setFault([&](const httplib::Request &, httplib::Response &) {
        held = true;
        while (!release && !server.stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return false;
    });
    QVERIFY(server.start());
    GatewayProcess gateway;
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue(), "--upstream", server.url(), "--upstream-timeout", "60" }));
    QNetworkAccessManager manager;
    QNetworkReply *search = manager.get(QNetworkRequest(gateway.url(searchPath("2026-11-01", "2026-11-30"))));
    QTRY_VERIFY(held);
    // An import writes while the gateway waits for its upstream.
    const QString file = gateway.writeFile("one.txt", "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|"
                                                      "Contributor|ContributorID|MagType|Magnitude\n"
                                                      "felt1|2026-11-10T00:00:00Z|-41|174|5|||||ML|3.3\n");
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", gateway.catalogue(), file }, 20000);
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    QVERIFY(!search->isFinished());
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(search->isFinished(), 30000);
    const QByteArray body = search->readAll();
    QVERIFY(body.contains("2026p1") && body.contains("felt1"));
    delete search;
}

void TestUpstream::unreachableUpstreamIsRemembered()
{
    GatewayProcess gateway;
    const QString file = gateway.writeFile("year.txt", "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|"
                                                       "Contributor|ContributorID|MagType|Magnitude\n"
                                                       "a|2024-01-05T00:00:00Z|-41|174|5|||||ML|3.3\n"
                                                       "b|2024-06-30T23:00:00Z|-41|174|5|||||ML|3.1\n");
    QCOMPARE(gateway.run({ "import", "--catalogue", gateway.catalogue(), file }).exitCode, 0);
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue(), "--upstream", "http://127.0.0.1:1/fdsnws/event/1/" }));
    GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(searchPath("2026-12-07", "2026-12-08")));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("could not establish connection"));
    QCOMPARE(reply.headers.value("harvix-catalogue-range"), QByteArray("2024-01-05/2024-06-30"));
    QCOMPARE(reply.headers.value("harvix-upstream-failed"), QByteArray("127.0.0.1"));
    // Not asked again for a minute: the catalogue answers at once.
    reply = GatewayProcess::get(gateway.url(searchPath("2026-12-06", "2026-12-06")));
    QVERIFY(reply.body.contains("a moment ago"));
    // A search inside what the catalogue holds says nothing of its range.
    reply = GatewayProcess::get(gateway.url(searchPath("2024-03-01", "2024-03-02")));
    QVERIFY(!reply.headers.contains("harvix-catalogue-range"));
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
    // The home page says when the catalogue last heard from the upstream.
    QVERIFY(GatewayProcess::get(gateway.url(QStringLiteral("/"))).body.contains("The catalogue has not heard from 127.0.0.1"));
    GatewayProcess::Reply reply = search(2016);
    QCOMPARE(reply.status, 200);
    const QByteArray home = GatewayProcess::get(gateway.url(QStringLiteral("/"))).body;
    QVERIFY2(home.contains("<p>The catalogue last heard from 127.0.0.1 (" + server->url().toLatin1() + ") at "
                           + QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate).toLatin1()),
             home.right(2000));
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

// The follower against an FDSN stand-in whose events change: revisions come
// with the next copy, withdrawals with the next whole one, nothing older
// than a week is asked for, and a failing upstream is logged once.
void TestUpstream::followingKeepsTheLastWeekCurrent()
{
    UpstreamStandIn server(Protocol::Fdsn);
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch() * 1000, hour = std::int64_t(3600) * 1000000;
    server.addEvent(quake("recent", now - 24 * hour, 3.0), QByteArray(), now - 24 * hour);
    server.addEvent(quake("dropped", now - 48 * hour, 4.0), QByteArray(), now - 48 * hour);
    server.addEvent(quake("old", now - 240 * hour, 5.0), QByteArray(), now - 240 * hour);
    std::atomic<bool> failing { false };
    std::atomic<int> failed { 0 };
    server.setFault([&](const httplib::Request &, httplib::Response &response) {
        if (!failing)
            return false;
        ++failed;
        response.status = 503;
        return true;
    });
    QVERIFY(server.start());
    const std::unique_ptr<Upstream> upstream = upstreamFor(server.url());
    std::mutex logMutex;
    QStringList log;
    UpstreamFollower follower(*catalogue, *upstream, 1, [&](const QString &line) {
        const std::lock_guard<std::mutex> lock(logMutex);
        log << line;
    }, 2);
    const auto logged = [&](const QString &words) {
        const std::lock_guard<std::mutex> lock(logMutex);
        return int(log.filter(words).size());
    };
    follower.start();
    QTRY_COMPARE(count(*catalogue), qint64(2));
    QCOMPARE(count(*catalogue, QStringLiteral("public_id = 'old'")), qint64(0));
    QVERIFY(catalogue->lastFetched(upstream->key()));

    server.reviseEvent(quake("recent", now - 24 * hour, 3.6), QDateTime::currentMSecsSinceEpoch() * 1000);
    server.dropEvent(QStringLiteral("dropped"));
    server.addEvent(quake("new", now - hour, 4.4), QByteArray(), QDateTime::currentMSecsSinceEpoch() * 1000);
    QTRY_COMPARE_WITH_TIMEOUT(count(*catalogue, QStringLiteral("public_id = 'recent' AND magnitude = 3.6")), qint64(1), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(count(*catalogue, QStringLiteral("public_id = 'new'")), qint64(1), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(count(*catalogue, QStringLiteral("public_id = 'dropped'")), qint64(0), 10000);

    // Failing: asked again, later each time, told once; then back.
    failing = true;
    QTRY_VERIFY_WITH_TIMEOUT(failed >= 2, 15000);
    QCOMPARE(logged(QStringLiteral("asking again later")), 1);
    failing = false;
    QTRY_COMPARE_WITH_TIMEOUT(logged(QStringLiteral("it answers again")), 1, 20000);
    follower.stop();
}

void TestUpstream::regionsAreAskedForAndMirroredInside_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("keys");      // the search's region
    QTest::addColumn<QStringList>("asked"); // what each request for the region holds
    QTest::newRow("quake search, a circle") << int(Protocol::QuakeSearch)
        << "latitude=-43.53&longitude=172.64&maxRadiusKm=50&maxDepth=40"
        << QStringList { "bbox=172.009", ",173.270", "maxdepth=40.1" };   // the box around the circle
    QTest::newRow("quake search, a box across 180") << int(Protocol::QuakeSearch) << "bbox=170,-46,-175,-42&minDepth=0"
        << QStringList { "bbox=169.99,-46.01,185.01,-41.99", "mindepth=-0.1" };
    QTest::newRow("FDSN, a circle") << int(Protocol::Fdsn) << "latitude=-43.53&longitude=172.64&maxRadiusKm=50"
        << QStringList { "latitude=-43.53", "longitude=172.64", "maxradius=0.45" };
    QTest::newRow("FDSN, a box across 180") << int(Protocol::Fdsn) << "bbox=170,-46,-175,-42"
        << QStringList { "minlatitude=-46.01", "maxlatitude=-41.99" };
}

void TestUpstream::regionsAreAskedForAndMirroredInside()
{
    QFETCH(int, protocol);
    QFETCH(QString, keys);
    QFETCH(QStringList, asked);
    // Christchurch's event, one that the service moves from there to
    // Wellington, one that it withdraws, and one in Wellington it forgets,
    // which the region never covers.
    const auto at = [](const char *id, int day, double latitude, double longitude) {
        EventRow row = quake(id, utc(2026, 3, day), 4);
        row.latitude = latitude;
        row.longitude = longitude;
        row.depthKm = 12;
        return row;
    };
    UpstreamStandIn server { Protocol(protocol) };
    server.addEvent(at("2026p100", 2, -43.53, 172.64));
    server.addEvent(at("2026p101", 3, -43.60, 172.70));
    server.addEvent(at("2026p102", 4, -43.50, 172.60));
    server.addEvent(at("2026p103", 5, -41.29, 174.78));
    std::mutex mutex;
    QStringList targets;
    server.setFault([&](const httplib::Request &request, httplib::Response &) {
        std::lock_guard<std::mutex> lock(mutex);
        targets << QString::fromStdString(request.target);
        return false;
    });
    QVERIFY(server.start());
    std::unique_ptr<Upstream> upstream = upstreamFor(server.url());
    FetchReport report = upstream->fetch(*catalogue, window(utc(2026, 3, 1), utc(2026, 4, 1)));
    QVERIFY2(!report.failed(), qPrintable(report.error));
    QCOMPARE(count(*catalogue), qint64(4));

    server.reviseEvent(at("2026p101", 3, -41.30, 174.80), utc(2026, 4, 2));
    server.dropEvent(QStringLiteral("2026p102"));
    server.dropEvent(QStringLiteral("2026p103"));
    UpstreamWindow region = window(utc(2026, 3, 1), utc(2026, 4, 1));
    const Parsed<SearchRegion> parsed = SearchRegion::parse(QUrlQuery(keys));
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    region.region = *parsed.value;
    targets.clear();
    report = upstream->fetch(*catalogue, region);
    QVERIFY2(!report.failed(), qPrintable(report.error));
    // The first request asks for the region; the event moved away is still
    // there, where it went; the withdrawn one is gone; the one the region
    // never covered stays.
    const QString first = QUrl::fromPercentEncoding(targets.value(0).toUtf8());
    for (const QString &part : asked)
        QVERIFY2(first.contains(part), qPrintable(first));
    QVERIFY(catalogue->find(QStringLiteral("2026p100")));
    const Read<EventRow> moved = catalogue->find(QStringLiteral("2026p101"));
    QVERIFY(moved && moved->latitude == -41.30);
    QVERIFY(!catalogue->find(QStringLiteral("2026p102")));
    QVERIFY(catalogue->find(QStringLiteral("2026p103")));
    // The window is recorded as of its region: it answers that region's
    // searches, and no other.
    QSqlQuery recorded(catalogue->connection());
    QVERIFY(recorded.exec(QStringLiteral("SELECT region FROM fetched_window ORDER BY rowid DESC LIMIT 1")) && recorded.next());
    QCOMPARE(recorded.value(0).toString(), region.region.queryKeys());
    QVERIFY(recorded.exec(QStringLiteral("DELETE FROM fetched_window WHERE region IS NULL")));
    QVERIFY(catalogue->isFetched(upstream->key(), region, 0));
    UpstreamWindow other = region;
    other.region.maxDepthKm = 500;
    QVERIFY(!catalogue->isFetched(upstream->key(), other, 0));
}

QTEST_MAIN(TestUpstream)
#include "tst_upstream.moc"
