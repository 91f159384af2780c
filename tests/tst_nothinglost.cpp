#include "catalogue/sqlitecatalogue.h"
#include "upstream/upstream.h"

#include "testsupport/gatewayprocess.h"
#include "testsupport/upstreamstandin.h"

#include <QDir>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QtTest>

#include <httplib.h>

#include <zlib.h>

// Nothing the catalogue holds is lost: an event stays while any source
// holds it, absence is confirmed before anything goes, refusals split, a
// poll sees every commit, and no input takes all memory. Each through the
// real gateway against loopback stand-ins of the upstreams.
class TestNothingLost : public QObject
{
    Q_OBJECT

private slots:
    void anEventStaysWhileASourceHoldsIt_data();
    void anEventStaysWhileASourceHoldsIt();
    void cappedRepliesRemoveNothing_data();
    void cappedRepliesRemoveNothing();
    void refusalsAreSplitOrPassed();
    void aPollSeesALongImport();
    void headAnswersHeadersOnly_data();
    void headAnswersHeadersOnly();
    void linesWithoutEnd_data();
    void linesWithoutEnd();
    void upstreamBombs_data();
    void upstreamBombs();
    void aCatalogueOfSchema1IsBroughtUpToDate();
    void longitudesArePeriodic_data();
    void longitudesArePeriodic();
};

namespace {

using Protocol = UpstreamStandIn::Protocol;
using CapStyle = UpstreamStandIn::CapStyle;

const QString quakeSearchFile = QStringLiteral(HARVIX_GEONET_DIR "/quakesearch_1980-1983_2010-2011.csv");

QByteArray csvHeader()
{
    QFile file(quakeSearchFile);
    file.open(QIODevice::ReadOnly);
    return file.readLine();
}

// The file's rows of these GeoNet ids, under its header.
QByteArray csvOf(const QStringList &ids)
{
    QFile file(quakeSearchFile);
    file.open(QIODevice::ReadOnly);
    QByteArray out = file.readLine();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (ids.contains(QString::fromLatin1(line.left(line.indexOf(',')))))
            out += line;
    }
    return out;
}

// An FDSN service of the file's events, or of these alone.
std::unique_ptr<UpstreamStandIn> fdsnStandIn(const QStringList &ids = {})
{
    auto server = std::make_unique<UpstreamStandIn>(Protocol::Fdsn);
    QTemporaryFile some;
    if (!ids.isEmpty() && (!some.open() || some.write(csvOf(ids)) <= 0 || !some.flush()))
        return nullptr;
    if (!server->load(ids.isEmpty() ? quakeSearchFile : some.fileName()) || !server->start())
        return nullptr;
    return server;
}

std::optional<EventRow> find(const QString &path, const char *id)
{
    SqliteCatalogue catalogue(path);
    QString error;
    if (!catalogue.open(&error))
        return std::nullopt;
    const Read<EventRow> found = catalogue.find(QLatin1String(id));
    return found ? std::optional<EventRow>(*found) : std::nullopt;
}

qint64 eventsIn(const QString &path)
{
    SqliteCatalogue catalogue(path);
    QString error;
    return catalogue.open(&error) ? catalogue.eventCount().value_or(-1) : -1;
}

qint64 utcMs(const char *text)
{
    return QDateTime::fromString(QLatin1String(text), Qt::ISODate).toMSecsSinceEpoch();
}

// Five GeoNet events of the first week of February 2010.
const QStringList week = { "3251418", "3251739", "3251996", "3252518", "3252664" };

} // namespace

void TestNothingLost::anEventStaysWhileASourceHoldsIt_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("the upstream drops it, and a refetch confirms that") << "dropped";
    QTest::newRow("the upstream withdraws it") << "withdrawn";
    QTest::newRow("a file imported again with --replace no longer holds it") << "replaced";
}

void TestNothingLost::anEventStaysWhileASourceHoldsIt()
{
    QFETCH(QString, how);
    auto server = fdsnStandIn(week);
    QVERIFY(server);
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    // A file holds the first three; the upstream holds all five, and takes
    // the three over when it is synced after the file.
    const QString felt = gateway.writeFile("felt.csv", csvOf(week.mid(0, 3)));
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, felt }).exitCode, 0);
    const QStringList sync = { "sync", "--catalogue", catalogue, "--upstream", server->url(),
                               "--from", "2010-02-01", "--to", "2010-02-07" };
    GatewayProcess::Result result = gateway.run(sync);
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QCOMPARE(find(catalogue, "3251418")->source, server->url());
    QCOMPARE(eventsIn(catalogue), qint64(5));

    if (how == QLatin1String("dropped")) {
        server->dropEvent(QStringLiteral("3251418"));   // the file's too
        server->dropEvent(QStringLiteral("3252664"));   // the upstream's alone
        result = gateway.run(sync + QStringList { "--refetch" });
        QVERIFY2(result.output.contains(QLatin1String("1 removed")), qPrintable(result.output));
        QVERIFY(!find(catalogue, "3252664"));
    } else if (how == QLatin1String("withdrawn")) {
        for (const char *id : { "3251418", "3252664" }) {
            EventRow row = *find(catalogue, id);
            row.eventType = QStringLiteral("not existing");
            server->reviseEvent(row, utcMs("2026-12-01T00:00:00Z") * 1000);
        }
        result = gateway.run(sync + QStringList { "--updated-after", "2026-11-30" });
        QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("1 removed")), qPrintable(result.output));
        QVERIFY(!find(catalogue, "3252664"));
    } else {
        // A second file shares one event with the first, and is then
        // imported again holding only an event of its own.
        const QString second = gateway.writeFile("second.csv", csvOf({ "3251418", "3252518" }));
        QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, second }).exitCode, 0);
        gateway.writeFile("second.csv", csvOf({ "3253138" }));
        result = gateway.run({ "import", "--catalogue", catalogue, "--replace", second });
        QVERIFY2(result.exitCode == 0 && !result.output.contains(QLatin1String("removed first")),
                 qPrintable(result.output));
        QCOMPARE(eventsIn(catalogue), qint64(6));
        // The upstream no longer holds 3252518: it goes with the file's claim.
        server->dropEvent(QStringLiteral("3252518"));
        gateway.writeFile("second.csv", csvOf({ "3253150" }));
        result = gateway.run(sync + QStringList { "--refetch" });
        QVERIFY2(result.output.contains(QLatin1String("1 removed")), qPrintable(result.output));
        result = gateway.run({ "import", "--catalogue", catalogue, "--replace", second });
        QVERIFY2(result.output.contains(QLatin1String("1 removed first")), qPrintable(result.output));
        QVERIFY(!find(catalogue, "3253138"));
    }
    // The file's event stays, now the file's, with what was written last.
    const std::optional<EventRow> kept = find(catalogue, "3251418");
    QVERIFY(kept);
    QCOMPARE(kept->source, how == QLatin1String("replaced") ? server->url() : QStringLiteral("felt.csv"));
}

void TestNothingLost::cappedRepliesRemoveNothing_data()
{
    QTest::addColumn<int>("cap");
    QTest::addColumn<bool>("silent");
    // February 2010 holds up to 44 events a week.
    QTest::newRow("a service that sends its first 5 events and says nothing") << 5 << true;
    QTest::newRow("a proxy that cuts every reply after 12 events") << 12 << true;
    QTest::newRow("USGS's refusal over 8 events") << 8 << false;
}

void TestNothingLost::cappedRepliesRemoveNothing()
{
    QFETCH(int, cap);
    QFETCH(bool, silent);
    auto server = fdsnStandIn();
    QVERIFY(server);
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    const QStringList sync = { "sync", "--catalogue", catalogue, "--upstream", server->url(),
                               "--from", "2010-01-01", "--to", "2010-03-31" };
    GatewayProcess::Result result = gateway.run(sync);
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    const qint64 all = eventsIn(catalogue);
    QCOMPARE(all, qint64(232));

    // The upstream drops two events, then caps its replies.
    server->dropEvent(QStringLiteral("3251739"));
    server->dropEvent(QStringLiteral("3253239"));
    server->setCap(cap, silent ? CapStyle::Silent : CapStyle::Usgs);
    const int before = server->requests();
    result = gateway.run(sync + QStringList { "--refetch" });
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String(", 2 removed")), qPrintable(result.output));
    QCOMPARE(eventsIn(catalogue), all - 2);
    qInfo("a refetch of 13 weeks capped at %d: %d requests", cap, server->requests() - before);

    server->setCap(1000000);
    const int uncapped = server->requests();
    result = gateway.run(sync + QStringList { "--refetch" });
    QVERIFY2(result.output.contains(QLatin1String(", 0 removed")), qPrintable(result.output));
    QCOMPARE(server->requests() - uncapped, 13);   // nothing missing: nothing to confirm
}

void TestNothingLost::refusalsAreSplitOrPassed()
{
    auto server = fdsnStandIn();
    QVERIFY(server);
    // One week is refused even in its smallest pieces, in USGS's words.
    server->setFault([](const httplib::Request &request, httplib::Response &response) {
        // Asked a second wider than the week: from 2010-01-31T23:59:59.
        const std::string start = request.get_param_value("starttime");
        if (start < "2010-01-31T23:59:59" || start >= "2010-02-07T23:59:59")
            return false;
        response.status = 400;
        response.set_content("Error 400: Bad Request\n\n20160 matching events exceeds search limit of 20000. Modify "
                             "the search to match fewer events.\n", "text/plain");
        return true;
    });
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    const QStringList sync = { "sync", "--catalogue", catalogue, "--upstream", server->url(),
                               "--from", "2010-01-25", "--to", "2010-02-21" };
    GatewayProcess::Result result = gateway.run(sync);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.contains(QLatin1String("the window 2010-02-01T00:00:00 to 2010-02-08T00:00:00: the service "
                                                  "refuses the events (HTTP 400: 20160 matching events exceeds search "
                                                  "limit of 20000.")),
             qPrintable(result.output));
    QVERIFY2(result.output.contains(QLatin1String("1 window was refused")), qPrintable(result.output));
    // The weeks after it are there; the refused one is asked again later.
    QVERIFY(find(catalogue, "3260553"));
    QVERIFY(!find(catalogue, "3251739"));
    server->setFault(nullptr);
    result = gateway.run(sync);
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("(3 done before)")), qPrintable(result.output));
    QVERIFY(find(catalogue, "3251739"));
}

void TestNothingLost::aPollSeesALongImport()
{
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, gateway.writeFile("one.csv", csvOf({ "3251418" })) })
                 .exitCode, 0);
    QVERIFY2(gateway.start({ "--catalogue", catalogue }), qPrintable(gateway.log()));

    // An import long enough to be polled while it runs.
    QByteArray text = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|"
                      "Magnitude|MagAuthor|EventLocationName\n";
    const QDateTime start(QDate(2015, 1, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < 400000; ++i) {
        text += "long" + QByteArray::number(i) + '|' + start.addSecs(i * 60).toString(Qt::ISODate).toLatin1()
            + "|-41|174|5|||||ML|2.5||\n";
    }
    QProcess import;
    import.start(QStringLiteral(HARVIX_GATEWAY),
                 { "import", "--catalogue", catalogue, gateway.writeFile("long.txt", text) });
    QVERIFY(import.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(catalogue + QStringLiteral("-wal")).size() > 8 << 20, 60000);

    const QString polled = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).chopped(1);
    const QString poll = QStringLiteral("/fdsnws/event/1/query?updatedafter=%1&format=text&orderby=time-asc&limit=1");
    GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(poll.arg(polled)));
    QCOMPARE(reply.status, 204);
    QVERIFY2(import.state() == QProcess::Running, "the import ended before the poll: make it longer");
    QVERIFY(import.waitForFinished(120000));
    QCOMPARE(import.exitCode(), 0);

    reply = GatewayProcess::get(gateway.url(poll.arg(polled)));
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.contains("\nlong0|2015-01-01T00:00:00"), reply.body.constData());
}

void TestNothingLost::headAnswersHeadersOnly_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("FDSN query") << QByteArray("/fdsnws/event/1/query?starttime=2010-02-01&endtime=2010-02-08");
    QTest::newRow("FDSN text") << QByteArray("/fdsnws/event/1/query?starttime=2010-02-01&endtime=2010-02-08&format=text");
    QTest::newRow("Harvix's search") << QByteArray("/services/quake/search?magnitudeLower=0&magnitudeUpper=12"
                                                   "&startDate=2010-02-01&endDate=2010-02-08&outputFormat=quakeml1.0");
    QTest::newRow("a page") << QByteArray("/");
}

void TestNothingLost::headAnswersHeadersOnly()
{
    QFETCH(QByteArray, path);
    GatewayProcess gateway;
    QCOMPARE(gateway.run({ "import", "--catalogue", gateway.catalogue(), gateway.writeFile("week.csv", csvOf(week)) })
                 .exitCode, 0);
    QVERIFY2(gateway.start({ "--catalogue", gateway.catalogue() }), qPrintable(gateway.log()));
    const GatewayProcess::Reply got = GatewayProcess::get(gateway.url(QString::fromLatin1(path)));
    QCOMPARE(got.status, 200);

    // HEAD, then GET on the same connection: the second reply must start
    // right after the first one's headers.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(gateway.port()));
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(gateway.port()) + "\r\n";
    socket.write("HEAD " + path + " HTTP/1.1\r\n" + host + "\r\nGET " + path + " HTTP/1.1\r\n" + host
                 + "Connection: close\r\n\r\n");
    QByteArray bytes;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        bytes += socket.readAll();
    bytes += socket.readAll();
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    QVERIFY(headEnd > 0);
    const QByteArray head = bytes.left(headEnd).toLower();
    QVERIFY2(!head.contains("transfer-encoding"), head.constData());
    QVERIFY2(head.contains("content-length: " + QByteArray::number(got.body.size())), head.constData());
    const QByteArray rest = bytes.mid(headEnd + 4);
    QVERIFY2(rest.startsWith("HTTP/1.1 200"), rest.left(80).constData());
    QVERIFY(rest.endsWith(got.body.right(200)) || rest.contains(got.body.right(200)));
}

void TestNothingLost::linesWithoutEnd_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("gzip");
    QTest::addColumn<QString>("reason");
    QTest::newRow("quake search CSV, gzip-compressed") << csvHeader() << true
                                                        << "long.gz:2: a line longer than 1 MiB: not a catalogue row";
    QTest::newRow("FDSN text") << QByteArray("#EventID|Time|Latitude|Longitude\n") << false
                               << "long.gz:2: a line longer than 1 MiB: not a catalogue row";
    QTest::newRow("QuakeML 1.2") << QByteArray("<?xml version=\"1.0\"?>\n<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/"
                                               "quakeml/1.2\" xmlns=\"http://quakeml.org/xmlns/bed/1.2\">\n"
                                               "<eventParameters publicID=\"smi:x/y\"><event publicID=\"smi:x/1\">"
                                               "<description><text>")
                                 << true << "long.gz:3: a text or tag longer than 1 MiB: not a catalogue's";
}

void TestNothingLost::linesWithoutEnd()
{
    QFETCH(QByteArray, start);
    QFETCH(bool, gzip);
    QFETCH(QString, reason);
    GatewayProcess gateway;
    // 64 MiB of one line, from a file of a few hundred kilobytes.
    QByteArray content = start + QByteArray(64 << 20, 'x');
    if (gzip) {
        QByteArray packed(int(compressBound(uLong(content.size()))) + 32, '\0');
        z_stream stream {};
        QCOMPARE(deflateInit2(&stream, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
        stream.next_in = reinterpret_cast<Bytef *>(content.data());
        stream.avail_in = uInt(content.size());
        stream.next_out = reinterpret_cast<Bytef *>(packed.data());
        stream.avail_out = uInt(packed.size());
        QCOMPARE(deflate(&stream, Z_FINISH), Z_STREAM_END);
        packed.resize(qsizetype(stream.total_out));
        deflateEnd(&stream);
        content = packed;
    }
    const QString file = gateway.writeFile("long.gz", content);
    const GatewayProcess::Result result = gateway.run({ "import", "--catalogue", gateway.catalogue(), file });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.contains(reason + QStringLiteral("; nothing of it was imported")), qPrintable(result.output));
}

void TestNothingLost::upstreamBombs_data()
{
    QTest::addColumn<qint64>("maxReplyBytes");
    QTest::addColumn<QString>("error");
    QTest::newRow("a line without an end") << (qint64(1) << 30)
                                           << "the reply is not FDSN event text (line 2: a line longer than 1 MiB";
    QTest::newRow("a reply beyond the size kept") << (qint64(8) << 20)
                                                  << "the reply is larger than 8 MiB, more than is kept";
}

void TestNothingLost::upstreamBombs()
{
    QFETCH(qint64, maxReplyBytes);
    QFETCH(QString, error);
    UpstreamStandIn server(Protocol::Fdsn);
    server.setFault([](const httplib::Request &, httplib::Response &response) {
        response.set_content_provider("text/plain", [sent = std::size_t(0)](std::size_t, httplib::DataSink &sink) mutable {
            static const std::string header = "#EventID|Time|Latitude|Longitude\n";
            static const std::string line(1 << 20, 'x');
            if (sent == 0)
                sink.write(header.data(), header.size());
            sink.write(line.data(), line.size());
            if (++sent == 24) {
                sink.write("\n", 1);
                sink.done();
            }
            return true;
        });
        return true;
    });
    QVERIFY(server.start());
    QTemporaryDir dir;
    SqliteCatalogue catalogue(dir.filePath(QStringLiteral("catalogue.sqlite")));
    QString why;
    QVERIFY2(catalogue.open(&why), qPrintable(why));
    Upstream::Options options;
    options.maxReplyBytes = maxReplyBytes;
    const std::unique_ptr<Upstream> upstream = Upstream::forUrl(server.url(), options, &why);
    QVERIFY(upstream);
    const QStringList spooled = { QCoreApplication::applicationName() + QStringLiteral(".*") };
    const QStringList spooledBefore = QDir::temp().entryList(spooled, QDir::Files);
    const std::int64_t start = utcMs("2010-02-01T00:00:00Z") * 1000;
    UpstreamWindow day;
    day.startUs = start;
    day.endUs = start + 86400000000;
    const FetchReport report = upstream->fetch(catalogue, day);
    QVERIFY2(report.error.startsWith(error), qPrintable(report.error));
    QCOMPARE(QDir::temp().entryList(spooled, QDir::Files), spooledBefore);
    QCOMPARE(catalogue.eventCount().value_or(-1), qint64(0));
}

void TestNothingLost::aCatalogueOfSchema1IsBroughtUpToDate()
{
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, gateway.writeFile("felt.csv", csvOf(week.mid(0, 3))) })
                 .exitCode, 0);
    {
        // As the gateway of schema 1 left it: no claims, no change log.
        SqliteCatalogue old(catalogue);
        QString error;
        QVERIFY(old.open(&error));
        QSqlQuery query(old.connection());
        for (const char *statement : { "DROP TRIGGER event_claim_kept", "DROP TABLE event_claim", "DROP TABLE change_log",
                                       "UPDATE catalogue_info SET value = '1' WHERE name = 'schema_version'" })
            QVERIFY2(query.exec(QLatin1String(statement)), statement);
    }
    // A second file shares an event with the first and lets go of it: only
    // its own event goes first, and comes back.
    const QString second = gateway.writeFile("second.csv", csvOf({ "3251418", "3253138" }));
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, second }).exitCode, 0);
    gateway.writeFile("second.csv", csvOf({ "3253138" }));
    const GatewayProcess::Result result = gateway.run({ "import", "--catalogue", catalogue, "--replace", second });
    QVERIFY2(result.exitCode == 0 && result.output.contains(QLatin1String("1 removed first, 1 added")),
             qPrintable(result.output));
    QCOMPARE(eventsIn(catalogue), qint64(4));
    QCOMPARE(find(catalogue, "3251418")->source, QStringLiteral("felt.csv"));
    SqliteCatalogue upgraded(catalogue);
    QString error;
    QVERIFY(upgraded.open(&error));
    QSqlQuery query(upgraded.connection());
    QVERIFY(query.exec(QStringLiteral("SELECT value FROM catalogue_info WHERE name = 'schema_version'")) && query.next());
    QCOMPARE(query.value(0).toInt(), SqliteCatalogue::SchemaVersion);
}

void TestNothingLost::longitudesArePeriodic_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("west edge at -180") << "minlongitude=-180&maxlongitude=-170" << QStringList { "2025p809162", "east181" };
    QTest::newRow("west edge at 180") << "minlongitude=180&maxlongitude=190" << QStringList { "2025p809162", "east181" };
    QTest::newRow("east edge at 180") << "minlongitude=170&maxlongitude=180" << QStringList { "2025p809162", "west170" };
    QTest::newRow("across 180") << "minlon=178&maxlon=182" << QStringList { "2025p809162", "east181" };
    QTest::newRow("west of 180") << "minlon=-179.5&maxlon=-170" << QStringList { "east181" };
    QTest::newRow("a circle") << "lat=-37.5&lon=-179.5&maxradius=1" << QStringList { "2025p809162", "east181" };
}

void TestNothingLost::longitudesArePeriodic()
{
    QFETCH(QString, query);
    QFETCH(QStringList, ids);
    GatewayProcess gateway;
    // GeoNet's own event at 180.00, and one written at 181.
    const QString file = gateway.writeFile("dateline.txt",
        "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude\n"
        "2025p809162|2025-10-27T09:22:05.9Z|-37.50|180.00|12|||||MLNZ20|3.31\n"
        "east181|2025-10-28T00:00:00Z|-37.50|181|12|||||ML|3.0\n"
        "west170|2025-10-29T00:00:00Z|-37.50|170|12|||||ML|3.0\n");
    QCOMPARE(gateway.run({ "import", "--catalogue", gateway.catalogue(), file }).exitCode, 0);
    QVERIFY2(gateway.start({ "--catalogue", gateway.catalogue() }), qPrintable(gateway.log()));
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(
        QStringLiteral("/fdsnws/event/1/query?format=text&orderby=time-asc&") + query));
    QStringList found;
    for (const QByteArray &line : reply.body.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            found << QString::fromLatin1(line.left(line.indexOf('|')));
        if (line.startsWith("east181|"))
            QCOMPARE(line.split('|').value(3), QByteArray("-179"));
    }
    QCOMPARE(found, ids);
}

QTEST_GUILESS_MAIN(TestNothingLost)
#include "tst_nothinglost.moc"
