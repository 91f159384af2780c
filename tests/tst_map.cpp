#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "app/picturefile.h"
#include "app/plotswidget.h"
#include "app/sectionplot.h"
#include "app/shownresult.h"
#include "geo/eventscales.h"

#include "testsupport/httptestserver.h"
#include "testsupport/modalwatcher.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QUrlQuery>
#include <QDockWidget>
#include <QInputDialog>
#include <QMenu>
#include <QPainter>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <limits>

// The map beside the tree, through the real window on the offscreen
// platform, filled by searches of a loopback server.
class TestMap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void eventsArePlaced();
    void legendIsTheSameForEverySearch();
    void fitShowsEveryCircleWhole_data();
    void fitShowsEveryCircleWhole();
    void mapAndTreeSelectEachOther();
    void zoomKeepsThePointUnderThePointer();
    void saves_data();
    void saves();
    void sequenceIsOneActionAway_data();
    void sequenceIsOneActionAway();
    void plotsKeepTheirSizeOnPaper_data();
    void plotsKeepTheirSizeOnPaper();
    void textIsLaidOutAlikeInEveryPicture_data();
    void textIsLaidOutAlikeInEveryPicture();
    void theSequenceChartsAndAPlayedPlotAreSaved();
    void showMapIsRemembered();
    void plotsShowTheSearch();
    void spritesMadeAheadDrawTheSame();
    void regionIsAskedForAndKept();
    void sectionPlacesEventsAlongItsProfile();

private:
    void search(const QByteArray &body);
    MapWidget *map() { return window->findChild<MapWidget *>(QStringLiteral("mapWidget")); }
    QTreeWidget *tree() { return window->findChild<QTreeWidget *>(QStringLiteral("treeWidget")); }
    QAction *action(const QString &text);

    HttpTestServer *server = nullptr;
    MainAppWindow *window = nullptr;
};

namespace {

QByteArray quake(const char *id, const char *latitude, const char *longitude, const char *depth, const char *magnitude)
{
    QByteArray text = QByteArray("<event publicID=\"smi:geonet.org.nz/event/") + id + "\"><type>earthquake</type>"
        "<origin publicID=\"smi:geonet.org.nz/origin/" + id + "g/1\"><time><value>2026-01-02T03:04:05</value></time>"
        "<latitude><value>" + latitude + "</value></latitude><longitude><value>" + longitude + "</value></longitude>";
    if (*depth)
        text += QByteArray("<depth><value>") + depth + "</value></depth>";
    text += "</origin>";
    if (*magnitude)
        text += QByteArray("<magnitude><mag><value>") + magnitude + "</value></mag><stationCount>9</stationCount></magnitude>";
    return text + "</event>\n";
}

QByteArray document(const QByteArray &events)
{
    return "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
        + events + "</eventParameters></quakeml>\n";
}

// In the store's order: Kermadecs east of 180°, Fiordland, Taupo without a
// depth, off East Cape without a magnitude.
const QByteArray four = document(quake("2026p000001", "-30.0", "-178.0", "50", "5.0")
                                 + quake("2026p000002", "-45.5", "166.9", "10", "4.0")
                                 + quake("2026p000003", "-38.80", "175.90", "", "3.0")
                                 + quake("2026p000004", "-37.55", "178.90", "20", ""));

} // namespace

void TestMap::init()
{
    // A window test fails on any warning: a broken connection, a layout
    // that cannot be met, a painter left active.
    // (The offscreen platform's own "This plugin does not support ..." is not ours.)
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )")));
    QSettings().setValue(QStringLiteral("view/showMap"), true);
    QSettings().remove(QStringLiteral("region"));   // a failed test may have left one
    QSettings().remove(QStringLiteral("section"));
    QSettings().remove(QStringLiteral("period"));
    server = new HttpTestServer;
    QVERIFY(server->listen());
    window = new MainAppWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
}

void TestMap::cleanup()
{
    delete window;
    delete server;
}

QAction *TestMap::action(const QString &text)
{
    for (QAction *candidate : window->findChildren<QAction *>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

void TestMap::search(const QByteArray &body)
{
    server->setBody(body);
    window->statusBar()->clearMessage();
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 10000);
}

void TestMap::eventsArePlaced()
{
    QCOMPARE(map()->eventCount(), 0);
    search(four);
    QCOMPARE(map()->eventCount(), 4);
    QCOMPARE(map()->withoutDepth(), 1);
    QCOMPARE(map()->withoutMagnitude(), 1);
    QCOMPARE(map()->withoutPosition(), 0);
    const QPointF kermadecs = map()->positionOf(0), fiordland = map()->positionOf(1), taupo = map()->positionOf(2),
                  eastCape = map()->positionOf(3);
    // Fitted: all on screen; -178° lies east of New Zealand, not beyond its west.
    for (const QPointF &at : { kermadecs, fiordland, taupo, eastCape })
        QVERIFY2(map()->rect().contains(at.toPoint()), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
    QVERIFY(kermadecs.x() > eastCape.x() && eastCape.x() > taupo.x() && taupo.x() > fiordland.x());
    QVERIFY(kermadecs.y() < taupo.y() && taupo.y() < fiordland.y());
    // The tooltip's text, place worded as GeoNet does.
    QCOMPARE(map()->describe(2), QStringLiteral("2026p000003\nFri, 02 January 2026 at 16:04:05\n"
                                                "Magnitude 3.0, depth unknown\n20 km SW of Taupo"));
    QCOMPARE(map()->placeOf(3), QStringLiteral("145 km NE of Gisborne"));
    // The event on top is the one named where the pointer is.
    int others = -1;
    QCOMPARE(map()->eventAt(fiordland, &others), 1);
    QCOMPARE(others, 0);

    // A search with nothing clears the map with the tree.
    search(document(QByteArray()));
    QCOMPARE(map()->eventCount(), 0);
}

void TestMap::fitShowsEveryCircleWhole_data()
{
    QTest::addColumn<QByteArray>("events");
    QTest::addColumn<QList<double>>("magnitudes");
    // Like a year of M3 and more: large events at the Kermadecs, at the
    // top of the map, and one in the Tasman Sea, where the legend lies.
    QTest::newRow("New Zealand and the Kermadecs")
        << document(quake("k1", "-28.5", "-177.0", "30", "6.8") + quake("k2", "-30.0", "-178.5", "50", "5.0")
                    + quake("f", "-45.8", "166.4", "10", "5.5") + quake("t", "-38.7", "176.1", "5", "3.1")
                    + quake("e", "-37.6", "179.2", "20", "4.2") + quake("w", "-34.0", "165.5", "12", "5.9"))
        << QList<double> { 6.8, 5.0, 5.5, 3.1, 4.2, 5.9 };
    QTest::newRow("one large event") << document(quake("one", "-41.3", "174.8", "20", "7.8"))
                                     << QList<double> { 7.8 };
}

void TestMap::fitShowsEveryCircleWhole()
{
    QFETCH(QByteArray, events);
    QFETCH(QList<double>, magnitudes);
    search(events);
    QCOMPARE(map()->eventCount(), int(magnitudes.size()));
    const QRectF legend = map()->legendRect();
    for (int i = 0; i < magnitudes.size(); ++i) {
        const double radius = EventScales::radius(magnitudes[i]);
        const QRectF circle(map()->positionOf(i) - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
        QVERIFY2(QRectF(map()->rect()).contains(circle), qPrintable(QString::number(i)));
        QVERIFY2(!legend.intersects(circle), qPrintable(QString::number(i)));
    }
}

void TestMap::legendIsTheSameForEverySearch()
{
    // Two searches of very different magnitudes: the legend, drawn on the
    // one fixed scale, is the same picture.
    // The circles shrink at a country's scale: both are seen at one.
    search(document(quake("2026p000010", "-41", "174", "", "2.1") + quake("2026p000011", "-42", "173", "12", "")));
    map()->showPlace({ -41, 174 }, QString(), 1500);
    const QImage first = map()->grab(QRect(10, 10, 185, 120)).toImage();
    search(document(quake("2026p000020", "-20", "-175", "", "7.5") + quake("2026p000021", "-10", "160", "300", "")));
    map()->showPlace({ -41, 174 }, QString(), 1500);
    const QImage second = map()->grab(QRect(10, 10, 185, 120)).toImage();
    QCOMPARE(first, second);
    QVERIFY(std::fabs(EventScales::radius(6) / EventScales::radius(4) - EventScales::radius(4) / EventScales::radius(2)) < 1e-9);
}

void TestMap::mapAndTreeSelectEachOther()
{
    search(four);
    // A click on an event selects, expands and shows its item.
    QTest::mouseClick(map(), Qt::LeftButton, {}, map()->positionOf(1).toPoint());
    QCOMPARE(tree()->currentItem(), tree()->topLevelItem(1));
    QVERIFY(tree()->topLevelItem(1)->isExpanded());
    QCOMPARE(map()->selectedEvent(), 1);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("150 km NW of Invercargill"));

    // A tree selection, a child row included, marks its event and brings it on screen.
    for (int i = 0; i < 12; ++i) {
        QWheelEvent wheel(map()->positionOf(1), map()->mapToGlobal(map()->positionOf(1)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(map(), &wheel);
    }
    QVERIFY(!map()->rect().contains(map()->positionOf(0).toPoint()));
    tree()->setCurrentItem(tree()->topLevelItem(0)->child(2));
    QCOMPARE(map()->selectedEvent(), 0);
    QVERIFY(map()->rect().contains(map()->positionOf(0).toPoint()));
    tree()->setCurrentItem(nullptr);
    QCOMPARE(map()->selectedEvent(), -1);
}

void TestMap::zoomKeepsThePointUnderThePointer()
{
    search(four);
    const QPointF pointer = map()->positionOf(2) + QPointF(7, -3);
    const double scale = map()->scale();
    const QPointF taupoFromPointer = map()->positionOf(2) - pointer;
    QWheelEvent wheel(pointer, map()->mapToGlobal(pointer), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(map(), &wheel);
    QCOMPARE(map()->scale(), scale * 1.5625);
    const QPointF moved = map()->positionOf(2) - pointer;
    QVERIFY(std::fabs(moved.x() - taupoFromPointer.x() * 1.5625) < 1e-6);
    QVERIFY(std::fabs(moved.y() - taupoFromPointer.y() * 1.5625) < 1e-6);
    // Dragging pans by as much as the pointer moved; Fit brings all back.
    const QPointF before = map()->positionOf(2);
    QTest::mousePress(map(), Qt::LeftButton, {}, QPoint(100, 100));
    QMouseEvent move(QEvent::MouseMove, QPointF(140, 90), map()->mapToGlobal(QPointF(140, 90)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map(), &move);
    QTest::mouseRelease(map(), Qt::LeftButton, {}, QPoint(140, 90));
    QCOMPARE(map()->positionOf(2), before + QPointF(40, -10));
    action(QStringLiteral("Fit Map to Events"))->trigger();
    QCOMPARE(map()->scale(), scale);
}

void TestMap::sequenceIsOneActionAway_data()
{
    // Gardner and Knopoff's window as SeismoStats fits it, worked out apart:
    // M5.0, 10^(0.1238 * 5 + 0.983) = 39.994 km and 10^(0.5409 * 5 - 0.547)
    // = 143.7 days; M4.0, 30.07 km and 41.4 days.
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("centre");
    QTest::addColumn<double>("radiusKm");
    QTest::addColumn<int>("days");
    QTest::newRow("M5.0 in the Kermadecs") << 0 << "latitude=-30&longitude=-178" << 39.994 << 144;
    QTest::newRow("M4.0 in Fiordland") << 1 << "latitude=-45.5&longitude=166.9" << 30.07 << 42;
}

void TestMap::sequenceIsOneActionAway()
{
    QFETCH(int, event);
    QFETCH(QString, centre);
    QFETCH(double, radiusKm);
    QFETCH(int, days);
    search(four);
    QAction *sequence = window->findChild<QAction *>(QStringLiteral("actionShowSequence"));
    QVERIFY(sequence && tree()->actions().contains(sequence));
    tree()->setCurrentItem(tree()->topLevelItem(event));
    const qsizetype asked = server->requestTargets().size();
    sequence->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(server->requestTargets().size() > asked, 10000);
    const QString target = QString::fromLatin1(server->requestTargets().last());
    const QDate start(2026, 1, 2);
    const QDate end = std::min(start.addDays(days), QDateTime::currentDateTimeUtc().date());
    QVERIFY2(target.contains(QStringLiteral("magnitudeLower=0&magnitudeUpper=12&startDate=2026-01-02&endDate=")
                             + end.toString(Qt::ISODate)),
             qPrintable(target));
    QVERIFY2(target.contains(u'&' + centre + QStringLiteral("&maxRadiusKm=")), qPrintable(target));
    const QRegularExpressionMatch radius = QRegularExpression(QStringLiteral("maxRadiusKm=([0-9.]+)")).match(target);
    QVERIFY(radius.hasMatch() && std::fabs(radius.captured(1).toDouble() - radiusKm) < 0.5);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 10000);
}

void TestMap::plotsKeepTheirSizeOnPaper_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("widthCm");
    QTest::addColumn<double>("heightCm");
    QTest::addColumn<int>("dpi");
    QTest::newRow("PNG, 8 by 5 cm at 300 dpi") << "plot.png" << 8.0 << 5.0 << 300;
    QTest::newRow("PNG, 17 by 10 cm at 600 dpi") << "plot.png" << 17.0 << 10.0 << 600;
    QTest::newRow("SVG, 8 by 5 cm") << "plot.svg" << 8.0 << 5.0 << 300;
}

void TestMap::plotsKeepTheirSizeOnPaper()
{
    QFETCH(QString, name);
    QFETCH(double, widthCm);
    QFETCH(double, heightCm);
    QFETCH(int, dpi);
    search(four);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QString error;
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    QVERIFY2(plots->save(PlotsWidget::FrequencyMagnitude, path, { QSizeF(widthCm, heightCm), dpi }, &error),
             qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    if (name.endsWith(QLatin1String(".svg"))) {
        // Vectors, as wide on paper as asked (to a point of rounding).
        const QRegularExpressionMatch width = QRegularExpression(QStringLiteral("width=\"([0-9.]+)mm\"")).match(QString::fromUtf8(bytes));
        QVERIFY(width.hasMatch());
        QVERIFY2(std::fabs(width.captured(1).toDouble() - widthCm * 10) < 0.4, qPrintable(width.captured(1)));
        QVERIFY(bytes.contains("<path") || bytes.contains("<polyline"));
        return;
    }
    const QImage image = QImage::fromData(bytes, "PNG");
    QVERIFY(std::abs(image.width() - widthCm / 2.54 * dpi) <= 3);
    QVERIFY(std::abs(image.height() - heightCm / 2.54 * dpi) <= 3);
    QCOMPARE(image.dotsPerMeterX(), qRound(dpi / 0.0254));
}

void TestMap::textIsLaidOutAlikeInEveryPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("dpi");
    QTest::newRow("SVG") << "text.svg" << 300;
    QTest::newRow("PNG at 72 dpi") << "text.png" << 72;
    QTest::newRow("PNG at 300 dpi") << "text.png" << 300;
    QTest::newRow("PNG at 600 dpi") << "text.png" << 600;
}

// A 10-point text is 10 points high on paper (as the layout's units, 72 to
// the inch, measure it) whatever the file and its resolution.
void TestMap::textIsLaidOutAlikeInEveryPicture()
{
    QFETCH(QString, name);
    QFETCH(int, dpi);
    QTemporaryDir dir;
    QString error;
    QFont font;
    font.setPointSizeF(10);
    double height = 0, width = 0;
    QVERIFY2(PictureFile::save(dir.filePath(name), PictureFile::PrintSize { QSizeF(8, 5), dpi }, QStringLiteral("text"),
                               [&](QPainter &painter, const QRectF &) {
                                   painter.setFont(font);
                                   height = painter.fontMetrics().ascent();
                                   width = painter.fontMetrics().horizontalAdvance(QStringLiteral("Magnitude"));
                               },
                               &error),
             qPrintable(error));
    // Ascent of about three quarters of the size; "Magnitude" some four ems.
    QVERIFY2(height >= 6 && height <= 11, qPrintable(QString::number(height)));
    QVERIFY2(width >= 30 && width <= 60, qPrintable(QString::number(width)));
}

void TestMap::theSequenceChartsAndAPlayedPlotAreSaved()
{
    search(four);
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    auto *page = window->findChild<QWidget *>(QStringLiteral("sequencePage"));
    plots->setCurrentWidget(page);
    QVERIFY(plots->showsPicture());
    QTemporaryDir dir;
    QString error;
    const QString path = dir.filePath(QStringLiteral("sequence.png"));
    QVERIFY2(plots->saveShown(path, { QSizeF(16, 10), 96 }, &error), qPrintable(error));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(605, 378));
    // Something is drawn: not one colour all over.
    QVERIFY(image.convertToFormat(QImage::Format_Indexed8).colorCount() > 2);
    // Played to a time, a plot that leaves later events out says up to when.
    auto *shown = window->findChild<ShownResult *>(QStringLiteral("shownResult"));
    shown->setTimeShown(QDateTime(QDate(2016, 11, 14), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    QVERIFY2(plots->plot(PlotsWidget::DepthHistogram)->notes().contains(
                 QStringLiteral("Events up to 2016-11-14 13:00 NZDT (Play Through Time)")),
             qPrintable(plots->plot(PlotsWidget::DepthHistogram)->notes().join(u'|')));
    shown->setTimeShown(HUGE_VAL);
    QVERIFY(!plots->plot(PlotsWidget::DepthHistogram)->notes().join(u'|').contains(QLatin1String("Play Through Time")));
}

void TestMap::saves_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("map PNG") << "map.png";
    QTest::newRow("map SVG") << "map.svg";
    QTest::newRow("plot PNG") << "plot.png";
    QTest::newRow("plot SVG") << "plot.svg";
}

void TestMap::saves()
{
    QFETCH(QString, name);
    search(four);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QString error;
    if (name.startsWith(QLatin1String("plot"))) {
        auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
        QVERIFY2(plots->save(PlotsWidget::FrequencyMagnitude, path, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (name.endsWith(QLatin1String(".png")))
            QCOMPARE(QImage::fromData(bytes, "PNG").size(), plots->plot(PlotsWidget::FrequencyMagnitude)->size());
        else
            QVERIFY(bytes.contains("<svg") && bytes.contains("Mc = 3.2 (maximum curvature + 0.2)"));
        return;
    }
    QVERIFY2(map()->save(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    if (name.endsWith(QLatin1String(".png"))) {
        const QImage image = QImage::fromData(bytes, "PNG");
        QCOMPARE(image.size(), map()->size());
        // The sea, and the legend's white box.
        QCOMPARE(image.pixelColor(image.width() - 2, image.height() / 2).isValid(), true);
        QCOMPARE(image.pixelColor(20, 12), QColor(Qt::white));
    } else {
        QVERIFY(bytes.contains("<svg"));
        QVERIFY(bytes.contains("Natural Earth"));
        QVERIFY(bytes.contains("<path"));
    }
    QVERIFY(!map()->save(dir.filePath(QStringLiteral("missing/map.png")), &error));
}

void TestMap::showMapIsRemembered()
{
    auto *dock = window->findChild<QDockWidget *>(QStringLiteral("mapDock"));
    QVERIFY(dock->isVisible());
    QAction *show = action(QStringLiteral("Show Map"));
    QVERIFY(show->isCheckable() && show->isChecked());
    show->trigger();
    QVERIFY(!dock->isVisible());
    QCOMPARE(QSettings().value(QStringLiteral("view/showMap")).toBool(), false);
    {
        MainAppWindow again;
        again.show();
        QVERIFY(!again.findChild<QDockWidget *>(QStringLiteral("mapDock"))->isVisible());
        QCOMPARE(again.size(), QSize(800, 500 + 260));   // the plots stay
    }
    show->trigger();
    QVERIFY(dock->isVisible());
    QCOMPARE(QSettings().value(QStringLiteral("view/showMap")).toBool(), true);
}

void TestMap::plotsShowTheSearch()
{
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    QVERIFY(plots && plots->isVisible());
    search(four);
    QCOMPARE(plots->eventCount(), 4);
    PlotCanvas *magnitudeTime = plots->plot(PlotsWidget::MagnitudeTime);
    QCOMPARE(magnitudeTime->notes(), QStringList({ "1 event without magnitude not shown", "1 event without depth in grey" }));
    QCOMPARE(plots->plot(PlotsWidget::DepthHistogram)->notes(), QStringList({ "1 event without depth not shown" }));
    QCOMPARE(plots->plot(PlotsWidget::FrequencyMagnitude)->notes().last(), QStringLiteral("1 event without magnitude not shown"));
    QVERIFY(plots->plot(PlotsWidget::FrequencyMagnitude)->notes().contains(
        QStringLiteral("No b-value: 2 events at or above Mc: at least 50 are needed for a b-value")));
    // A click on a dot selects the event in the tree and on the map.
    plots->showPlot(PlotsWidget::MagnitudeTime);
    QTest::mouseClick(magnitudeTime, Qt::LeftButton, {}, magnitudeTime->positionOf(1).toPoint());
    QCOMPARE(tree()->currentItem(), tree()->topLevelItem(1));
    QCOMPARE(map()->selectedEvent(), 1);
}

// The circles are drawn once per colour and size onto shared sheets, some
// while the reply is read: a map whose sprites were made ahead, for other
// events first, draws the same picture as one that makes them as it draws.
// A circle too big for any sprite is drawn as it is.
void TestMap::spritesMadeAheadDrawTheSame()
{
    const std::string id = "[1] Thu, 01 January 2026 at 13:00:00";
    std::vector<LocatedEvent> events;
    for (int i = 0; i < 60; ++i) {
        const float magnitude = i == 7 ? std::numeric_limits<float>::quiet_NaN() : 0.5f + 0.11f * i;
        const float depth = i == 9 ? std::numeric_limits<float>::quiet_NaN() : 5.3f * i;
        events.push_back({ &id, { -41.0f + 0.05f * i, 174.0f + 0.04f * i, depth, magnitude }, 0.0 });
    }
    std::vector<QuakeLocation> others;
    for (int i = 0; i < 40; ++i)
        others.push_back({ -40.0f, 175.0f, 7.7f * i, 7.3f - 0.13f * i });

    auto draw = [](const std::vector<LocatedEvent> *shown, const std::vector<QuakeLocation> &ahead) {
        ShownResult result;
        MapWidget map(&result);
        map.resize(600, 420);
        map.prepareFor(ahead);
        result.setEvents(shown);
        return map.grab().toImage();
    };
    std::vector<QuakeLocation> locations;
    for (const LocatedEvent &event : events)
        locations.push_back(event.location);
    std::vector<QuakeLocation> othersThenThese = others;
    othersThenThese.insert(othersThenThese.end(), locations.begin(), locations.end());

    const QImage asItDraws = draw(&events, {});
    QVERIFY(asItDraws != draw(nullptr, {}));
    QCOMPARE(draw(&events, othersThenThese), asItDraws);
    QCOMPARE(draw(&events, locations), asItDraws);

    // 212 px: its depth's faint disc over the middle of the map, over land
    // or sea (town names aside).
    const std::vector<LocatedEvent> big = { { &id, { -41.0f, 174.0f, 30.0f, 13.5f }, 0.0 } };
    const QImage bigCircle = draw(&big, {});
    QColor faint = EventScales::colourOf(30.0);
    faint.setAlpha(EventSymbol::FaintAlpha);
    std::vector<QRgb> wanted;
    for (const QRgb ground : { qRgb(239, 236, 226), qRgb(214, 229, 240) }) {
        QImage expected(1, 1, QImage::Format_ARGB32_Premultiplied);
        expected.fill(ground);
        QPainter(&expected).fillRect(expected.rect(), faint);
        wanted.push_back(expected.pixel(0, 0));
    }
    int inside = 0, tinted = 0;
    const QPoint centre = bigCircle.rect().center();
    for (int y = -150; y <= 150; y += 5) {
        for (int x = -150; x <= 150; x += 5) {
            if (x * x + y * y > 150 * 150)
                continue;
            ++inside;
            const QRgb pixel = bigCircle.pixel(centre + QPoint(x, y));
            tinted += std::any_of(wanted.begin(), wanted.end(), [pixel](QRgb w) {
                return std::abs(qRed(pixel) - qRed(w)) + std::abs(qGreen(pixel) - qGreen(w)) + std::abs(qBlue(pixel) - qBlue(w)) <= 6;
            }) ? 1 : 0;
        }
    }
    QVERIFY2(tinted > inside * 3 / 4, qPrintable(QStringLiteral("%1 of %2").arg(tinted).arg(inside)));
}

void TestMap::regionIsAskedForAndKept()
{
    // Christchurch, Ashburton (about 80 km away) and Wellington, whatever
    // the service was asked: only Christchurch lies within 50 km.
    const QByteArray three = document(quake("2026p000011", "-43.53", "172.64", "12", "4.0")
                                      + quake("2026p000012", "-43.90", "171.75", "250", "4.5")
                                      + quake("2026p000013", "-41.29", "174.78", "300", "5.0"));
    auto *kind = window->findChild<QComboBox *>(QStringLiteral("regionCtrl"));
    kind->setCurrentIndex(3);
    window->findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->setText(QStringLiteral("christchurch"));
    search(three);
    const QByteArray asked = server->requestTargets().last();
    QVERIFY2(asked.endsWith("&outputFormat=quakeml1.0&latitude=-43.53333&longitude=172.63333&maxRadiusKm=50"), asked);
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Retrieved 1 quake events matching search criteria within 50 km of Christchurch."));
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(map()->eventCount(), 1);
    // The map fits the circle searched, whole, not its one event.
    const GeoPoint christchurch { -43.53333, 172.63333 };
    double across = 1e9;
    for (int bearing = 0; bearing < 360; bearing += 30) {
        const QPointF edge = map()->positionOf(Geo::destination(christchurch, bearing, 50));
        QVERIFY2(QRectF(map()->rect()).contains(edge), qPrintable(QStringLiteral("bearing %1").arg(bearing)));
        if (bearing == 90)
            across = edge.x() - map()->positionOf(Geo::destination(christchurch, 270, 50)).x();
    }
    QVERIFY2(across > 0.6 * std::min(map()->width(), map()->height()), qPrintable(QString::number(across)));

    // Enter in the place searches again.
    const qsizetype searches = server->requestTargets().size();
    window->statusBar()->clearMessage();
    QTest::keyClick(window->findChild<QLineEdit *>(QStringLiteral("placeCtrl")), Qt::Key_Return);
    QTRY_COMPARE(server->requestTargets().size(), searches + 1);
    QTRY_VERIFY(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")));

    // Depths combine with it; a new window remembers both.
    window->findChild<QSpinBox *>(QStringLiteral("minDepthCtrl"))->setValue(200);
    delete window;
    window = new MainAppWindow;
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
    window->findChild<QDoubleSpinBox *>(QStringLiteral("radiusCtrl"))->setValue(500);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    search(three);
    QVERIFY2(server->requestTargets().last().endsWith("&minDepth=200&latitude=-43.53333&longitude=172.63333&maxRadiusKm=500"),
             server->requestTargets().last());
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Retrieved 2 quake events matching search criteria within 500 km of Christchurch, at least "
                            "200 km deep."));

    // A box drawn from just beyond one event to just beyond another has
    // them near its corners.
    window->findChild<QAction *>(QStringLiteral("actionClearRegion"))->trigger();
    search(four);
    const QPoint from = map()->positionOf(1).toPoint() + QPoint(-2, 2);   // Fiordland
    const QPoint to = map()->positionOf(3).toPoint() + QPoint(2, -2);     // East Cape
    QTest::mousePress(map(), Qt::LeftButton, Qt::ShiftModifier, from);
    QTest::mouseMove(map(), (from + to) / 2);
    QTest::mouseMove(map(), to);
    QTest::mouseRelease(map(), Qt::LeftButton, Qt::ShiftModifier, to);
    QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("regionCtrl"))->currentIndex(), 2);
    const QUrlQuery query(QUrl(window->queryString()));
    const QStringList box = query.queryItemValue(QStringLiteral("bbox")).split(u',');
    QCOMPARE(box.size(), 4);
    const double expected[4] = { 166.9, -45.5, 178.9, -37.55 };
    for (int i = 0; i < 4; ++i)
        QVERIFY2(std::abs(box[i].toDouble() - expected[i]) < 0.25, qPrintable(box.join(u',')));
    search(four);
    QCOMPARE(tree()->topLevelItemCount(), 3);   // not the Kermadecs

    // Go to Place puts a point in the middle of the map.
    QTimer::singleShot(0, this, [] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (dialog) {
            dialog->setTextValue(QStringLiteral("-45.5, 166.9"));   // Fiordland's event
            dialog->accept();
        }
    });
    window->findChild<QAction *>(QStringLiteral("actionGoToPlace"))->trigger();
    const QPointF middle = QRectF(map()->rect()).center() - map()->positionOf(0);   // the box's first
    QVERIFY2(middle.manhattanLength() < 2, qPrintable(QStringLiteral("%1,%2").arg(middle.x()).arg(middle.y())));
    // Zoomed in to the place, and marked.
    const SearchRegion::Box shown = map()->visibleBox();
    QVERIFY2(shown.width() < 8 && shown.north - shown.south < 8,
             qPrintable(QStringLiteral("%1 by %2 degrees").arg(shown.width()).arg(shown.north - shown.south)));
    QVERIFY(map()->markedPlace());
    QCOMPARE(map()->markedPlace()->first.latitude, -45.5);

    // A point picked on the map's menu is searched around.
    QTimer::singleShot(0, this, [] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QAction *around = menu->findChild<QAction *>(QStringLiteral("actionSearchAroundHere"));
        QVERIFY(around);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(around).center());
    });
    const QPoint picked = map()->positionOf(GeoPoint { -45.5, 166.9 }).toPoint();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, picked, map()->mapToGlobal(picked));
    QApplication::sendEvent(map(), &menuEvent);
    QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("regionCtrl"))->currentIndex(), 3);
    // And searched at once.
    QTRY_VERIFY(server->requestTargets().last().contains("&latitude=-45.5"));
    const QUrlQuery around(QUrl(window->queryString()));
    QVERIFY2(std::abs(around.queryItemValue(QStringLiteral("latitude")).toDouble() + 45.5) < 0.05
                 && std::abs(around.queryItemValue(QStringLiteral("longitude")).toDouble() - 166.9) < 0.05,
             qPrintable(window->queryString()));

    // One action clears it: the query is the plain five keys again.
    window->findChild<QAction *>(QStringLiteral("actionClearRegion"))->trigger();
    QVERIFY2(window->queryString().endsWith(QLatin1String("&outputFormat=quakeml1.0")), qPrintable(window->queryString()));
}

// A profile along the equator across 180, from A at 170°E to A′ at 170°W:
// the foot of an event's perpendicular on it is at the event's longitude,
// so its distance from A is R times the longitudes between them.
void TestMap::sectionPlacesEventsAlongItsProfile()
{
    const QByteArray six = document(quake("2026p000021", "0.0", "175.0", "10", "4.0")        // 5° from A
                                    + quake("2026p000022", "0.1", "-179.0", "100", "5.0")    // 11°, 11 km across
                                    + quake("2026p000023", "-0.2", "-175.0", "300", "3.0")   // 15°, 22 km across
                                    + quake("2026p000024", "0.5", "178.0", "20", "4.0")      // 56 km across
                                    + quake("2026p000025", "0.0", "168.0", "30", "4.0")      // before A
                                    + quake("2026p000026", "0.05", "176.0", "", "4.0"));
    search(six);
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    auto *plot = static_cast<SectionPlot *>(plots->plot(PlotsWidget::Section));
    QVERIFY(!plot->section());

    // Drawn on the map: the next drag, not a pan, lays the profile.
    window->findChild<QAction *>(QStringLiteral("actionDrawSection"))->trigger();
    QVERIFY(map()->isDrawingSection());
    const QPoint from = map()->positionOf(GeoPoint { 0, 174 }).toPoint();
    const QPoint to = map()->positionOf(GeoPoint { 0, 185 }).toPoint();
    QVERIFY2(map()->rect().contains(from) && map()->rect().contains(to), qPrintable(QStringLiteral("%1,%2 %3,%4 in %5x%6").arg(from.x()).arg(from.y()).arg(to.x()).arg(to.y()).arg(map()->width()).arg(map()->height())));
    const QPointF offsetBefore = map()->positionOf(0);
    QTest::mousePress(map(), Qt::LeftButton, {}, from);
    QTest::mouseMove(map(), (from + to) / 2);
    QTest::mouseMove(map(), to);
    QTest::mouseRelease(map(), Qt::LeftButton, {}, to);
    QCOMPARE(map()->positionOf(0), offsetBefore);
    QVERIFY(!map()->isDrawingSection());
    QVERIFY(plot->section());
    const double kmPerPixel = 1 / map()->scale();
    QVERIFY(Geo::distanceKm(plot->section()->a(), GeoPoint { 0, 174 }) < kmPerPixel);
    QVERIFY(Geo::distanceKm(plot->section()->b(), GeoPoint { 0, 185 }) < kmPerPixel);
    QVERIFY(plots->currentPlot() == PlotsWidget::Section);
    // The swath is outlined in the section's colour.
    const QImage drawn = map()->grab().toImage();
    int ink = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            ink += drawn.pixelColor(x, y) == QColor(150, 40, 130) ? 1 : 0;
    QVERIFY2(ink > 50, qPrintable(QString::number(ink)));

    // Remembered exactly; a new window shows the same section.
    QSettings().setValue(QStringLiteral("section/ends"), QVariantList { 0.0, 170.0, 0.0, -170.0 });
    delete window;
    window = new MainAppWindow;
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    search(six);
    plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    plots->showPlot(PlotsWidget::Section);
    plot = static_cast<SectionPlot *>(plots->plot(PlotsWidget::Section));
    QCOMPARE(plot->notes(), QStringList({ "3 events within 25 km of A\u2013A\u2032", "1 event without depth not shown" }));
    const double kmPerDegree = 6371 * M_PI / 180;
    const struct { int index; double alongKm, depthKm; } expected[] = { { 0, 5 * kmPerDegree, 10 },
                                                                         { 1, 11 * kmPerDegree, 100 },
                                                                         { 2, 15 * kmPerDegree, 300 } };
    QCOMPARE(plot->placed().size(), std::size_t(3));
    for (const auto &event : expected) {
        const auto placed = std::find_if(plot->placed().begin(), plot->placed().end(),
                                         [&](const SectionPlot::Placed &p) { return p.index == event.index; });
        QVERIFY(placed != plot->placed().end());
        QVERIFY2(std::abs(placed->alongKm - event.alongKm) < 1e-6, qPrintable(QString::number(placed->alongKm)));
        QCOMPARE(placed->depthKm, event.depthKm);
    }
    // One scale on both axes but for the stated factor: a kilometre down
    // is that many kilometres across.
    const QPointF first = plot->positionOf(0), last = plot->positionOf(2);
    const double across = (last.x() - first.x()) / (10 * kmPerDegree), down = (last.y() - first.y()) / 290;
    QVERIFY(plot->exaggeration() >= 1);
    QVERIFY2(std::abs(down / across - plot->exaggeration()) < 1e-9, qPrintable(QString::number(down / across)));
    QVERIFY(last.y() > first.y());   // deeper is lower

    // A click on a dot selects its event; a wider swath takes in the fourth.
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->positionOf(1).toPoint());
    QCOMPARE(tree()->currentItem(), tree()->topLevelItem(1));
    window->findChild<QSpinBox *>(QStringLiteral("sectionWidthCtrl"))->setValue(60);
    QCOMPARE(plot->placed().size(), std::size_t(4));
    QTemporaryDir folder;
    QString error;
    QVERIFY2(plots->save(PlotsWidget::Section, folder.filePath(QStringLiteral("section.svg")), &error), qPrintable(error));
}

QTEST_MAIN(TestMap)
#include "tst_map.moc"
