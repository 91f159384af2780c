#include "app/mainappwindow.h"
#include "service/quakeservice.h"
#include "quakeml/quakemlreader.h"
#include "service/quakedatamanager.h"

#include "testsupport/httptestserver.h"
#include "testsupport/modalwatcher.h"
#include "testsupport/urlcatcher.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest>

#include <sys/resource.h>

namespace {

long peakResidentMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

QByteArray quakeEvent(const QByteArray &publicId)
{
    return "<event><origin publicID=\"" + publicId + "\"><time><value>2009-07-14T09:22:29</value></time>"
           "<depth><value>5</value></depth></origin><magnitude><mag><value>3</value></mag></magnitude></event>";
}

QByteArray inDocument(const QByteArray &inner)
{
    return "<?xml version=\"1.0\"?><quakeml><eventParameters>" + inner + "</eventParameters></quakeml>";
}

QByteArray billionLaughs()
{
    QByteArray doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        doc += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int i = 0; i < 10; ++i)
            doc += "&lol" + (level > 1 ? QByteArray::number(level - 1) : QByteArray()) + ';';
        doc += "\">\n";
    }
    doc += "]>\n";
    return doc + "<quakeml><eventParameters><event><origin><evaluationMode>&lol9;</evaluationMode>"
                 "</origin></event></eventParameters></quakeml>";
}

QByteArray nested(int depth, bool closed)
{
    QByteArray inner;
    inner.reserve(depth * 7 + 400);
    for (int i = 0; i < depth; ++i)
        inner += "<a>";
    if (closed) {
        for (int i = 0; i < depth; ++i)
            inner += "</a>";
        inner += quakeEvent("smi:x/2g/1");
    }
    return closed ? inDocument(inner) : "<quakeml><eventParameters>" + inner;
}

QByteArray manyAttributes(int count, const QByteArray &first = QByteArray())
{
    QByteArray attributes = first;
    for (int i = 0; i < count; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"x\"";
    return inDocument(quakeEvent("smi:x/1g/1") + "<event" + attributes + ">" + "</event>");
}

// A well-formed two-event reply with more '=' and '>' than the attribute
// limit allows inside one place that is not a tag.
QByteArray signsOutsideTags(const QByteArray &before, const QByteArray &after)
{
    const QByteArray signs = QByteArray("a = b > c ").repeated(QuakeMLReader::MaximumAttributes + 1);
    return inDocument(quakeEvent("smi:x/1g/1") + before + signs + after + quakeEvent("smi:x/2g/1"));
}

QByteArray binary()
{
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    QRandomGenerator random(1234);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    bytes[0] = '\x8f';
    return bytes;
}

} // namespace


class TestHostileServers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void replies_data();
    void replies();
    void oddReferenceIdsKeepTheEndpoint_data();
    void oddReferenceIdsKeepTheEndpoint();
    void everythingIsFreedWithTheWindow();
    void limits_data();
    void limits();

private:
    struct Outcome
    {
        QList<ModalWatcher::Seen> boxes;
        int events = 0;
        bool buttonEnabled = false;
    };
    Outcome runSearch(HttpTestServer &server, int timeoutMs);

    UrlCatcher catcher;
};

void TestHostileServers::initTestCase()
{
    catcher.install();
}

void TestHostileServers::cleanupTestCase()
{
    catcher.uninstall();
}

void TestHostileServers::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^QObject::connect")));
    catcher.urls.clear();
}

TestHostileServers::Outcome TestHostileServers::runSearch(HttpTestServer &server, int timeoutMs)
{
    Outcome outcome;
    MainAppWindow window;
    window.show();
    ModalWatcher watcher;
    window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server.url(QStringLiteral("/services/quake/search?")).toString());
    auto *button = window.findChild<QPushButton *>(QStringLiteral("searchCtrl"));
    QTest::mouseClick(button, Qt::LeftButton);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), timeoutMs); }();
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    // A failed search's manager is released with its error.
    const auto *manager = window.findChild<QuakeDataManager *>();
    outcome.events = manager ? int(manager->quakeEvents().size()) : 0;
    if (outcome.events > 0)
        [&] { QCOMPARE(tree->topLevelItemCount(), outcome.events); }();
    outcome.boxes = watcher.seen();
    outcome.buttonEnabled = button->isEnabled();
    return outcome;
}

void TestHostileServers::replies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("mode");
    QTest::addColumn<qint64>("streamBytes");
    QTest::addColumn<QString>("box");          // expected box title, empty for none
    QTest::addColumn<QString>("boxText");      // a regular expression
    QTest::addColumn<int>("events");

    using Mode = HttpTestServer::Mode;
    const QByteArray small = inDocument(quakeEvent("smi:x/1g/1") + quakeEvent("smi:x/2g/1"));
    const QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Moved</title></head>"
                            "<body><p>The service has moved.</body></html>";
    QTest::newRow("drips one byte at a time") << small << 200 << int(Mode::Drip) << qint64(0) << QString() << QString() << 2;
    QTest::newRow("stops mid-body and closes") << small << 200 << int(Mode::CloseMidBody) << qint64(0)
                                               << "NW Error" << "^A network error occured:\n\n.+" << 0;
    QByteArray thousands;
    for (int i = 0; i < 3000; ++i)
        thousands += quakeEvent("smi:x/" + QByteArray::number(i) + "g/1");
    // Long enough for events to be read before the break: none is shown.
    QTest::newRow("stops mid-body after a thousand events") << inDocument(thousands) << 200 << int(Mode::CloseMidBody)
                                                            << qint64(0) << "NW Error"
                                                            << "^A network error occured:\n\n.+" << 0;
    QTest::newRow("resets the connection") << small << 200 << int(Mode::Reset) << qint64(0)
                                           << "NW Error" << "^A network error occured:\n\n.+" << 0;
    QTest::newRow("500 with an HTML body") << html << 500 << int(Mode::Normal) << qint64(0)
                                           << "NW Error" << "Internal Server Error" << 0;
    QTest::newRow("200 with HTML") << html << 200 << int(Mode::Normal) << qint64(0)
                                   << "XML Error" << "^An XML error occured:\n\n.+\n\n\\(Line #2, Column #\\d+\\)$" << 0;
    QTest::newRow("200 with JSON") << QByteArray("{\"events\": [{\"id\": \"2009p1\"}]}") << 200 << int(Mode::Normal)
                                   << qint64(0) << "XML Error" << "^An XML error occured:\n\nStart tag expected\\." << 0;
    QTest::newRow("200 with an empty body") << QByteArray() << 200 << int(Mode::Normal) << qint64(0)
                                            << "XML Error" << "Premature end of document" << 0;
    QTest::newRow("200 with a binary body") << binary() << 200 << int(Mode::Normal) << qint64(0)
                                            << "XML Error" << "^An XML error occured:\n\n.+" << 0;
    QTest::newRow("100 MB of whitespace") << QByteArray() << 200 << int(Mode::Stream) << qint64(100) * 1000 * 1000
                                          << "XML Error" << "Premature end of document" << 0;
    QTest::newRow("billion laughs") << billionLaughs() << 200 << int(Mode::Normal) << qint64(0)
                                    << "XML Error" << "entity expansion limit" << 1;
    QTest::newRow("a million nested elements, closed") << nested(1000000, true) << 200 << int(Mode::Normal)
                                                       << qint64(0) << QString() << QString() << 1;
    QTest::newRow("a million nested elements, never closed") << nested(1000000, false) << 200 << int(Mode::Normal)
                                                             << qint64(0) << "XML Error" << "Premature end of document" << 0;
    QTest::newRow("200,000 attributes on one element") << manyAttributes(200000) << 200 << int(Mode::Normal)
                                                       << qint64(0) << "XML Error"
                                                       << "^An XML error occured:\n\nAn element has more than 10000 attributes\\.\n\n\\(Line #1, Column #\\d+\\)$" << 1;
    QTest::newRow("9,000 attributes are read") << manyAttributes(9000) << 200 << int(Mode::Normal)
                                               << qint64(0) << QString() << QString() << 2;
    QTest::newRow("10,001 attributes after a '>' in a quoted value")
        << manyAttributes(10001, " title=\"a>b\"")
        << 200 << int(Mode::Normal) << qint64(0) << "XML Error" << "more than 10000 attributes" << 1;
    QTest::newRow("'=' and '>' in text") << signsOutsideTags("<note>", "</note>") << 200 << int(Mode::Normal)
                                         << qint64(0) << QString() << QString() << 2;
    QTest::newRow("'=' and '>' in a CDATA section") << signsOutsideTags("<note><![CDATA[", "]]></note>") << 200
                                                    << int(Mode::Normal) << qint64(0) << QString() << QString() << 2;
    QTest::newRow("'=' and '>' in a comment") << signsOutsideTags("<!--", "-->") << 200 << int(Mode::Normal)
                                              << qint64(0) << QString() << QString() << 2;
    QTest::newRow("'=' and '>' in an attribute value") << signsOutsideTags("<note a=\"", "\"/>") << 200
                                                       << int(Mode::Normal) << qint64(0) << QString() << QString() << 2;
}

void TestHostileServers::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, mode);
    QFETCH(qint64, streamBytes);
    QFETCH(QString, box);
    QFETCH(QString, boxText);
    QFETCH(int, events);

    HttpTestServer server;
    QVERIFY(server.listen());
    HttpTestServer::Reply reply;
    reply.body = body;
    reply.status = status;
    reply.mode = HttpTestServer::Mode(mode);
    reply.streamBytes = streamBytes;
    server.setReply(reply);

    const Outcome outcome = runSearch(server, 60000);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(outcome.buttonEnabled);
    QCOMPARE(outcome.events, events);
    if (box.isEmpty()) {
        QCOMPARE(outcome.boxes.size(), 0);
    } else {
        QCOMPARE(outcome.boxes.size(), 1);
        QCOMPARE(outcome.boxes.first().title, box);
        QVERIFY2(QRegularExpression(boxText).match(outcome.boxes.first().text).hasMatch(),
                 qPrintable(outcome.boxes.first().text));
    }
    // Everything here fits in a small multiple of the largest reply.
    QVERIFY2(peakResidentMiB() < 1500, qPrintable(QString::number(peakResidentMiB())));
}

void TestHostileServers::oddReferenceIdsKeepTheEndpoint_data()
{
    QTest::addColumn<QByteArray>("publicId");
    QTest::newRow("at sign") << QByteArray("smi:x/user@evil.example:80g/1");
    QTest::newRow("question mark and hash") << QByteArray("smi:x/1?x=y#z@evil.example:8g/1");
    QTest::newRow("spaces and dots") << QByteArray("smi:x/ .. ../../..g/1");
    QTest::newRow("backslashes") << QByteArray("smi:x/\\\\evil.example\\g/1");
    QTest::newRow("scheme-like") << QByteArray("smi:x/javascript:alert(1)g/1");
    QTest::newRow("percent escapes") << QByteArray("smi:x/%2F%2Fevil.example%40g/1");
}

void TestHostileServers::oddReferenceIdsKeepTheEndpoint()
{
    QFETCH(QByteArray, publicId);
    HttpTestServer server;
    QVERIFY(server.listen());
    server.setBody(inDocument(quakeEvent(QString::fromLatin1(publicId).toHtmlEscaped().toLatin1())));

    MainAppWindow window;
    window.show();
    ModalWatcher watcher;
    window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(server.url().toString() + '?');
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 10000);
    QTreeWidgetItem *event = tree->topLevelItem(0);
    QTreeWidgetItem *reference = nullptr;
    for (int i = 0; i < event->childCount(); ++i) {
        if (event->child(i)->text(0) == QLatin1String("Reference ID:"))
            reference = event->child(i);
    }
    QVERIFY(reference);

    const QRect rect = tree->visualItemRect(reference);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(tree->header()->sectionViewportPosition(1) + 20, rect.center().y()));
    QCOMPARE(catcher.urls.size(), 1);
    const QUrl endpoint(QuakeService::eventPageUrlFor(server.url().toString()));
    const QUrl opened = catcher.urls.first();
    QCOMPARE(opened.scheme(), endpoint.scheme());
    QCOMPARE(opened.host(), endpoint.host());
    QCOMPARE(opened.port(), endpoint.port());
    QVERIFY(opened.userInfo().isEmpty());
    QVERIFY2(opened.path().startsWith(endpoint.path()), qPrintable(opened.toString()));
    QCOMPARE(watcher.count(), 0);
}

void TestHostileServers::everythingIsFreedWithTheWindow()
{
    // Under LeakSanitizer this also shows that nothing is left on the heap.
    HttpTestServer server;
    QVERIFY(server.listen());
    server.setBody(inDocument(quakeEvent("smi:x/1g/1") + quakeEvent("smi:x/2g/1")));

    auto *window = new MainAppWindow;
    window->show();
    ModalWatcher watcher;
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server.url(QStringLiteral("/q?")).toString());
    auto *button = window->findChild<QPushButton *>(QStringLiteral("searchCtrl"));
    QList<QPointer<QObject>> watched;
    auto searchOnce = [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        for (QObject *object : window->findChildren<QuakeDataManager *>())
            watched << object;
        for (QNetworkReply *reply : window->findChildren<QNetworkReply *>())
            watched << reply;
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
    };
    for (int search = 0; search < 3; ++search)
        searchOnce();
    server.setBody("gone", 500);
    searchOnce();
    QCOMPARE(watcher.count(), 1);

    // Only the manager of the result on screen is left.
    QTRY_COMPARE(window->findChildren<QuakeDataManager *>().size(), 1);
    for (QObject *object : window->findChildren<QNetworkAccessManager *>())
        watched << object;
    auto *tree = window->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QCOMPARE(tree->topLevelItemCount(), 2);
    watched << tree << tree->model();

    window->close();
    delete window;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QPointer<QObject> &object : watched)
        QVERIFY(object.isNull());
}

// The two limits, lowered so that each case takes a few seconds.
void TestHostileServers::limits_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<qint64>("maximumSize");
    QTest::addColumn<QString>("reason");
    using Mode = HttpTestServer::Mode;
    const qint64 mib = 1024 * 1024;
    QTest::newRow("silent server") << int(Mode::Silent) << 1500 << QuakeDataManager::MaximumReplySize
                                   << "No data arrived for 1.5 seconds, so the transfer was stopped.";
    QTest::newRow("endless reply") << int(Mode::Stream) << QuakeDataManager::TransferTimeoutMs << 64 * mib
                                   << "The reply was larger than 64 MiB, so it was not read.";
}

void TestHostileServers::limits()
{
    QFETCH(int, mode);
    QFETCH(int, timeoutMs);
    QFETCH(qint64, maximumSize);
    QFETCH(QString, reason);

    HttpTestServer server;
    QVERIFY(server.listen());
    HttpTestServer::Reply reply;
    reply.mode = HttpTestServer::Mode(mode);
    reply.streamBytes = maximumSize + 256 * 1024 * 1024;
    server.setReply(reply);

    MainAppWindow window;
    window.show();
    ModalWatcher watcher;
    QString url = server.url(QStringLiteral("/q?")).toString();
    auto *manager = new QuakeDataManager(&window, url);
    manager->setTransferTimeout(timeoutMs);
    manager->setMaximumReplySize(maximumSize);
    QSignalSpy failed(manager, SIGNAL(quakeDataFailed(QuakeDataManager*)));
    QVERIFY(failed.isValid());
    manager->performRequest();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 60000);
    QCOMPARE(watcher.count(), 1);
    QCOMPARE(watcher.seen().first().title, QStringLiteral("NW Error"));
    QCOMPARE(watcher.seen().first().text, QStringLiteral("A network error occured:\n\n") + reason);
    QVERIFY(manager->quakeEvents().empty());
    // A reply is cut once more than the limit has arrived, not before.
    if (reply.mode == HttpTestServer::Mode::Stream)
        QVERIFY(server.bytesSent() > maximumSize);
}

QTEST_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
