// Playing a result through time, in the window offscreen against a
// loopback service: the bar, the slider's times on the map (grabbed), the
// plots and the list, flashes while playing, the end, and following live
// held while the bar is open.

#include "app/eventlistmodel.h"
#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "app/timeplayer.h"
#include "testsupport/httptestserver.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

class TestTimePlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sliderShowsTheEventsUpToItsTime_data();
    void sliderShowsTheEventsUpToItsTime();
    void playingFlashesAndEnds();
    void followingWaitsForTheBar();

private:
    void search();
    MapWidget *map() { return window->findChild<MapWidget *>(QStringLiteral("mapWidget")); }
    PlotsWidget *plots() { return window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget")); }
    QSlider *slider() { return window->findChild<QSlider *>(QStringLiteral("timeSliderCtrl")); }
    TimePlayer *player() { return window->findChild<TimePlayer *>(QStringLiteral("timePlayer")); }
    QAction *play() { return window->findChild<QAction *>(QStringLiteral("actionPlayThroughTime")); }
    EventListModel *list() { return qobject_cast<EventListModel *>(window->findChild<QTableView *>(QStringLiteral("eventTable"))->model()); }
    int listRows() { return list()->rowCount(); }
    // The day of each event in the store, from the list of them all,
    // newest first, as a search shows it.
    std::vector<int> days;

    HttpTestServer *server = nullptr;
    MainAppWindow *window = nullptr;
};

namespace {

// Nine events a day apart, from 2016-11-13 11:00 UTC, spread along the
// country so that no two dots touch: the k-th at day k.
constexpr int EventCount = 9;
const QDateTime first(QDate(2016, 11, 13), QTime(11, 0), Qt::UTC);

QByteArray reply()
{
    QByteArray body = "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n";
    for (int k = 0; k < EventCount; ++k) {
        const QByteArray id = "2016p85800" + QByteArray::number(k);
        body += "<event publicID=\"smi:geonet.org.nz/event/" + id + "\"><type>earthquake</type><origin><time><value>"
            + first.addDays(k).toString(Qt::ISODate).toLatin1().chopped(1) + "</value></time><latitude><value>"
            + QByteArray::number(-46.0 + k * 1.0) + "</value></latitude><longitude><value>"
            + QByteArray::number(168.0 + k * 1.0) + "</value></longitude><depth><value>12</value></depth></origin>"
            "<magnitude><mag><value>4.5</value></mag></magnitude></event>\n";
    }
    return body + "</eventParameters></quakeml>\n";
}

} // namespace

void TestTimePlayer::init()
{
    QSettings().clear();
    QSettings().setValue(QStringLiteral("view/showMap"), true);
    QSettings().setValue(QStringLiteral("view/showPlots"), true);
    QSettings().setValue(QStringLiteral("live/intervalSeconds"), 3600);
    server = new HttpTestServer;
    QVERIFY(server->listen());
    window = new MainAppWindow;
    window->resize(1400, 1000);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
    server->setBody(reply());
}

void TestTimePlayer::cleanup()
{
    delete window;
    delete server;
}

void TestTimePlayer::search()
{
    window->statusBar()->clearMessage();
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 10000);
    days.assign(std::size_t(list()->rowCount()), -1);
    for (int row = 0; row < list()->rowCount(); ++row)
        days[std::size_t(list()->eventAt(row))] = list()->rowCount() - 1 - row;
}

void TestTimePlayer::sliderShowsTheEventsUpToItsTime_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("minimum") << 0;
    QTest::newRow("a third") << 3333;
    QTest::newRow("middle") << 5000;
    QTest::newRow("maximum") << 10000;
}

void TestTimePlayer::sliderShowsTheEventsUpToItsTime()
{
    QFETCH(int, position);
    search();
    play()->trigger();
    QVERIFY(window->findChild<QToolBar *>(QStringLiteral("timeBar"))->isVisible());
    const QImage everything = map()->grab().toImage();
    const double scale = map()->scale();
    // It opens at the span's end, paused, everything shown.
    QCOMPARE(slider()->value(), slider()->maximum());
    QCOMPARE(listRows(), EventCount);

    slider()->setSliderDown(true);
    slider()->setSliderPosition(position);
    slider()->setSliderDown(false);
    const double seconds = first.toSecsSinceEpoch() + (EventCount - 1) * 86400.0 * position / 10000;
    int shown = 0;
    for (int k = 0; k < EventCount; ++k)
        shown += first.toSecsSinceEpoch() + k * 86400.0 <= seconds ? 1 : 0;
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("timeLabelCtrl"))->text(),
             QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")));
    // The map, its view kept, draws the events up to then and no others.
    QCOMPARE(map()->scale(), scale);
    const QImage now = map()->grab().toImage();
    for (int k = 0; k < EventCount; ++k) {
        const QPoint at = map()->positionOf(k).toPoint();
        QVERIFY(now.rect().contains(at));
        const bool drawn = now.pixel(at) == everything.pixel(at);
        const int day = days[std::size_t(k)];
        QVERIFY2(drawn == (day < shown), qPrintable(QStringLiteral("the event of day %1, %2 shown").arg(day).arg(shown)));
        QCOMPARE(plots()->plot(PlotsWidget::MagnitudeTime)->positionOf(k).isNull(), day >= shown);
    }
    // So do the plots and the list.
    QCOMPARE(plots()->plot(PlotsWidget::DepthHistogram)->shownCount(), shown);
    QCOMPARE(plots()->plot(PlotsWidget::FrequencyMagnitude)->shownCount(), shown);
    QCOMPARE(listRows(), shown);

    // Closed, everything again.
    play()->setChecked(false);
    QCOMPARE(listRows(), EventCount);
    QCOMPARE(plots()->plot(PlotsWidget::DepthHistogram)->shownCount(), EventCount);
    QCOMPARE(map()->grab().toImage(), everything);
}

void TestTimePlayer::playingFlashesAndEnds()
{
    search();
    play()->trigger();
    // Eight days play at 6 hours a second, the slowest within a minute.
    auto *speed = window->findChild<QComboBox *>(QStringLiteral("playSpeedCtrl"));
    QCOMPARE(speed->currentData().toDouble(), 6 * 3600.0);
    // From the end, Play starts again at the first event, which flashes.
    player()->play();
    QVERIFY(player()->isPlaying());
    QCOMPARE(map()->timeShown(), double(first.toSecsSinceEpoch()));
    auto flashing = map()->flashes().flashing();
    QCOMPARE(int(flashing.size()), 1);
    QCOMPARE(flashing.front().second, 0.0);
    // Half a second on: 3 hours, half settled.
    player()->advance(0.5);
    flashing = map()->flashes().flashing();
    QCOMPARE(int(flashing.size()), 1);
    QVERIFY(std::fabs(flashing.front().second - 0.5) < 1e-9);
    // Paused: the same time, no flashes.
    player()->pause();
    QCOMPARE(map()->timeShown(), first.toSecsSinceEpoch() + 3 * 3600.0);
    QVERIFY(map()->flashes().flashing().empty());
    // Played on from there: day 1's event flashes as its time comes.
    player()->play();
    player()->advance(21 * 3600.0 / (6 * 3600));
    flashing = map()->flashes().flashing();
    QCOMPARE(int(flashing.size()), 1);
    QCOMPARE(days[flashing.front().first], 1);
    // At the end it stops, everything shown.
    player()->advance(60);
    QVERIFY(!player()->isPlaying());
    QCOMPARE(map()->timeShown(), HUGE_VAL);
    QCOMPARE(slider()->value(), slider()->maximum());
    QCOMPARE(listRows(), EventCount);
}

void TestTimePlayer::followingWaitsForTheBar()
{
    window->findChild<QAction *>(QStringLiteral("actionFollowLive"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().contains(QLatin1String("Following live")), 10000);
    play()->trigger();
    const int asked = server->requestTargets().size();
    // Held: a run due is put off. A search asked after it is the one request.
    QVERIFY(QMetaObject::invokeMethod(window->findChild<QTimer *>(QStringLiteral("liveTimer")), "timeout"));
    search();
    QCOMPARE(server->requestTargets().size(), asked + 1);
    // Closed: the run put off is due at once.
    window->statusBar()->clearMessage();
    play()->setChecked(false);
    QTRY_COMPARE(server->requestTargets().size(), asked + 2);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().contains(QLatin1String("Following live")), 10000);
}

QTEST_MAIN(TestTimePlayer)
#include "tst_timeplayer.moc"
