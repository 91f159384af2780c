#include "catalogue/sqlitecatalogue.h"
#include "app/mainappwindow.h"
#include "app/querycomposition.h"
#include "geo/statistics.h"
#include "http/pages.h"
#include "quakeml/quakemlreader.h"

#include "testsupport/fixtures.h"
#include "testsupport/gatewayprocess.h"
#include "testsupport/modalwatcher.h"
#include "testsupport/urlcatcher.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSettings>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QXmlStreamReader>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <map>

#include <sys/resource.h>

// The real harvix-gateway, run as a process on loopback ports with
// catalogues in temporary folders, and Harvix's window against it.
class TestGateway : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    // A window test fails on any warning (the offscreen platform's own "This
    // plugin does not support ..." aside).
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )"))); }
    void commandLine_data();
    void commandLine();
    void importsClaimOnlyWhatTheyDid_data();
    void importsClaimOnlyWhatTheyDid();
    void importReplacesAFileReadAgain();
    void search_data();
    void search();
    void badRequests_data();
    void badRequests();
    void pages_data();
    void pages();
    void searchesWhileAnImportRuns();
    void sigtermFinishesAStreamedReply();
    void secondSignalStopsAtOnce();
    void workersThatCannotStart();
    void rangeIsIgnored();
    void harvixShowsTheRefusal();
    void defaultCatalogueComesFromGeoNet();
    void magnitudesBinHalvesUp();
    void harvixShowsTheGatewaysEvents();
    void regionSearchesKeepInside();
    void aCircleOfNoRadiusHoldsThePole();
    void aFarEventsPageNamesItsRegion();
    void sequenceRoutesRefuseInOneLine_data();
    void sequenceRoutesRefuseInOneLine();
    void sequenceAndDeclusterOfASequence();
    void expectedReadsAsAPoissonRange_data();
    void expectedReadsAsAPoissonRange();

    void cleanupTestCase() { catcher.uninstall(); }

private:
    // A catalogue of 150,000 events for the signal tests, made on first use.
    QString bigCatalogue();

    GatewayProcess gateway;
    UrlCatcher catcher;
    QString big;
    // The synthetic sequence's, started by the first refusal's row.
    GatewayProcess sequenceGateway;
    bool sequenceStarted = false;
};

namespace {

const QByteArray &fdsnHeader = fdsnTextHeader;

// Events on both edges of January 2024 and of the magnitudes 3 to 12.
const QByteArray edges = fdsnHeader
    + "before|2023-12-31T23:59:59.999Z|-41|174|5|||||ML|4|||earthquake\n"
      "first|2024-01-01T00:00:00Z|-41.5|174.5|10.5|||||ML|3|||earthquake\n"
      "low|2024-01-10T12:00:00.25Z|-41|174|5|||||ML|2.999|||earthquake\n"
      "neg|2024-01-11T00:00:00Z|-41|174|5|||||ML|-0.5|||earthquake\n"
      "nomag|2024-01-12T00:00:00Z|-41|174|N/A|||||||||\n"
      "top|2024-01-20T00:00:00Z|-41|174|5|||||ML|12|||earthquake\n"
      "above|2024-01-21T00:00:00Z|-41|174|5|||||ML|12.01|||earthquake\n"
      "last|2024-01-31T23:59:59.999Z|-41|174|5|||||ML|5|||earthquake\n"
      "after|2024-02-01T00:00:00Z|-41|174|5|||||ML|5|||earthquake\n"
      "|2024-01-05T00:00:00Z|-41|174|5|||||ML|5|||earthquake\n"
      "notime|2024-01-05|-41|174|5|||||ML|5|||earthquake\n"
      "<script>alert(1)</script>|2024-03-01T00:00:00Z|-41|174|5|||||ML|5|||earthquake\n";

QByteArray searchPath(const char *lower, const char *upper, const char *start, const char *end)
{
    return QByteArray("/services/quake/search?magnitudeLower=") + lower + "&magnitudeUpper=" + upper
        + "&startDate=" + start + "&endDate=" + end + "&outputFormat=quakeml1.0";
}

// The ids of a QuakeML 1.0 reply, in order, or an error.
QStringList idsOf(const QByteArray &document)
{
    QStringList ids;
    QXmlStreamReader xml(document);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"event")
            ids << xml.attributes().value(QLatin1String("publicID")).toString().section(u'/', -1);
    }
    if (xml.hasError())
        return { QStringLiteral("error: ") + xml.errorString() };
    return ids;
}

QByteArray generatedEvents(int count, const QDateTime &from)
{
    QByteArray text = fdsnHeader;
    text.reserve(count * 80);
    for (int i = 0; i < count; ++i) {
        text += "gen" + QByteArray::number(i) + '|'
            + from.addSecs(i * 60).toString(Qt::ISODate).toLatin1()
            + "|-40.5|175.25|12|||||ML|" + QByteArray::number(1 + (i % 50) / 10.0) + "|||earthquake\n";
    }
    return text;
}

} // namespace

void TestGateway::initTestCase()
{
    catcher.install();
    const QString catalogue = gateway.catalogue();
    const GatewayProcess::Result imported = gateway.run(
        { "import", "--catalogue", catalogue, gateway.writeFile("edges.txt", edges) });
    QCOMPARE(imported.exitCode, 0);
    QVERIFY2(imported.output.contains(QLatin1String(
                 "10 added, 0 updated, 2 skipped: 1 row without a usable id, 1 row without a usable time (FDSN event text)")),
             qPrintable(imported.output));

    // A file that breaks half-way is refused whole: none of its rows stay.
    const QByteArray broken = fdsnHeader + "first|2024-01-01T00:00:00Z|0|0|0|||||ML|9|||earthquake\n";
    const QString brokenXml = gateway.writeFile("broken.xml", "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\">"
        "<eventParameters><event publicID=\"smi:x/first\"><origin><time><value>2024-01-01T00:00:00Z</value></time>"
        "<latitude><value>0</value></latitude></origin></event>\n<event");
    const GatewayProcess::Result refused = gateway.run({ "import", "--catalogue", catalogue, brokenXml });
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.output.contains(brokenXml + QStringLiteral(":2: not well-formed XML")), qPrintable(refused.output));

    QVERIFY2(gateway.start({ "--catalogue", catalogue }), qPrintable(gateway.log()));
}

void TestGateway::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("help") << QStringList { "--help" } << 0 << "usage: harvix-gateway serve";
    QTest::newRow("version") << QStringList { "--version" } << 0 << "harvix-gateway 1.1\n";
    QTest::newRow("no command") << QStringList {} << 2 << "harvix-gateway: a command is needed";
    QTest::newRow("unknown option") << QStringList { "--frobnicate" } << 2 << "unknown option '--frobnicate'";
    QTest::newRow("unknown serve option") << QStringList { "serve", "--port", "1" } << 2 << "unknown option '--port'";
    QTest::newRow("no workers") << QStringList { "serve", "--workers", "0" } << 2
                                << "--workers takes a whole number of at least 1";
    QTest::newRow("bad address") << QStringList { "serve", "--listen", "localhost" } << 2 << "--listen takes ADDRESS:PORT";
    QTest::newRow("missing file") << QStringList { "import", "/nonexistent/file.csv" } << 2
                                  << "no such file: /nonexistent/file.csv";
    QTest::newRow("no files") << QStringList { "import" } << 2 << "import needs at least one file";
    // Options of an upstream without one, and values out of range, before anything is opened.
    QTest::newRow("refresh without upstream") << QStringList { "serve", "--refresh-after", "-1" } << 2
                                              << "--refresh-after needs --upstream URL";
    QTest::newRow("format without upstream") << QStringList { "serve", "--upstream-format", "json" } << 2
                                             << "--upstream-format needs --upstream URL";
    QTest::newRow("standby of a file") << QStringList { "serve", "--catalogue-read", "postgresql://127.0.0.1:1/x" } << 2
                                       << "--catalogue-read takes a postgresql:// URI, beside a --catalogue that is one";
    QTest::newRow("follow without upstream") << QStringList { "serve", "--follow", "60" } << 2
                                             << "--follow needs --upstream URL";
    QTest::newRow("follow too often") << QStringList { "serve", "--upstream", "http://127.0.0.1:1/", "--follow", "5" }
                                      << 2 << "--follow takes a whole number of at least 10";
    QTest::newRow("follow too seldom") << QStringList { "serve", "--upstream", "http://127.0.0.1:1/", "--follow", "1073741824" }
                                       << 2 << "--follow takes a whole number of at least 10 and at most 86400";
    QTest::newRow("copy of no catalogue") << QStringList { "copy", "/nonexistent/typo.sqlite", gateway.path("copied.sqlite") }
                                          << 2 << "no such catalogue: /nonexistent/typo.sqlite";
    QTest::newRow("negative refresh") << QStringList { "serve", "--upstream", "http://127.0.0.1:1/", "--refresh-after", "-1" }
                                      << 2 << "--refresh-after takes a whole number of at least 0";
    QTest::newRow("too many workers") << QStringList { "serve", "--workers", "500" } << 2
                                      << "--workers takes a whole number from 1 to 256";
}

void TestGateway::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const GatewayProcess::Result result = gateway.run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(output), qPrintable(result.output));
    if (exitCode == 2)
        QCOMPARE(result.output.count(u'\n'), 1);
    // Nothing was made in the user's data folder, nor a copy's catalogue.
    QVERIFY(!QDir(gateway.dataHome()).exists());
    QVERIFY(!QFileInfo::exists(gateway.path("copied.sqlite")));
}

void TestGateway::importsClaimOnlyWhatTheyDid_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<qint64>("events");
    QTest::addColumn<QString>("id");        // one of them

    const QByteArray usgs = readFixture("realworld/origin_usp0006dzc.xml");
    QTest::newRow("every row skipped") << QStringList { "GeoNet_CMT_solutions_automatic.csv" }
        << QByteArrayList { readFixture("realworld/GeoNet_CMT_solutions_automatic.csv") } << 1
        << "all 70 rows were skipped, the first (line 2) without a usable time (\"2.02508E+13\"); nothing of it was imported"
        << qint64(0) << "";
    QTest::newRow("cut inside the last row") << QStringList { "cut.csv" }
        << QByteArrayList { "publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude,depth\n"
                            "2011p1,earthquake,2011-01-01T00:00:00Z,2011-01-01T00:00:00Z,176,-38.8,2.5,12.5\n"
                            "2011p2,earthquake,2011-01-02T00:00:00Z,2011-01-02T00:00:00Z,176,-38.8,5." } << 1
        << "cut.csv:3: the last row has 7 of the header's 8 fields: the file seems cut short" << qint64(0) << "";
    QTest::newRow("gzip, whatever its name") << QStringList { "mlnz.dat" }
        << QByteArrayList { gzipped(readFixture("realworld/MLnz_RapidEvents_2024_first20.csv")) } << 0
        << "20 added, 0 updated, 0 skipped (GeoNet MLNZ20 rapid events CSV, gzip-compressed)" << qint64(20) << "2024p000135";
    QTest::newRow("UTF-16 QuakeML") << QStringList { "usgs.xml" } << QByteArrayList { utf16Of(usgs) } << 0
        << "1 added" << qint64(1) << "usp0006dzc";
    // ComCat's QuakeML and the text of USGS's FDSN service name the event alike.
    QTest::newRow("one event, two formats") << QStringList { "usgs.xml", "usgs.txt" }
        << QByteArrayList { usgs, "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|"
                                  "MagType|Magnitude\nusp0006dzc|1994-06-09T00:33:16.230Z|-13.841|-67.553|631.3|||||mww|8.2\n" }
        << 0 << "0 added, 1 updated" << qint64(1) << "usp0006dzc";
}

void TestGateway::importsClaimOnlyWhatTheyDid()
{
    QFETCH(QStringList, names);
    QFETCH(QByteArrayList, contents);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(qint64, events);
    QFETCH(QString, id);
    GatewayProcess own;
    QStringList arguments = { "import", "--catalogue", own.catalogue() };
    for (int i = 0; i < names.size(); ++i)
        arguments << own.writeFile(names.at(i), contents.at(i));
    const GatewayProcess::Result result = own.run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(output), qPrintable(result.output));
    if (exitCode != 0)
        QCOMPARE(result.output.count(u'\n'), 1);
    SqliteCatalogue catalogue(own.catalogue());
    QString error;
    QVERIFY2(catalogue.open(&error), qPrintable(error));
    QCOMPARE(catalogue.eventCount().value_or(-1), events);
    if (!id.isEmpty())
        QVERIFY(catalogue.find(id));
}

void TestGateway::importReplacesAFileReadAgain()
{
    GatewayProcess own;
    const QByteArray header = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude\n";
    const QString first = own.writeFile("list.txt", header + "a|2024-01-01T00:00:00Z|-41|174|5|||||ML|3\n"
                                                             "b|2024-01-02T00:00:00Z|-41|174|5|||||ML|3\n");
    QCOMPARE(own.run({ "import", "--catalogue", own.catalogue(), first }).exitCode, 0);
    QDir().mkpath(own.path(QStringLiteral("again")));
    const QString second = own.writeFile("again/list.txt", header + "a|2024-01-01T00:00:00Z|-41|174|5|||||ML|3.2\n");
    const GatewayProcess::Result result = own.run({ "import", "--catalogue", own.catalogue(), "--replace", second });
    QVERIFY2(result.output.contains(QLatin1String("2 removed first, 1 added, 0 updated, 0 skipped")), qPrintable(result.output));
    SqliteCatalogue catalogue(own.catalogue());
    QString error;
    QVERIFY(catalogue.open(&error));
    QCOMPARE(catalogue.eventCount().value_or(-1), qint64(1));
    QCOMPARE(catalogue.find(QStringLiteral("a"))->magnitude, std::optional<double>(3.2));
}

void TestGateway::search_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("3 to 12 in January") << searchPath("3", "12", "2024-01-01", "2024-01-31")
                                        << QStringList { "first", "top", "last" };
    QTest::newRow("no lower bound") << searchPath("0", "12", "2024-01-01", "2024-01-31")
                                    << QStringList { "first", "low", "neg", "nomag", "top", "last" };
    QTest::newRow("a magnitude on both bounds") << searchPath("2.999", "2.999", "2024-01-01", "2024-01-31")
                                                << QStringList { "low" };
    QTest::newRow("one day") << searchPath("3", "12", "2024-01-20", "2024-01-20") << QStringList { "top" };
    QTest::newRow("the days around") << searchPath("0", "12", "2023-12-31", "2024-02-01")
                                     << QStringList { "before", "first", "low", "neg", "nomag", "top", "last", "after" };
    QTest::newRow("nothing") << searchPath("3", "12", "1999-01-01", "1999-12-31") << QStringList {};
}

void TestGateway::search()
{
    QFETCH(QByteArray, path);
    QFETCH(QStringList, ids);
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(QString::fromLatin1(path)));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.contentType.startsWith("application/xml"));
    QCOMPARE(idsOf(reply.body), ids);
    if (ids.value(0) == QLatin1String("first")) {
        // Every known value, and nothing for what is unknown.
        QVERIFY(reply.body.contains(
            "<event publicID=\"smi:nz.org.geonet/first\"><type>earthquake</type>"
            "<origin publicID=\"smi:nz.org.geonet/origin/firstg/1\"><time><value>2024-01-01T00:00:00</value></time>"
            "<latitude><value>-41.5</value></latitude><longitude><value>174.5</value></longitude>"
            "<depth><value>10.5</value></depth></origin>"
            "<magnitude><mag><value>3</value></mag><type>ML</type></magnitude></event>\n"));
    }
    if (ids.contains(QLatin1String("nomag")))
        QVERIFY(reply.body.contains("<event publicID=\"smi:nz.org.geonet/nomag\"><origin publicID=\"smi:nz.org.geonet/origin/nomagg/1\">"
                                    "<time><value>2024-01-12T00:00:00</value></time><latitude><value>-41</value></latitude>"
                                    "<longitude><value>174</value></longitude></origin></event>\n"));
}

void TestGateway::badRequests_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing key") << QByteArray("/services/quake/search?magnitudeLower=3") << "magnitudeUpper is missing";
    QTest::newRow("no query") << QByteArray("/services/quake/search") << "magnitudeLower is missing";
    QTest::newRow("malformed magnitude") << searchPath("3", "1e9", "2024-01-01", "2024-01-31")
                                         << "magnitudeUpper must be a decimal number";
    QTest::newRow("impossible date") << searchPath("3", "12", "2024-01-01", "2024-02-30") << "endDate must be a date";
    QTest::newRow("lower above upper") << searchPath("5", "4", "2024-01-01", "2024-01-31") << "magnitudeLower 5 is above";
    QTest::newRow("repeated key") << searchPath("3", "12", "2024-01-01", "2024-01-31") + "&endDate=2024-02-01"
                                  << "endDate is given more than once";
    QTest::newRow("a value with line ends") << searchPath("3", "12", "2024-01-01", "2024-01-31") + "&bbox=1%0D%0AX-Forged:%20yes"
                                            << "bbox must be WEST,SOUTH,EAST,NORTH in degrees, not \"1??X-Forged: yes\"";
    QTest::newRow("other format") << QByteArray(searchPath("3", "12", "2024-01-01", "2024-01-31")).replace("quakeml1.0", "json")
                                  << "outputFormat must be quakeml1.0";
}

void TestGateway::badRequests()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, reason);
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(QString::fromLatin1(path)));
    QCOMPARE(reply.status, 400);
    QVERIFY(reply.contentType.startsWith("text/plain"));
    QVERIFY2(reply.body.startsWith(reason.toUtf8()), reply.body.constData());
    QCOMPARE(reply.body.count('\n'), 1);
}

void TestGateway::pages_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("contains");
    const QString ref = QStringLiteral("/services/quake/quakeml/1.0.1/ref/");
    QTest::newRow("event") << QByteArray("GET") << ref + "first" << 200
        << QStringList { "<title>Event first: ", "2024-01-01 00:00:00.000 UTC", "2024-01-01 13:00:00.000 NZDT",
                         "-41.5&#176;", "10.5 km", "<a href=\"/fdsnws/event/1/query?eventid=first\">",
                         "<a href=\"/fdsnws/event/1/query?format=text&amp;eventid=first\">", "<svg ",
                         // "before", a second earlier and 70 km away; five in the thirty days after,
                         // listed largest first, linked to their pages.
                         "<p>1 event before this one, 5 events after it.</p>",
                         "<h3>After it</h3>", "<td><a href=\"top\">top</a></td><td>2024-01-20 00:00:00",
                         "<td>12</td><td>70 km</td>",
                         "We acknowledge the New Zealand GeoNet project", "Natural Earth", "GeoNames" };
    QTest::newRow("hostile id") << QByteArray("GET") << ref + "%3Cscript%3Ealert(1)%3C%2Fscript%3E" << 200
        << QStringList { "Event &lt;script&gt;alert(1)&lt;/script&gt;", "eventid=%3Cscript%3Ealert%281%29%3C%2Fscript%3E\"" };
    QTest::newRow("id with a NUL") << QByteArray("GET") << ref + "first%00junk" << 400 << QStringList { "a path holds no NUL" };
    QTest::newRow("id with a line end") << QByteArray("GET") << ref + "first%0D%0A" << 400
        << QStringList { "an event id holds no control characters" };
    QTest::newRow("unknown id") << QByteArray("GET") << ref + "%3Cb%3Enone" << 404
        << QStringList { "no event with the id &lt;b&gt;none." };
    QTest::newRow("home") << QByteArray("GET") << QStringLiteral("/") << 200
        << QStringList { "/services/quake/search?</code>", "<td>edges.txt</td><td>10</td>",
                         "Creative Commons Attribution 3.0 New Zealand", "<svg ", "Natural Earth", "GeoNames" };
    QTest::newRow("other path") << QByteArray("GET") << QStringLiteral("/services/quake/other") << 404
                                << QStringList { "Nothing is at /services/quake/other." };
    QTest::newRow("POST") << QByteArray("POST") << QStringLiteral("/") << 405 << QStringList { "use GET or HEAD" };
    QTest::newRow("DELETE") << QByteArray("DELETE") << ref + "first" << 405 << QStringList { "use GET or HEAD" };
    QTest::newRow("HEAD of a search") << QByteArray("HEAD") << QString::fromLatin1(searchPath("3", "12", "2024-01-01", "2024-01-31"))
                                      << 200 << QStringList {};
}

void TestGateway::pages()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QStringList, contains);
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(path), method);
    QCOMPARE(reply.status, status);
    for (const QString &text : contains)
        QVERIFY2(reply.body.contains(text.toUtf8()), qPrintable(text + QStringLiteral(" not in ") + reply.body));
    QVERIFY(!reply.body.contains("<script>"));
    if (method == "HEAD")
        QVERIFY(reply.body.isEmpty());
}

QString TestGateway::bigCatalogue()
{
    if (big.isEmpty()) {
        const QString path = gateway.path(QStringLiteral("big.sqlite"));
        const QString file = gateway.writeFile("big-signals.txt",
                                               generatedEvents(150000, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)));
        if (gateway.run({ "import", "--catalogue", path, file }).exitCode == 0)
            big = path;
    }
    return big;
}

void TestGateway::searchesWhileAnImportRuns()
{
    const QString big = gateway.writeFile("big.txt", generatedEvents(150000, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)));
    QProcess import;
    import.start(QStringLiteral(HARVIX_GATEWAY), { "import", "--catalogue", gateway.catalogue(), big });
    QVERIFY(import.waitForStarted());

    QNetworkAccessManager manager;
    QList<QNetworkReply *> replies;
    int done = 0;
    for (int i = 0; i < 24; ++i) {
        replies << manager.get(QNetworkRequest(gateway.url(QString::fromLatin1(searchPath("0", "12", "2024-01-01", "2024-01-31")))));
        connect(replies.last(), &QNetworkReply::finished, this, [&done] { ++done; });
    }
    QTRY_COMPARE_WITH_TIMEOUT(done, 24, 60000);
    // All were answered while the import held its transaction open.
    QCOMPARE(import.state(), QProcess::Running);
    QVERIFY(import.waitForFinished(120000));
    QCOMPARE(import.exitCode(), 0);
    QVERIFY2(import.readAllStandardError().contains("150000 added"), "the import did not complete");
    for (QNetworkReply *reply : std::as_const(replies)) {
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(idsOf(reply->readAll()), QStringList({ "first", "low", "neg", "nomag", "top", "last" }));
        delete reply;
    }
}

void TestGateway::sigtermFinishesAStreamedReply()
{
    GatewayProcess busy;
    QVERIFY(!bigCatalogue().isEmpty());
    QVERIFY(busy.start({ "--catalogue", bigCatalogue() }));
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(busy.url(QString::fromLatin1(searchPath("0", "12", "2020-01-01", "2020-12-31")))));
    // A small read buffer keeps the gateway waiting on its socket mid-reply.
    reply->setReadBufferSize(64 * 1024);
    QTRY_VERIFY_WITH_TIMEOUT(reply->bytesAvailable() > 0, 10000);
    ::kill(pid_t(busy.process().processId()), SIGTERM);
    QTRY_VERIFY(busy.log().contains(QLatin1String("finishing 1 reply")));
    QCOMPARE(busy.process().state(), QProcess::Running);

    // New requests are turned away meanwhile.
    QCOMPARE(GatewayProcess::get(busy.url(QStringLiteral("/"))).status, 503);

    QByteArray body;
    connect(reply, &QNetworkReply::readyRead, this, [&body, reply] { body += reply->readAll(); });
    body += reply->readAll();
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
    body += reply->readAll();
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(idsOf(body).size(), 150000);
    delete reply;
    QVERIFY(busy.process().state() == QProcess::NotRunning || busy.process().waitForFinished(30000));
    QCOMPARE(busy.process().exitCode(), 0);
    QVERIFY(busy.log().contains(QLatin1String("harvix-gateway: stopped")));
}

void TestGateway::secondSignalStopsAtOnce()
{
    GatewayProcess busy;
    QVERIFY(!bigCatalogue().isEmpty());
    QVERIFY(busy.start({ "--catalogue", bigCatalogue() }));
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(busy.url(QString::fromLatin1(searchPath("0", "12", "2020-01-01", "2020-12-31")))));
    reply->setReadBufferSize(64 * 1024);   // the gateway waits on its socket mid-reply
    QTRY_VERIFY_WITH_TIMEOUT(reply->bytesAvailable() > 0, 10000);
    ::kill(pid_t(busy.process().processId()), SIGTERM);
    QTRY_VERIFY(busy.log().contains(QLatin1String("finishing 1 reply; a second SIGINT or SIGTERM stops at once")));
    QCOMPARE(busy.process().state(), QProcess::Running);
    ::kill(pid_t(busy.process().processId()), SIGINT);
    // At once: the reply, of which the client reads little, is cut.
    QVERIFY(busy.process().waitForFinished(5000));
    QCOMPARE(busy.process().exitCode(), 0);
    QVERIFY(busy.log().contains(QLatin1String("stopping now: the replies in progress are cut")));
    reply->setReadBufferSize(0);
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QVERIFY(reply->error() != QNetworkReply::NoError || idsOf(reply->readAll()).size() != 150000);
    delete reply;
}

void TestGateway::workersThatCannotStart()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer needs more address space than this test leaves the gateway");
#endif
    // Too little address space for 256 thread stacks.
    GatewayProcess limited;
    limited.setChildSetup([] {
        const rlimit limit { 700L * 1024 * 1024, 700L * 1024 * 1024 };
        setrlimit(RLIMIT_AS, &limit);
    });
    const GatewayProcess::Result result = limited.run(
        { "serve", "--catalogue", gateway.catalogue(), "--listen", "127.0.0.1:0", "--workers", "256" });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.startsWith(QLatin1String("harvix-gateway: cannot start 256 workers: ")), qPrintable(result.output));
    QVERIFY(result.output.contains(QLatin1String("(try fewer with --workers)")));
    QCOMPARE(result.output.count(u'\n'), 1);
}

void TestGateway::rangeIsIgnored()
{
    const QUrl url = gateway.url(QString::fromLatin1(searchPath("0", "12", "2024-01-01", "2024-01-31")));
    QNetworkRequest request(url);
    request.setRawHeader("Range", "bytes=0-99");
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(request);
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(!reply->hasRawHeader("Content-Range"));
    QCOMPARE(reply->readAll(), GatewayProcess::get(url).body);
    delete reply;
}

void TestGateway::harvixShowsTheRefusal()
{
    // A URL with a key of its own: the gateway names it, and so does Harvix.
    MainAppWindow window;
    window.show();
    ModalWatcher watcher;
    window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(gateway.url(QStringLiteral("/services/quake/search?limit=10&")).toString());
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.count(), 1, 20000);
    const QString text = watcher.seen().first().text;
    QVERIFY2(text.startsWith(QLatin1String("A network error occured:\n\n")), qPrintable(text));
    QVERIFY2(text.endsWith(QLatin1String("\n\nunknown key \"limit\": a search takes magnitudeLower, magnitudeUpper, "
                                         "startDate, endDate and outputFormat, and bbox, minDepth, maxDepth, "
                                         "latitude, longitude and maxRadiusKm")),
             qPrintable(text));
}

void TestGateway::defaultCatalogueComesFromGeoNet()
{
    GatewayProcess fresh;
    QVERIFY2(fresh.start(), qPrintable(fresh.log()));
    QVERIFY2(fresh.log().contains(QLatin1String("(56434 events)")), qPrintable(fresh.log()));
    // In both files: the MLNZ20 row, with the network's magnitude, wins.
    const GatewayProcess::Reply reply = GatewayProcess::get(fresh.url(QString::fromLatin1(
        searchPath("3", "12", "2024-01-01", "2024-12-31"))));
    QVERIFY(reply.body.contains("2024p009874g/1"));
    const qsizetype at = reply.body.indexOf("<event publicID=\"smi:nz.org.geonet/2024p009874\">");
    QVERIFY(reply.body.mid(at, reply.body.indexOf("</event>", at) - at).contains("<mag><value>3.49</value></mag><type>MLv</type>"));
    // GeoNet's events link to their page at GeoNet.
    const GatewayProcess::Reply page = GatewayProcess::get(fresh.url(QStringLiteral("/services/quake/quakeml/1.0.1/ref/2024p009874")));
    QVERIFY(page.body.contains("<a href=\"https://www.geonet.org.nz/earthquake/2024p009874\">This event at GeoNet</a>"));

    QVERIFY(fresh.stop(SIGTERM));
    // Nothing but the catalogue was written.
    QDir data(fresh.dataHome());
    QCOMPARE(data.entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({ "harvix" }));
    QCOMPARE(QDir(data.filePath("harvix")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList({ "catalogue.sqlite" }));
}

void TestGateway::magnitudesBinHalvesUp()
{
    // A year of GeoNet's MLNZ20 rapid events as shipped, one in ten of
    // whose magnitudes lies on a half bin (1.85): binned halves up, as
    // written, whether Harvix holds them as floats or the gateway as
    // doubles, they give the figures computed independently from the same
    // reply.
    GatewayProcess gateway;
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", gateway.catalogue(),
        QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/MLNZ20_RapidEvents_2025.csv"),
        QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/MLNZ20_RapidEvents_2026.csv") });
    QCOMPARE(imported.exitCode, 0);
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
    const GatewayProcess::Reply year = GatewayProcess::get(gateway.url(QString::fromLatin1(
        searchPath("0", "12", "2025-12-09", "2026-12-09"))));
    QuakeEventStore store;
    std::vector<LocatedEvent> located;
    QVERIFY(!QuakeMLReader::readDocument(QuakeMLReader::decodeReply(year.body), [&](QXmlStreamReader &xml) {
        QuakeMLReader::readEventParameters(xml, store, located);
    }).isError());
    std::vector<double> asFloats, asWritten;
    for (const LocatedEvent &event : located) {
        if (!std::isnan(event.location.magnitude))
            asFloats.push_back(event.location.magnitude);
    }
    int onHalves = 0;
    const QRegularExpression mag(QStringLiteral("<mag><value>([^<]+)</value>"));
    for (auto match = mag.globalMatch(QString::fromLatin1(year.body)); match.hasNext();) {
        const QString text = match.next().captured(1);
        onHalves += text.endsWith(u'5') && text.indexOf(u'.') == text.size() - 3 ? 1 : 0;
        asWritten.push_back(text.toDouble());
    }
    QCOMPARE(asWritten.size(), std::size_t(12197));
    QCOMPARE(onHalves, 1167);
    QCOMPARE(asFloats.size(), asWritten.size());
    for (const std::vector<double> &magnitudes : { asFloats, asWritten }) {
        const Statistics::FrequencyMagnitude fmd = Statistics::frequencyMagnitude(magnitudes);
        QCOMPARE(fmd.counts.at(std::size_t(18 - fmd.firstBin)), 764);
        QCOMPARE(fmd.counts.at(std::size_t(19 - fmd.firstBin)), 835);
        QCOMPARE(fmd.counts.at(std::size_t(20 - fmd.firstBin)), 776);   // so the peak is 1.9
        const Statistics::GutenbergRichter fit = Statistics::gutenbergRichter(magnitudes);
        QCOMPARE(QString::number(fit.mc.value_or(0), 'f', 1), QStringLiteral("2.1"));
        QCOMPARE(fit.aboveMc, 5253);
        QCOMPARE(QString::number(fit.b.value_or(0), 'f', 3), QStringLiteral("0.733"));
        QCOMPARE(QString::number(fit.bUncertainty, 'f', 3), QStringLiteral("0.010"));
        QCOMPARE(QString::number(fit.a, 'f', 2), QStringLiteral("5.26"));
    }
}

void TestGateway::harvixShowsTheGatewaysEvents()
{
    // Two events of last week, UTC, for the window's "Show Last Year".
    const QDateTime when = QDateTime(QDate::currentDate().addDays(-7), QTime(21, 15, 30, 700), Qt::UTC);
    GatewayProcess own;
    const QByteArray events = fdsnHeader
        + "2026p000001|" + when.toString(Qt::ISODateWithMs).toLatin1() + "|-41.2866|174.7762|23.5|||||MLv|4.56|||earthquake\n"
        + "2026p000002|" + when.addSecs(3600).toString(Qt::ISODate).toLatin1() + "|-38.1|176.2|5|||||MLv|2.1|||earthquake\n";
    QCOMPARE(own.run({ "import", "--catalogue", own.catalogue(), own.writeFile("recent.txt", events) }).exitCode, 0);
    // An upstream that cannot be reached: the catalogue answers alone. The
    // port is Harvix's default; it is taken, not probed first and then taken.
    const bool started = own.start({ "--catalogue", own.catalogue(), "--listen", "127.0.0.1:8470",
                                     "--upstream", "http://127.0.0.1:1/fdsnws/event/1/" });
    if (!started && own.log().contains(QLatin1String("in use")))
        QSKIP("port 8470, Harvix's default, is in use here");
    QVERIFY2(started, qPrintable(own.log()));

    // A first run's window, with the form's default address.
    QSettings().remove(QStringLiteral("form"));
    MainAppWindow window;
    window.show();
    ModalWatcher watcher;
    window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->setCurrentIndex(5);   // Show All
    window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->setCurrentIndex(3);  // Show Last Year
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 20000);
    QCOMPARE(watcher.count(), 0);
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QCOMPARE(tree->topLevelItemCount(), 2);
    // The year searched reaches past the catalogue's last day, a week ago:
    // the status bar says how much of the year the service holds (the one
    // day of its two events), and offers the catalogue's own last year.
    const QString lastHeld = QLocale::c().toString(when.addSecs(3600).date(), QStringLiteral("d MMM yyyy"));
    QVERIFY2(window.statusBar()->currentMessage().endsWith(
                 QStringLiteral("The service holds events up to %1: 1 of the %2 days searched and could not reach 127.0.0.1.")
                     .arg(lastHeld).arg(QueryComposition::daysBack(3) + 1)),
             qPrintable(window.statusBar()->currentMessage()));
    QVERIFY(window.findChild<QLabel *>(QStringLiteral("lastYearCtrl"))->isVisible());

    const QString localTime = QLocale::c().toString(when.toLocalTime(), QStringLiteral("ddd, dd MMMM yyyy 'at' hh:mm:ss"));
    QTreeWidgetItem *first = tree->topLevelItem(0);
    QCOMPARE(first->text(0), QStringLiteral("[2026p000001] ") + localTime);
    QStringList rows;
    for (int i = 0; i < first->childCount(); ++i)
        rows << first->child(i)->text(0) + u'=' + first->child(i)->text(1);
    const QString degree = QString(QChar(0xB0));
    QCOMPARE(rows, QStringList({ "Focal Depth:=23.500 km", "Latitude:=-41.287 " + degree, "Longitude:=174.776 " + degree,
                                 "Reference ID:=2026p000001", "Richter Magnitude:=4.560 ", "Station Count (Magnitude):=0",
                                 "Universal Time:=" + when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) }));

    QTreeWidgetItem *reference = first->child(3);
    tree->scrollToItem(reference);
    const QRect rect = tree->visualItemRect(reference);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(tree->header()->sectionViewportPosition(1) + 20, rect.center().y()));
    const QUrl page(QStringLiteral("http://127.0.0.1:8470/services/quake/quakeml/1.0.1/ref/2026p000001"));
    QCOMPARE(catcher.urls, QList<QUrl>({ page }));
    const GatewayProcess::Reply opened = GatewayProcess::get(page);
    QCOMPARE(opened.status, 200);
    QVERIFY(opened.body.contains("<title>Event 2026p000001: "));
    // A file of unknown origin: no link to GeoNet.
    QVERIFY(!opened.body.contains("geonet.org.nz/earthquake"));

    // Nothing in the last day, which the catalogue does not reach: the
    // status bar says what it holds and that the upstream was not reached.
    window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->setCurrentIndex(0);  // Show Last Day
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().startsWith(QLatin1String("Retrieved 0")), 20000);
    QCOMPARE(window.statusBar()->currentMessage(),
             QStringLiteral("Retrieved 0 quake events matching search criteria. The service holds events up to %1 "
                            "and could not reach 127.0.0.1.")
                 .arg(QLocale::c().toString(when.addSecs(3600).date(), QStringLiteral("d MMM yyyy"))));
    // Beside it, the same search over the last year the catalogue holds.
    auto *offer = window.findChild<QLabel *>(QStringLiteral("lastYearCtrl"));
    QVERIFY(offer && offer->isVisible());
    const QDate last = when.addSecs(3600).date();
    const QRegularExpressionMatch link = QRegularExpression(QStringLiteral("href=\"([^\"]+)\"")).match(offer->text());
    QVERIFY2(link.hasMatch() && offer->text().contains(QLocale::c().toString(last, QStringLiteral("d MMM yyyy"))),
             qPrintable(offer->text()));
    emit offer->linkActivated(link.captured(1));
    QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().startsWith(QLatin1String("Retrieved 2")), 20000);
    QVERIFY(!offer->isVisible());
    QVERIFY2(window.queryString().contains(QStringLiteral("&startDate=%1&endDate=%2")
                                               .arg(last.addYears(-1).addDays(1).toString(Qt::ISODate),
                                                    last.toString(Qt::ISODate))),
             qPrintable(window.queryString()));
}

void TestGateway::regionSearchesKeepInside()
{
    // A grid of events from 160 to 200 degrees east (-160 as stored), 60 to
    // 20 south, at depths from 0 to 400 km, in June 2024.
    struct Event
    {
        QString id;
        double latitude, longitude, depth;
    };
    std::vector<Event> events;
    QByteArray text = fdsnHeader;
    const QDateTime june(QDate(2024, 6, 1), QTime(0, 0), Qt::UTC);
    for (double latitude = -60; latitude <= -20; latitude += 2.5) {
        for (double longitude = 160; longitude <= 200; longitude += 2.5) {
            const Event event { QStringLiteral("r%1").arg(events.size()), latitude, longitude > 180 ? longitude - 360 : longitude,
                                double(events.size() * 37 % 401) };
            text += event.id.toLatin1() + '|' + june.addSecs(qint64(events.size()) * 60).toString(Qt::ISODate).toLatin1()
                + '|' + QByteArray::number(event.latitude) + '|' + QByteArray::number(event.longitude) + '|'
                + QByteArray::number(event.depth) + "|||||ML|4|||earthquake\n";
            events.push_back(event);
        }
    }
    GatewayProcess regional;
    QCOMPARE(regional.run({ "import", "--catalogue", regional.catalogue(), regional.writeFile("grid.txt", text) }).exitCode, 0);
    QVERIFY(regional.start({ "--catalogue", regional.catalogue() }));

    // Each search against a plain reading of its keys.
    const auto eastOf = [](double longitude, double west) { return std::fmod(longitude - west + 720, 360.0); };
    const auto kmBetween = [](double lat1, double lon1, double lat2, double lon2) {
        const double r = M_PI / 180;
        const double dot = std::cos(lat1 * r) * std::cos(lat2 * r) * std::cos((lon1 - lon2) * r) + std::sin(lat1 * r) * std::sin(lat2 * r);
        return std::acos(std::clamp(dot, -1.0, 1.0)) * 6371;
    };
    struct Search
    {
        const char *keys;
        std::function<bool(const Event &)> inside;
    };
    const std::vector<Search> searches = {
        { "&bbox=170,-50,-170,-30",
          [&](const Event &e) { return e.latitude >= -50 && e.latitude <= -30 && eastOf(e.longitude, 170) <= 20; } },
        { "&bbox=175,-45,195,-40",
          [&](const Event &e) { return e.latitude >= -45 && e.latitude <= -40 && eastOf(e.longitude, 175) <= 20; } },
        // The east edge as written, not as west plus width rounds it.
        { "&bbox=160.1,-30,-175,-30",
          [&](const Event &e) { return e.latitude == -30 && eastOf(e.longitude, 160.1) <= 24.9 + 1e-9; } },
        // All the way round, however the two meridians are written.
        { "&bbox=180,-50,-180,-30", [](const Event &e) { return e.latitude >= -50 && e.latitude <= -30; } },
        { "&bbox=10,-50,-350,-30", [](const Event &e) { return e.latitude >= -50 && e.latitude <= -30; } },
        { "&minDepth=100&maxDepth=300", [](const Event &e) { return e.depth >= 100 && e.depth <= 300; } },
        { "&latitude=-30&longitude=179.5&maxRadiusKm=600",
          [&](const Event &e) { return kmBetween(-30, 179.5, e.latitude, e.longitude) <= 600; } },
        { "&bbox=170,-50,-170,-30&maxDepth=200&latitude=-40&longitude=-179&maxRadiusKm=500",
          [&](const Event &e) {
              return e.latitude >= -50 && e.latitude <= -30 && eastOf(e.longitude, 170) <= 20 && e.depth <= 200
                  && kmBetween(-40, -179, e.latitude, e.longitude) <= 500;
          } },
    };
    const auto searchAll = [&] {
        for (const Search &search : searches) {
            QStringList expected;
            for (const Event &event : events) {
                if (search.inside(event))
                    expected << event.id;
            }
            QVERIFY2(!expected.isEmpty() && expected.size() < int(events.size()), search.keys);
            const GatewayProcess::Reply reply = GatewayProcess::get(
                regional.url(QString::fromLatin1(searchPath("0", "12", "2024-06-01", "2024-06-30") + search.keys)));
            QCOMPARE(reply.status, 200);
            QCOMPARE(idsOf(reply.body), expected);
        }
    };
    searchAll();

    // The cell index is made for a catalogue that lacks it, and follows an
    // event that moves.
    QVERIFY(regional.stop(SIGTERM));
    {
        SqliteCatalogue catalogue(regional.catalogue());
        QString error;
        QVERIFY2(catalogue.open(&error), qPrintable(error));
        QSqlQuery drop(catalogue.connection());
        QVERIFY(drop.exec(QStringLiteral("DROP INDEX event_by_cell")));
    }
    events[0].latitude = -41;
    events[0].longitude = 176;
    QCOMPARE(regional.run({ "import", "--catalogue", regional.catalogue(),
                            regional.writeFile("moved.txt", fdsnHeader + "r0|2024-06-01T00:00:00Z|-41|176|0|||||ML|4|||earthquake\n") })
                 .exitCode,
             0);
    QVERIFY(regional.start({ "--catalogue", regional.catalogue() }));
    searchAll();

    const GatewayProcess::Reply refused = GatewayProcess::get(
        regional.url(QString::fromLatin1(searchPath("0", "12", "2024-06-01", "2024-06-30") + "&minDepth=300&maxDepth=100")));
    QCOMPARE(refused.status, 400);
    QCOMPARE(refused.body.trimmed(), QByteArray("minDepth 300 is above maxDepth 100"));
}

void TestGateway::aCircleOfNoRadiusHoldsThePole()
{
    // Every longitude of a pole is the pole: a circle of no radius there
    // holds them all, in a Harvix search and in an FDSN query alike.
    GatewayProcess polar;
    const QByteArray text = fdsnHeader
        + "p0|2024-06-01T00:00:00Z|-90|0|10|||||ML|4|||earthquake\n"
          "p17|2024-06-01T01:00:00Z|-90|17|10|||||ML|4|||earthquake\n"
          "p120|2024-06-01T02:00:00Z|-90|-120|10|||||ML|4|||earthquake\n"
          "near|2024-06-01T03:00:00Z|-89.9999|17|10|||||ML|4|||earthquake\n";
    QCOMPARE(polar.run({ "import", "--catalogue", polar.catalogue(), polar.writeFile("polar.txt", text) }).exitCode, 0);
    QVERIFY(polar.start({ "--catalogue", polar.catalogue() }));
    const GatewayProcess::Reply harvix = GatewayProcess::get(polar.url(QString::fromLatin1(
        searchPath("0", "12", "2024-06-01", "2024-06-01") + "&latitude=-90&longitude=17&maxRadiusKm=0")));
    QCOMPARE(harvix.status, 200);
    QCOMPARE(idsOf(harvix.body), (QStringList { "p0", "p17", "p120" }));
    const GatewayProcess::Reply fdsn = GatewayProcess::get(
        polar.url(QStringLiteral("/fdsnws/event/1/query?latitude=-90&longitude=17&maxradius=0&orderby=time-asc&format=text")));
    QCOMPARE(fdsn.status, 200);
    QStringList ids;
    for (const QByteArray &line : fdsn.body.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            ids << QString::fromLatin1(line.left(line.indexOf('|')));
    }
    QCOMPARE(ids, (QStringList { "p0", "p17", "p120" }));
}

// GeoNet's quake search as it gives a Kermadec event: far from any town,
// and with -1 for a station count it does not know.
void TestGateway::aFarEventsPageNamesItsRegion()
{
    GatewayProcess far;
    const QByteArray csv = "publicid,eventtype,origintime,modificationtime,longitude,latitude,magnitude,depth,"
                           "magnitudetype,depthtype,evaluationmethod,evaluationstatus,evaluationmode,earthmodel,"
                           "usedphasecount,usedstationcount,magnitudestationcount,minimumdistance,azimuthalgap,"
                           "originerror,magnitudeuncertainty\n"
                           "2026p900001,earthquake,2026-11-02T03:04:05.6Z,2026-11-02T04:00:00Z,-177.6,-29.9,6.1,33,"
                           "Mw,,NonLinLoc,reviewed,manual,nz3drx,80,40,-1,1.2,90,0.5,0.1\n";
    const GatewayProcess::Result imported = far.run({ "import", "--catalogue", far.catalogue(), far.writeFile("far.csv", csv) });
    QVERIFY2(imported.exitCode == 0 && imported.output.contains(QLatin1String("1 added")), qPrintable(imported.output));
    QVERIFY(far.start({ "--catalogue", far.catalogue() }));
    const GatewayProcess::Reply page = GatewayProcess::get(far.url(QStringLiteral("/services/quake/quakeml/1.0.1/ref/2026p900001")));
    QCOMPARE(page.status, 200);
    QVERIFY2(page.body.contains("<title>Event 2026p900001: Kermadec Islands region"), page.body.constData());
    QVERIFY2(page.body.contains("<tr><th>Stations (magnitude)</th><td>unknown</td></tr>"), page.body.constData());
    QVERIFY2(!page.body.contains("-1</td>"), page.body.constData());
}

namespace {

// An M6 on 1 March 2024 with 300 aftershocks at the quantiles of an
// Omori-Utsu decay (c 0.05 days, p 1.1, over its window of 499.3 days) and
// of a Gutenberg-Richter law (b 1 from M2), within 30 km; an event without
// a magnitude among them, and one far away.
struct Synthetic
{
    QByteArray text;
    std::vector<double> days;
    std::vector<double> magnitudes;
};

Synthetic synthetic()
{
    Synthetic s;
    s.text = fdsnTextHeader + "main|2024-03-01T00:00:00Z|-42|173|10|||||Mw|6.0|||earthquake\n"
                              "nomag|2024-03-02T00:00:00Z|-42.05|173|10|||||||||earthquake\n"
                              "far|2024-03-02T00:00:00Z|-38|176|10|||||ML|3.5|||earthquake\n";
    const QDateTime t0(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC);
    const double c = 0.05, p = 1.1, D = std::pow(10, 0.5409 * 6 - 0.547);
    const double a0 = std::pow(c, 1 - p), a1 = std::pow(D + c, 1 - p);
    for (int i = 0; i < 300; ++i) {
        const double q = (i + 0.5) / 300;
        const double t = std::pow(a0 + q * (a1 - a0), 1 / (1 - p)) - c;
        const double u = std::fmod(0.5 + i * 0.6180339887, 1.0);
        const double m = std::round((1.95 - std::log10(1 - u)) * 10) / 10;
        s.days.push_back(t);
        s.magnitudes.push_back(m);
        const QDateTime at = t0.addMSecs(qint64(t * 86400000));
        s.text += "a" + QByteArray::number(i) + '|' + at.toString(Qt::ISODateWithMs).toLatin1() + '|'
            + QByteArray::number(-42 + 0.2 * std::sin(i), 'f', 4) + '|' + QByteArray::number(173 + 0.2 * std::cos(i), 'f', 4)
            + "|8|||||ML|" + QByteArray::number(m, 'f', 1) + "|||earthquake\n";
    }
    return s;
}

} // namespace

void TestGateway::sequenceRoutesRefuseInOneLine_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("an unknown event") << "/sequence?eventid=nothere" << 404 << "no event";
    QTest::newRow("no magnitude") << "/sequence?eventid=nomag" << 400 << "has no magnitude";
    QTest::newRow("no eventid") << "/sequence" << 400 << "eventid is needed";
    QTest::newRow("days not a number") << "/sequence?eventid=main&days=soon" << 400 << "not a valid days";
    QTest::newRow("an unknown key") << "/sequence?eventid=main&colour=red" << 400 << "unknown parameter";
    QTest::newRow("no method") << "/decluster?starttime=2024-01-01" << 400 << "method is needed";
    QTest::newRow("an unknown method") << "/decluster?method=reasenberg" << 400 << "is not a method";
    QTest::newRow("a bad FDSN key") << "/decluster?method=gardner-knopoff&minmagnitude=big" << 400 << "minmagnitude";
    QTest::newRow("a bad threshold") << "/decluster?method=nearest-neighbour&threshold=low" << 400 << "threshold";
    QTest::newRow("a threshold for the window") << "/decluster?method=gardner-knopoff&threshold=-5" << 400
                                                << "for the nearest-neighbour method";
    QTest::newRow("a threshold beyond any eta") << "/decluster?method=nearest-neighbour&threshold=1e308" << 400
                                                << "-20 to 20";
    // Keys that would shape an FDSN reply do nothing to a declustering.
    for (const char *key : { "limit=2", "orderby=magnitude", "format=xml", "nodata=404", "offset=3" })
        QTest::newRow(key) << QStringLiteral("/decluster?method=gardner-knopoff&%1").arg(QLatin1String(key)) << 400
                           << "unknown parameter";
    // A forecast from before the mainshock (2024-03-01T00:00Z).
    QTest::newRow("at five hours before") << "/sequence?eventid=main&at=2024-02-29T19:00:00Z" << 400
                                          << "at must be at or after the event's time, 2024-03-01T00:00:00.000Z";
}

void TestGateway::sequenceRoutesRefuseInOneLine()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, says);
    if (!sequenceStarted) {
        GatewayProcess &g = sequenceGateway;
        QCOMPARE(g.run({ "import", "--catalogue", g.catalogue(), g.writeFile("sequence.txt", synthetic().text) }).exitCode, 0);
        QVERIFY(g.start({ "--catalogue", g.catalogue() }));
        sequenceStarted = true;
    }
    const GatewayProcess::Reply reply = GatewayProcess::get(sequenceGateway.url(path));
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.body.count('\n') == 1 && reply.body.contains(says.toUtf8()), reply.body.constData());
}

void TestGateway::sequenceAndDeclusterOfASequence()
{
    GatewayProcess own;
    const Synthetic s = synthetic();
    QCOMPARE(own.run({ "import", "--catalogue", own.catalogue(), own.writeFile("sequence.txt", s.text) }).exitCode, 0);
    QVERIFY(own.start({ "--catalogue", own.catalogue() }));
    const GatewayProcess::Reply reply = GatewayProcess::get(own.url(QStringLiteral("/sequence?eventid=main")));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.contentType.startsWith("application/json"));
    const QJsonObject json = QJsonDocument::fromJson(reply.body).object();
    QCOMPARE(json[QStringLiteral("mainshock")].toObject()[QStringLiteral("time")].toString(), QStringLiteral("2024-03-01T00:00:00.000Z"));
    // Every aftershock and the one without magnitude; not the far one.
    QCOMPARE(json[QStringLiteral("count")].toInt(), 301);
    const QJsonObject window = json[QStringLiteral("window")].toObject();
    QVERIFY(std::fabs(window[QStringLiteral("radiusKm")].toDouble() - std::pow(10, 0.1238 * 6 + 0.983)) < 1e-9);
    // The catalogue ends with the last aftershock: so does the window.
    QVERIFY(window[QStringLiteral("end")].toString() < QStringLiteral("2025-07-14"));
    // Mc by maximum curvature (the most frequent bin, + 0.2) and b by Aki
    // and Utsu, worked out here.
    std::map<int, int> bins;
    for (const double m : s.magnitudes)
        ++bins[int(std::lround(m * 10))];
    const auto peak = std::max_element(bins.begin(), bins.end(), [](auto &a, auto &b) { return a.second < b.second; });
    const double mc = (peak->first + 2) / 10.0;
    double sum = 0;
    int n = 0;
    for (const double m : s.magnitudes) {
        if (m >= mc - 1e-9) {
            sum += m;
            ++n;
        }
    }
    const QJsonObject magnitudes = json[QStringLiteral("magnitudes")].toObject();
    QVERIFY(std::fabs(magnitudes[QStringLiteral("mc")].toDouble() - mc) < 1e-9);
    // Its first quarter hour holds too few events for b: none, and why,
    // in the Sequence tab's words.
    const GatewayProcess::Reply quarterHour = GatewayProcess::get(own.url(QStringLiteral("/sequence?eventid=main&days=0.01")));
    const QJsonObject few = QJsonDocument::fromJson(quarterHour.body).object()[QStringLiteral("magnitudes")].toObject();
    QVERIFY2(few[QStringLiteral("b")].isNull() && few[QStringLiteral("n")].toInt() >= 2 && few[QStringLiteral("n")].toInt() < 50
                 && few[QStringLiteral("whyNoB")].toString().endsWith(QLatin1String("at least 50 are needed for a b-value")),
             quarterHour.body.constData());
    // Written as its bin: "2.4", never "2.4000000000000004".
    QVERIFY2(reply.body.contains("\"mc\":" + QByteArray::number(mc, 'g', 3) + ','), reply.body.constData());
    QCOMPARE(magnitudes[QStringLiteral("n")].toInt(), n);
    QVERIFY(std::fabs(magnitudes[QStringLiteral("b")].toDouble() - std::log10(std::exp(1.0)) / (sum / n - (mc - 0.05))) < 1e-9);
    // The decay's fit near the law the times follow, and its forecast.
    const QJsonObject omori = json[QStringLiteral("omori")].toObject();
    QVERIFY2(std::fabs(omori[QStringLiteral("p")].toDouble() - 1.1) < 3 * omori[QStringLiteral("sigmaP")].toDouble(), reply.body.constData());
    QCOMPARE(json[QStringLiteral("forecast")].toArray().size(), 12);
    const QJsonObject day = json[QStringLiteral("forecast")].toArray().at(0).toObject();
    QVERIFY(day[QStringLiteral("probability")].toDouble() > 0 && day[QStringLiteral("probability")].toDouble() < 1);
    QVERIFY(!json[QStringLiteral("bTime")].toArray().isEmpty());
    // Mc over time: the first window is the first 150 aftershocks.
    std::map<int, int> early;
    for (std::size_t i = 0; i < 150; ++i)
        ++early[int(std::lround(s.magnitudes[i] * 10))];
    const auto earlyPeak = std::max_element(early.begin(), early.end(), [](auto &a, auto &b) { return a.second < b.second; });
    const QJsonObject firstMc = json[QStringLiteral("mcTime")].toArray().at(0).toObject();
    QVERIFY(std::fabs(firstMc[QStringLiteral("mc")].toDouble() - (earlyPeak->first + 2) / 10.0) < 1e-9);
    QVERIFY(firstMc[QStringLiteral("mcSigma")].toDouble() >= 0);

    // Declustered: the M6 leads the aftershocks; the far event and the one
    // with no magnitude are not its.
    const GatewayProcess::Reply text = GatewayProcess::get(
        own.url(QStringLiteral("/decluster?method=gardner-knopoff&starttime=2024-01-01&minmagnitude=2")));
    QCOMPARE(text.status, 200);
    const QList<QByteArray> lines = text.body.trimmed().split('\n');
    QCOMPARE(lines.at(0), QByteArray("#EventID|Time|Magnitude|Cluster|Mainshock|Parent|LogEta"));
    int led = 0;
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> f = line.split('|');
        QCOMPARE(f.size(), 7);
        QVERIFY(f.at(0) != "nomag");
        if (f.at(0) == "far")
            QCOMPARE(f.at(4), QByteArray("far"));
        else if (f.at(0) != "main")
            led += f.at(4) == "main" && f.at(5) == "main" ? 1 : 0;
    }
    QCOMPARE(led, 300);

    // The mainshock's page says its sequence in words.
    const GatewayProcess::Reply page = GatewayProcess::get(own.url(QStringLiteral("/services/quake/quakeml/1.0.1/ref/main")));
    QCOMPARE(page.status, 200);
    QVERIFY2(page.body.contains("<h2>Its sequence</h2>") && page.body.contains("301 events followed it within 53 km")
                 && page.body.contains("Within the next 7 days") && page.body.contains("of M4 or more"),
             page.body.constData());

    // By nearest neighbours, at a threshold given: the threshold said first,
    // every event but the first with an earlier parent and its log eta.
    const GatewayProcess::Reply nn = GatewayProcess::get(
        own.url(QStringLiteral("/decluster?method=nearest-neighbour&minmagnitude=2&threshold=-4.5")));
    QCOMPARE(nn.status, 200);
    const QList<QByteArray> rows = nn.body.trimmed().split('\n');
    QCOMPARE(rows.at(0), QByteArray("#threshold=-4.5000"));
    QCOMPARE(rows.size(), 2 + 302);
    QSet<QByteArray> seen;
    for (const QByteArray &line : rows.mid(2)) {
        const QList<QByteArray> f = line.split('|');
        QVERIFY2(f.at(5).isEmpty() == seen.isEmpty() && (f.at(5).isEmpty() || seen.contains(f.at(5))), line.constData());
        QCOMPARE(f.at(6).isEmpty(), f.at(5).isEmpty());
        seen.insert(f.at(0));
    }
    // The mainshock alone: no eta to fit a threshold to, said so.
    const GatewayProcess::Reply alone = GatewayProcess::get(
        own.url(QStringLiteral("/decluster?method=nearest-neighbour&minmagnitude=5")));
    QCOMPARE(alone.status, 200);
    QVERIFY2(alone.body.startsWith("#threshold=none: too few events to fit one, so none is linked\n"), alone.body.constData());
    // A catalogue that cannot be read is no answer: the study and the
    // event's page say 503, not that there is no such event.
    {
        QSqlDatabase broken = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("breaker"));
        broken.setDatabaseName(own.catalogue());
        QVERIFY(broken.open());
        QSqlQuery drop(broken);
        QVERIFY2(drop.exec(QStringLiteral("ALTER TABLE event RENAME TO event_gone")), qPrintable(drop.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("breaker"));
    for (const QString &path : { QStringLiteral("/sequence?eventid=main"), QStringLiteral("/services/quake/quakeml/1.0.1/ref/main") })
        QCOMPARE(GatewayProcess::get(own.url(path)).status, 503);
}

void TestGateway::expectedReadsAsAPoissonRange_data()
{
    // The 2.5% and 97.5% quantiles of Poisson counts, worked out apart.
    QTest::addColumn<double>("mean");
    QTest::addColumn<QString>("words");
    QTest::newRow("almost none") << 0.01 << "no events of M4 or more are expected";
    QTest::newRow("half") << 0.5 << "up to 2 events of M4 or more are expected";
    QTest::newRow("six") << 6.0 << "2 to 11 events of M4 or more are expected";
    QTest::newRow("forty") << 40.0 << "28 to 53 events of M4 or more are expected";
    // Where exp(-mean) underflows, and far beyond: the quantiles summed in
    // 60-digit decimals from exp(-mean) up.
    QTest::newRow("745") << 745.0 << "692 to 799 events of M4 or more are expected";
    QTest::newRow("746") << 746.0 << "693 to 800 events of M4 or more are expected";
    QTest::newRow("a thousand") << 1000.0 << "938 to 1062 events of M4 or more are expected";
    QTest::newRow("10^5") << 1e5 << "99381 to 100620 events of M4 or more are expected";
    QTest::newRow("none") << 0.0 << "no events of M4 or more are expected";
}

void TestGateway::expectedReadsAsAPoissonRange()
{
    QFETCH(double, mean);
    QFETCH(QString, words);
    QCOMPARE(Pages::expectedText(mean, 4), words);
}

QTEST_MAIN(TestGateway)
#include "tst_gateway.moc"
