#include "app/mainappwindow.h"
#include "quakeml/quakemlreader.h"
#include "service/quakedatamanager.h"

#include "testsupport/fixtures.h"
#include "testsupport/httptestserver.h"
#include "testsupport/modalwatcher.h"

#include <QNetworkReply>
#include <QtTest>

namespace {

// Runs the event loop until a timer started now has fired: what was posted
// before it has run by then.
void settle()
{
    bool fired = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    QTRY_VERIFY(fired);
}

QByteArray quakeEvent(const char *ref, const char *time = "2009-07-14T09:22:29", const char *mode = "manual")
{
    return QByteArray("<event><origin publicID=\"smi:geonet.org.nz/origin/") + ref + "g/1\"><time><value>" + time
        + "</value></time><latitude><value>-41.2864</value></latitude><evaluationMode>" + mode
        + "</evaluationMode></origin><magnitude><mag><value>4.5</value></mag><stationCount>12</stationCount></magnitude></event>";
}

QByteArray document(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\">"
        + inner + "</quakeml>";
}

QByteArray params(const QByteArray &inner)
{
    return "<eventParameters publicID=\"p\">" + inner + "</eventParameters>";
}

} // namespace

class TestQuakeDataManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^QObject::connect"))); }

    void replies_data();
    void replies();
    void refusedConnection();
    void xmlErrorBoxComesBeforeTheSignal();
    void bigReplyLetsTheWindowWork();
    void deletedWhileReading();
};

void TestQuakeDataManager::replies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("ids");           // store keys, in order
    QTest::addColumn<QString>("boxTitle");          // empty: no box
    QTest::addColumn<QString>("boxText");           // a regular expression
    QTest::addColumn<bool>("loaded");

    const int normal = int(HttpTestServer::Mode::Normal);
    const QString zurich = QStringLiteral("[%1] Tue, 14 July 2009 at 21:22:29");
    QTest::newRow("three events in identifier order")
        << readFixture("geonet-three-events.xml") << 200 << normal
        << QStringList({ "[10] Thu, 16 July 2009 at 11:59:59", "[3366146] Tue, 14 July 2009 at 21:22:29",
                         "[9] Thu, 01 January 2009 at 12:00:00" })
        << QString() << QString() << true;
    QTest::newRow("two events with the same identifier")
        << document(params(quakeEvent("5", "2009-07-14T09:22:29", "first") + quakeEvent("5", "2009-07-14T09:22:29", "second")))
        << 200 << normal << QStringList({ zurich.arg(5) }) << QString() << QString() << true;
    QTest::newRow("no eventParameters")
        << document("<event>" + quakeEvent("1") + "</event>") << 200 << normal << QStringList() << QString() << QString() << true;
    QTest::newRow("empty-element eventParameters")
        << document("<eventParameters/>") << 200 << normal << QStringList() << QString() << QString() << true;
    QTest::newRow("skipped children with nested content")
        << document(params("<description><text>t<event>x</event></text><a><b/></a></description>" + quakeEvent("1")
                           + "<comment>c<event/></comment>" + quakeEvent("2")))
        << 200 << normal << QStringList({ zurich.arg(1), zurich.arg(2) }) << QString() << QString() << true;
    QTest::newRow("prefixed eventParameters is walked")
        << document("<q:eventParameters xmlns:q=\"urn:q\">" + quakeEvent("7") + "</q:eventParameters>")
        << 200 << normal << QStringList({ zurich.arg(7) }) << QString() << QString() << true;
    QTest::newRow("wrongly cased names are not walked")
        << document("<EventParameters>" + quakeEvent("7") + "</EventParameters>" + params("<Event/>"))
        << 200 << normal << QStringList() << QString() << QString() << true;
    QTest::newRow("several eventParameters, nested deeper too")
        << document(params(quakeEvent("1")) + "<wrap>" + params(quakeEvent("2")) + "</wrap>" + params(quakeEvent("3")))
        << 200 << normal << QStringList({ zurich.arg(1), zurich.arg(2), zurich.arg(3) }) << QString() << QString() << true;
    QTest::newRow("cut off after two events")
        << document(params(quakeEvent("1") + quakeEvent("2") + "<event><origin publicID=\"a/3g/1\">")).chopped(QByteArray("</eventParameters></quakeml>").size())
        << 200 << normal << QStringList({ zurich.arg(1), zurich.arg(2), "[3] " })
        << QStringLiteral("XML Error")
        << QStringLiteral("^An XML error occured:\n\nPremature end of document\\.\n\n\\(Line #2, Column #\\d+\\)$") << true;
    QTest::newRow("not XML at all")
        << QByteArray("Service temporarily unavailable") << 200 << normal << QStringList()
        << QStringLiteral("XML Error") << QStringLiteral("^An XML error occured:\n\n.+\n\n\\(Line #1, Column #\\d+\\)$") << true;
    QTest::newRow("empty body")
        << QByteArray() << 200 << normal << QStringList()
        << QStringLiteral("XML Error") << QStringLiteral("^An XML error occured:\n\nPremature end of document\\.\n\n\\(Line #1, Column #\\d+\\)$") << true;
    QTest::newRow("zero byte after the document ends the text")
        << document(params(quakeEvent("1"))) + QByteArray("\0<<<not xml", 11)
        << 200 << normal << QStringList({ zurich.arg(1) }) << QString() << QString() << true;
    QTest::newRow("zero byte inside the document cuts it there")
        << document(params(quakeEvent("1") + QByteArray("\0", 1) + quakeEvent("2")))
        << 200 << normal << QStringList({ zurich.arg(1) })
        << QStringLiteral("XML Error") << QStringLiteral("^An XML error occured:\n\nPremature end of document\\.") << true;
    QTest::newRow("bytes above 127 become one character each")
        << document(params(quakeEvent("1", "2009-07-14T09:22:29", "caf\xC3\xA9\xFF")))
        << 200 << normal << QStringList({ zurich.arg(1) }) << QString() << QString() << true;
    QTest::newRow("HTTP 404")
        << QByteArray("<html>Not here</html>") << 404 << normal << QStringList()
        << QStringLiteral("NW Error") << QStringLiteral("^A network error occured:\n\n.*Not Found") << false;
    QTest::newRow("HTTP 500 with an XML body")
        << document(params(quakeEvent("1"))) << 500 << normal << QStringList()
        << QStringLiteral("NW Error") << QStringLiteral("^A network error occured:\n\n.*Internal Server Error") << false;
    QTest::newRow("server closes the connection mid-body")
        << readFixture("geonet-three-events.xml") << 200 << int(HttpTestServer::Mode::CloseMidBody) << QStringList()
        << QStringLiteral("NW Error") << QStringLiteral("^A network error occured:\n\n.+") << false;
    QTest::newRow("connection reset")
        << QByteArray() << 200 << int(HttpTestServer::Mode::Reset) << QStringList()
        << QStringLiteral("NW Error") << QStringLiteral("^A network error occured:\n\n.+") << false;
}

void TestQuakeDataManager::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, mode);
    QFETCH(QStringList, ids);
    QFETCH(QString, boxTitle);
    QFETCH(QString, boxText);
    QFETCH(bool, loaded);

    qputenv("TZ", "Etc/GMT-12");
    tzset();
    HttpTestServer server;
    QVERIFY(server.listen());
    HttpTestServer::Reply reply;
    reply.body = body;
    reply.status = status;
    reply.mode = HttpTestServer::Mode(mode);
    server.setReply(reply);

    MainAppWindow window;
    ModalWatcher watcher;
    QString url = server.url(QStringLiteral("/services/quake/search?")).toString() + QStringLiteral("a=1");
    auto *manager = new QuakeDataManager(&window, url);
    QCOMPARE(manager->parent(), &window);
    QSignalSpy loadedSpy(manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)));
    QSignalSpy failedSpy(manager, SIGNAL(quakeDataFailed(QuakeDataManager*)));
    QVERIFY(loadedSpy.isValid() && failedSpy.isValid());
    manager->performRequest();
    QTRY_COMPARE_WITH_TIMEOUT(loadedSpy.count() + failedSpy.count(), 1, 10000);
    // What the manager had queued runs before a timer started now.
    settle();

    QCOMPARE(loadedSpy.count(), loaded ? 1 : 0);
    QCOMPARE(failedSpy.count(), loaded ? 0 : 1);
    const QVariantList args = loaded ? loadedSpy.first() : failedSpy.first();
    QCOMPARE(args.first().value<QuakeDataManager *>(), manager);
    // Qt retries once on a reset connection; every request asks for the same target.
    QVERIFY(!server.requestTargets().isEmpty());
    for (const QByteArray &target : server.requestTargets())
        QCOMPARE(target, QByteArray("/services/quake/search?a=1"));

    QStringList stored;
    for (const auto &entry : manager->quakeEvents())
        stored << QString::fromLatin1(entry.first.c_str());
    QCOMPARE(stored, ids);

    if (boxTitle.isEmpty()) {
        QCOMPARE(watcher.count(), 0);
    } else {
        QCOMPARE(watcher.count(), 1);
        QCOMPARE(watcher.seen().first().className, QStringLiteral("QMessageBox"));
        QCOMPARE(watcher.seen().first().title, boxTitle);
        const QString text = watcher.seen().first().text;
        QVERIFY2(QRegularExpression(boxText).match(text).hasMatch(), qPrintable(text));
    }

    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    if (tag.startsWith(QLatin1String("two events"))) {
        QCOMPARE(manager->quakeEvents().begin()->second.at("Origin evaluation mode:"), std::string("second"));
    } else if (tag.startsWith(QLatin1String("bytes above"))) {
        QCOMPARE(manager->quakeEvents().begin()->second.at("Origin evaluation mode:"), std::string("caf\xC3\xA9\xFF"));
    }
    // Every reply is freed once handled, failed ones too.
    QTRY_COMPARE(manager->findChildren<QNetworkReply *>().size(), 0);
    QCOMPARE(manager->url(), url);

    // A whole reply given as text is read into the same events as the
    // reply read as it arrives.
    if (status == 200 && mode == int(HttpTestServer::Mode::Normal)) {
        QuakeDataManager whole(nullptr, url);
        whole.setQuiet(true);
        QString text = QuakeMLReader::decodeReply(body);
        whole.parseResponse(text);
        QStringList read;
        for (const auto &entry : whole.quakeEvents())
            read << QString::fromLatin1(entry.first.c_str());
        QCOMPARE(read, stored);
        QCOMPARE(whole.quakeLocations().size(), manager->quakeLocations().size());
    }
}

void TestQuakeDataManager::refusedConnection()
{
    quint16 freePort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        freePort = probe.serverPort();
    }
    MainAppWindow window;
    ModalWatcher watcher;
    QString url = QStringLiteral("http://127.0.0.1:%1/search?").arg(freePort);
    QuakeDataManager manager(&window, url);
    QSignalSpy loadedSpy(&manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)));
    QSignalSpy failedSpy(&manager, SIGNAL(quakeDataFailed(QuakeDataManager*)));
    manager.performRequest();
    QTRY_COMPARE_WITH_TIMEOUT(failedSpy.count(), 1, 10000);
    QCOMPARE(loadedSpy.count(), 0);
    QCOMPARE(watcher.count(), 1);
    QCOMPARE(watcher.seen().first().title, QStringLiteral("NW Error"));
    QCOMPARE(watcher.seen().first().text, QStringLiteral("A network error occured:\n\nConnection refused"));
    QVERIFY(manager.quakeEvents().empty());
}

void TestQuakeDataManager::xmlErrorBoxComesBeforeTheSignal()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    server.setBody(document(params(quakeEvent("1"))).left(60));
    MainAppWindow window;
    ModalWatcher watcher;
    QString url = server.url().toString();
    QuakeDataManager manager(&window, url);
    int boxesAtSignal = -1;
    connect(&manager, &QuakeDataManager::quakeDataLoaded, this, [&] { boxesAtSignal = watcher.count(); });
    manager.performRequest();
    QTRY_COMPARE_WITH_TIMEOUT(boxesAtSignal, 1, 10000);
}

namespace {

QByteArray manyEvents(int count)
{
    QByteArray events;
    for (int i = 0; i < count; ++i)
        events += quakeEvent(QByteArray::number(i).constData());
    return document(params(events));
}

} // namespace

// A big reply is read while the window goes on working: timers fire and
// the manager hands its events over in pieces before the result.
void TestQuakeDataManager::bigReplyLetsTheWindowWork()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    const int events = 20000;
    server.setBody(manyEvents(events));
    MainAppWindow window;
    QString url = server.url().toString();
    QuakeDataManager manager(&window, url);
    QSignalSpy loadedSpy(&manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)));
    int pieces = 0;
    int ticksWhileReading = 0;
    connect(&manager, &QuakeDataManager::eventsRead, this, [&] { ++pieces; });
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (pieces > 0 && loadedSpy.isEmpty())
            ++ticksWhileReading;
    });
    ticker.start(0);
    manager.performRequest();
    QTRY_COMPARE_WITH_TIMEOUT(loadedSpy.count(), 1, 60000);
    QCOMPARE(int(manager.quakeEvents().size()), events);
    QCOMPARE(int(manager.quakeLocations().size()), events);
    QVERIFY(pieces > 1);
    QVERIFY(ticksWhileReading > 0);
}

// A manager destroyed while its reply is read stops the reading and is gone
// without a signal (the sanitizer build checks that nothing is left over).
void TestQuakeDataManager::deletedWhileReading()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    server.setBody(manyEvents(20000));
    MainAppWindow window;
    QString url = server.url().toString();
    auto *manager = new QuakeDataManager(&window, url);
    QSignalSpy loadedSpy(manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)));
    bool read = false;
    connect(manager, &QuakeDataManager::eventsRead, this, [&] { read = true; });
    manager->performRequest();
    QTRY_VERIFY_WITH_TIMEOUT(read, 60000);
    delete manager;
    QCOMPARE(loadedSpy.count(), 0);
    // Nothing it left queued runs on after it.
    settle();
}

QTEST_MAIN(TestQuakeDataManager)
#include "tst_quakedatamanager.moc"
