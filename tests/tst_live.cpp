#include "app/eventlistmodel.h"
#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "app/resulttree.h"

#include "testsupport/httptestserver.h"

#include <QAction>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

// A desktop's notification service, on a connection of its own to the
// private session bus that the test runs on: it keeps what it is asked.
class NotificationStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown
    {
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("standin"));

    bool start()
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    void stop() { bus.unregisterService(QStringLiteral("org.freedesktop.Notifications")); }
    // The user chooses the n-th notification.
    void choose(int n)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << uint(n + 1) << QStringLiteral("default");
        bus.send(signal);
    }

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        shown.append({ summary, body, actions });
        return uint(shown.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("actions"), QStringLiteral("body") }; }
};

// Following a search live, through the real window on the offscreen
// platform and a loopback service whose events change between runs.
class TestLive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void followingShowsWhatChangedInPlace();
    void watchedPlacesAreNotifiedOnce();
    void treeStateFollowsItsEvents_data();
    void treeStateFollowsItsEvents();

private:
    QTreeWidget *tree() { return window->findChild<QTreeWidget *>(QStringLiteral("treeWidget")); }
    MapWidget *map() { return window->findChild<MapWidget *>(QStringLiteral("mapWidget")); }
    QAction *follow() { return window->findChild<QAction *>(QStringLiteral("actionFollowLive")); }
    QTimer *timer() { return window->findChild<QTimer *>(QStringLiteral("liveTimer")); }
    // Runs the search once more, as the timer does, and waits for its end.
    void runAgain(const QByteArray &body, int status = 200);
    QTreeWidgetItem *eventItem(const QString &id);
    QString rowText(const QString &id, const QString &label);

    HttpTestServer *server = nullptr;
    MainAppWindow *window = nullptr;
};

namespace {

QByteArray quake(const QByteArray &id, double latitude, const QByteArray &magnitude)
{
    return "<event publicID=\"smi:geonet.org.nz/event/" + id + "\"><type>earthquake</type>"
        "<origin publicID=\"smi:geonet.org.nz/origin/" + id + "g/1\"><time><value>2026-12-01T03:04:05</value></time>"
        "<latitude><value>" + QByteArray::number(latitude) + "</value></latitude><longitude><value>174.5</value></longitude>"
        "<depth><value>12</value></depth></origin><magnitude><mag><value>" + magnitude + "</value></mag></magnitude></event>\n";
}

// Sixty quiet events, enough to scroll, then the ones that change.
QByteArray document(const QByteArray &changing)
{
    QByteArray events;
    for (int i = 0; i < 60; ++i)
        events += quake("2026p1000" + QByteArray::number(10 + i), -41.0 - i * 0.05, "2.1");
    return "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
        + events + changing + "</eventParameters></quakeml>\n";
}

} // namespace

void TestLive::init()
{
    // A window test fails on any warning: a broken connection, a layout
    // that cannot be met, a painter left active.
    // (The offscreen platform's own "This plugin does not support ..." is not ours.)
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )")));
    QSettings().clear();
    QSettings().setValue(QStringLiteral("live/intervalSeconds"), 3);   // below the least: 10
    server = new HttpTestServer;
    QVERIFY(server->listen());
    window = new MainAppWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
}

void TestLive::cleanup()
{
    delete window;
    delete server;
}

void TestLive::runAgain(const QByteArray &body, int status)
{
    server->setBody(body, status);
    const int asked = server->requestTargets().size();
    window->statusBar()->clearMessage();
    QVERIFY(QMetaObject::invokeMethod(timer(), "timeout"));
    QTRY_COMPARE(server->requestTargets().size(), asked + 1);
    QTRY_VERIFY(window->statusBar()->currentMessage().contains(QLatin1String("Following live")));
}

QTreeWidgetItem *TestLive::eventItem(const QString &id)
{
    // By its "Reference ID:" row.
    for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree()->topLevelItem(i);
        for (int row = 0; row < item->childCount(); ++row) {
            if (item->child(row)->text(0) == QLatin1String("Reference ID:") && item->child(row)->text(1) == id)
                return item;
        }
    }
    return nullptr;
}

QString TestLive::rowText(const QString &id, const QString &label)
{
    QTreeWidgetItem *item = eventItem(id);
    for (int row = 0; item && row < item->childCount(); ++row) {
        if (item->child(row)->text(0) == label)
            return item->child(row)->text(1);
    }
    return QString();
}

void TestLive::followingShowsWhatChangedInPlace()
{
    const QByteArray first = document(quake("2026p200001", -40.0, "4.2") + quake("2026p200002", -40.5, "3.0"));
    // The first revised, the second withdrawn, a third new.
    const QByteArray second = document(quake("2026p200001", -40.0, "4.4") + quake("2026p200003", -39.5, "4.5"));

    // On: the search runs at once, then at least every 10 s.
    server->setBody(first);
    follow()->trigger();
    QTRY_VERIFY(window->statusBar()->currentMessage().contains(QLatin1String("Following live from")));
    QVERIFY(timer()->isActive());
    QCOMPARE(timer()->interval(), 10000);
    timer()->setInterval(3600 * 1000);   // the test runs it itself
    QCOMPARE(QSettings().value(QStringLiteral("live/following")).toBool(), true);
    QVERIFY2(tree()->topLevelItemCount() == 62, qPrintable(window->statusBar()->currentMessage()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Harvix 1.1"));
    const QString magnitudeBefore = rowText(QStringLiteral("2026p200001"), QStringLiteral("Richter Magnitude:"));
    QVERIFY(!magnitudeBefore.isEmpty());

    // The user's view: one event collapsed, a row of another current,
    // scrolled down, the map zoomed.
    eventItem(QStringLiteral("2026p100012"))->setExpanded(false);
    QTreeWidgetItem *current = eventItem(QStringLiteral("2026p100040"))->child(2);
    tree()->setCurrentItem(current, 1);
    tree()->verticalScrollBar()->setValue(tree()->verticalScrollBar()->maximum() / 2);
    const QString topBefore = tree()->itemAt(QPoint(0, 0))->text(0);
    QWheelEvent wheel(QPointF(100, 100), map()->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(map(), &wheel);
    const double scale = map()->scale();
    const QPointF quietEvent = map()->positionOf(5);

    runAgain(second);
    const QRegularExpression said(QStringLiteral(
        R"(^Retrieved 62 quake events matching search criteria\. Following live: 1 new, 1 revised, 1 withdrawn )"
        R"(\(2026p200002\) at \d\d:\d\d$)"));
    QVERIFY2(said.match(window->statusBar()->currentMessage()).hasMatch(), qPrintable(window->statusBar()->currentMessage()));
    QCOMPARE(window->windowTitle(), QStringLiteral("(1) Harvix 1.1"));
    // The withdrawn event stays after the others, greyed and said so, and
    // crossed out on the map where it was.
    QCOMPARE(tree()->indexOfTopLevelItem(eventItem(QStringLiteral("2026p200002"))), 62);
    QCOMPARE(eventItem(QStringLiteral("2026p200002"))->text(1), QStringLiteral("withdrawn"));
    QCOMPARE(map()->withdrawn().size(), std::size_t(1));
    QCOMPARE(map()->withdrawn()[0].latitude, -40.5);
    QCOMPARE(eventItem(QStringLiteral("2026p200003"))->text(1), QStringLiteral("new"));
    QCOMPARE(eventItem(QStringLiteral("2026p200001"))->text(1), QString());
    const QString magnitudeNow = rowText(QStringLiteral("2026p200001"), QStringLiteral("Richter Magnitude:"));
    QVERIFY2(magnitudeNow.endsWith(QStringLiteral(" (was %1)").arg(magnitudeBefore.trimmed()))
                 && !magnitudeNow.startsWith(magnitudeBefore) && !magnitudeNow.contains(QLatin1String("  "))
                 && !magnitudeNow.contains(QLatin1String(" )")),
             qPrintable(magnitudeNow));
    // The view as it was.
    QVERIFY(!eventItem(QStringLiteral("2026p100012"))->isExpanded());
    QVERIFY(eventItem(QStringLiteral("2026p100013"))->isExpanded());
    QCOMPARE(tree()->currentItem(), eventItem(QStringLiteral("2026p100040"))->child(2));
    QCOMPARE(tree()->itemAt(QPoint(0, 0))->text(0), topBefore);
    QCOMPARE(map()->scale(), scale);
    QCOMPARE(map()->positionOf(5), quietEvent);
    // The new event is ringed on the map until it is selected.
    const int newIndex = tree()->indexOfTopLevelItem(eventItem(QStringLiteral("2026p200003")));
    QCOMPARE(map()->markedEvents(), std::vector<int>({ newIndex }));
    // And in the list, the new one and the revised one.
    const EventListModel *list = window->findChild<EventListModel *>();
    const int revisedIndex = tree()->indexOfTopLevelItem(eventItem(QStringLiteral("2026p200001")));
    QCOMPARE(list->markOf(newIndex), EventListModel::New);
    QCOMPARE(list->markOf(revisedIndex), EventListModel::Revised);
    QCOMPARE(list->markOf(5), EventListModel::Unmarked);
    QVERIFY(list->data(list->index(list->rowOf(newIndex), 0), Qt::ForegroundRole).isValid());
    // Off the map's view, an arrow on its edge points to it.
    map()->centreOn({ -47, 167 });
    QCOMPARE(map()->pointersToMarked().size(), std::size_t(1));
    const QPointF tip = map()->pointersToMarked()[0];
    QVERIFY2(std::min({ tip.x(), tip.y(), map()->width() - tip.x(), map()->height() - tip.y() }) < 10,
             qPrintable(QStringLiteral("%1,%2").arg(tip.x()).arg(tip.y())));
    // Towards the event: north-east of the map's middle, as -39.5 is of -47.
    QVERIFY(tip.y() < map()->height() / 2.0);
    tree()->setCurrentItem(eventItem(QStringLiteral("2026p200003")));
    QVERIFY(map()->markedEvents().empty());
    QCOMPARE(list->markOf(newIndex), EventListModel::Unmarked);
    QCOMPARE(window->windowTitle(), QStringLiteral("Harvix 1.1"));
    QCOMPARE(eventItem(QStringLiteral("2026p200003"))->text(1), QString());

    // Nothing changed: the earlier value goes.
    runAgain(second);
    QVERIFY2(window->statusBar()->currentMessage().contains(QLatin1String("Following live: 0 new, 0 revised, 0 withdrawn at")),
             qPrintable(window->statusBar()->currentMessage()));
    QVERIFY(!rowText(QStringLiteral("2026p200001"), QStringLiteral("Richter Magnitude:")).contains(QLatin1String("was")));

    // A failed run keeps the result and says so, with no message box.
    runAgain("the catalogue is being rebuilt\n", 503);
    QVERIFY2(window->statusBar()->currentMessage().startsWith(QLatin1String("Following live: the search at ")),
             qPrintable(window->statusBar()->currentMessage()));
    QVERIFY(window->statusBar()->currentMessage().endsWith(QLatin1String("; the last result is still shown.")));
    QCOMPARE(tree()->topLevelItemCount(), 63);   // the withdrawn one too
    QVERIFY(!QApplication::activeModalWidget());

    // Off stops at once, remembered.
    follow()->trigger();
    QVERIFY(!timer()->isActive());
    QCOMPARE(QSettings().value(QStringLiteral("live/following")).toBool(), false);
    QCOMPARE(tree()->topLevelItemCount(), 62);
    QVERIFY(map()->withdrawn().empty());
}

// Wellington watched within 50 km from M4: only events new since the first
// run, inside and big enough, are told, each once, whatever happens to it.
void TestLive::watchedPlacesAreNotifiedOnce()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus: ctest runs this under dbus-run-session");
    NotificationStandIn standIn;
    QVERIFY(standIn.start());
    // Chosen in Search → Watch Places…, kept as the array "watch".
    QTimer::singleShot(0, this, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("watchPlaceCtrl"))->setText(QStringLiteral("Wellington"));
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("watchRadiusCtrl"))->setValue(50);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("watchMagnitudeCtrl"))->setValue(4);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("watchAddCtrl")), Qt::LeftButton);
        static_cast<QDialog *>(dialog)->accept();
    });
    window->findChild<QAction *>(QStringLiteral("actionWatchPlaces"))->trigger();
    QSettings settings;
    QCOMPARE(settings.beginReadArray(QStringLiteral("watch")), 1);
    settings.setArrayIndex(0);
    QCOMPARE(settings.value(QStringLiteral("name")).toString(), QStringLiteral("Wellington"));
    QVERIFY(std::abs(settings.value(QStringLiteral("latitude")).toDouble() + 41.29) < 0.05);
    QVERIFY(std::abs(settings.value(QStringLiteral("longitude")).toDouble() - 174.78) < 0.05);
    QCOMPARE(settings.value(QStringLiteral("radiusKm")).toDouble(), 50.0);
    QCOMPARE(settings.value(QStringLiteral("minMagnitude")).toDouble(), 4.0);
    settings.endArray();

    const QByteArray before = quake("2026p300001", -41.3, "4.8");   // in the first run: never told
    server->setBody(document(before));
    follow()->trigger();
    QTRY_VERIFY(window->statusBar()->currentMessage().contains(QLatin1String("Following live from")));
    timer()->setInterval(3600 * 1000);
    const QByteArray told = quake("2026p300002", -41.1, "4.5");
    runAgain(document(quake("2026p300001", -41.3, "5.1") + told
                      + quake("2026p300003", -41.2, "3.9")       // too small
                      + quake("2026p300004", -36.85, "5.0")));   // Auckland
    QTRY_COMPARE(standIn.shown.size(), 1);
    QCOMPARE(standIn.shown[0].summary, QStringLiteral("M4.5 earthquake"));
    // Worded as the map words its place.
    const QString place = map()->placeOf(tree()->indexOfTopLevelItem(eventItem(QStringLiteral("2026p300002"))));
    QVERIFY(place.contains(QRegularExpression(QStringLiteral("^\\d+ km [NSEW]+ of "))));
    QCOMPARE(standIn.shown[0].body, place + QStringLiteral("\ndepth 12 km, Tue 1 Dec, 16:04 NZDT"));
    QCOMPARE(standIn.shown[0].actions.value(0), QStringLiteral("default"));

    // Choosing it selects the event in the raised window.
    tree()->setCurrentItem(tree()->topLevelItem(0));
    standIn.choose(0);
    QTRY_COMPARE(tree()->currentItem(), eventItem(QStringLiteral("2026p300002")));

    // Revised, withdrawn, back again: never told twice. A new event after
    // them is told next: had any of them been told, it would have come first.
    runAgain(document(before + quake("2026p300002", -41.1, "4.7")));
    runAgain(document(before));
    runAgain(document(before + told));
    const QByteArray later = quake("2026p300006", -41.15, "5.2");
    runAgain(document(before + told + later));
    QTRY_COMPARE(standIn.shown.size(), 2);
    QCOMPARE(standIn.shown[1].summary, QStringLiteral("M5.2 earthquake"));

    // Without a notification service (and no tray offscreen), the status
    // bar says it, and still what the run withdrew.
    standIn.stop();
    server->setBody(document(told + later + quake("2026p300005", -41.0, "6.1")));
    QVERIFY(QMetaObject::invokeMethod(timer(), "timeout"));
    QTRY_VERIFY2(window->statusBar()->currentMessage().startsWith(QLatin1String("M6.1 earthquake: ")),
                 qPrintable(window->statusBar()->currentMessage()));
    QVERIFY2(window->statusBar()->currentMessage().contains(QLatin1String("1 withdrawn (2026p300001)")),
             qPrintable(window->statusBar()->currentMessage()));
    QCOMPARE(standIn.shown.size(), 2);
}

void TestLive::treeStateFollowsItsEvents_data()
{
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("collapsedAt");   // where event b is now, collapsed
    QTest::addColumn<int>("currentAt");     // where event c is now, its row 1 current; -1: none
    QTest::newRow("same order") << QStringList { "a", "b", "c" } << 1 << 2;
    QTest::newRow("one gone, one new, reordered") << QStringList { "d", "c", "b" } << 2 << 1;
    QTest::newRow("the current one gone") << QStringList { "b", "a" } << 0 << -1;
}

void TestLive::treeStateFollowsItsEvents()
{
    QFETCH(QStringList, after);
    QFETCH(int, collapsedAt);
    QFETCH(int, currentAt);
    // Trees of events each with three rows; the i-th item is the i-th event.
    std::vector<std::string> ids;
    ids.reserve(8);
    const auto fill = [&ids](QTreeWidget &tree, const QStringList &names) {
        std::vector<LocatedEvent> events;
        tree.clear();
        for (const QString &name : names) {
            ids.push_back(name.toStdString());
            auto *item = new QTreeWidgetItem(QStringList { name });
            for (int row = 0; row < 3; ++row)
                item->addChild(new QTreeWidgetItem(QStringList { QString::number(row) }));
            tree.addTopLevelItem(item);
            events.push_back({ &ids.back(), {}, 0.0 });
        }
        tree.expandAll();
        return events;
    };
    QTreeWidget tree;
    tree.setColumnCount(2);
    const std::vector<LocatedEvent> before = fill(tree, { "a", "b", "c" });
    tree.topLevelItem(1)->setExpanded(false);
    tree.setCurrentItem(tree.topLevelItem(2)->child(1));
    const ResultTree::State state = ResultTree::stateOf(&tree, before);

    const std::vector<LocatedEvent> now = fill(tree, after);
    ResultTree::restore(&tree, now, state);
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        QCOMPARE(tree.topLevelItem(i)->isExpanded(), i != collapsedAt);
    QTreeWidgetItem *const expected = currentAt < 0 ? nullptr : tree.topLevelItem(currentAt)->child(1);
    QCOMPARE(tree.currentItem(), expected);
}

QTEST_MAIN(TestLive)
#include "tst_live.moc"
