// The map reads at a glance: the land shows between a year of events,
// small events stay in sight over large ones, towns are named without
// crowding, a scale bar gives the distance, and the legend folds away.

#include "app/mapwidget.h"
#include "app/shownresult.h"
#include "geo/eventscales.h"
#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QFile>
#include <QMouseEvent>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <deque>
#include <limits>

class TestMapReads : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().clear(); }

    void landShowsUnderAYearOfEvents_data();
    void landShowsUnderAYearOfEvents();
    void smallEventsStayOnTop();
    void townsAreNamedApart_data();
    void townsAreNamedApart();
    void scaleBarMeasuresKilometres_data();
    void scaleBarMeasuresKilometres();
    void legendFoldsWithAClick();
};

namespace {

const QRgb land = qRgb(239, 236, 226);

// GeoNet's 2024 events of MLv 3 or more, from the shipped rapid catalogue.
std::vector<LocatedEvent> yearOfEvents(std::deque<std::string> &ids)
{
    QFile file(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/MLNZ20_RapidEvents_2024.csv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<LocatedEvent> events;
    file.readLine();   // #ID,OT,Lat,Lon,Dep,NrStaMLv,NrStaMLNZ20,MLv,...
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() < 8 || fields.at(7).isEmpty() || fields.at(7).toDouble() < 3.0)
            continue;
        ids.push_back(fields.at(0).toStdString());
        events.push_back({ &ids.back(), { fields.at(2).toFloat(), fields.at(3).toFloat(), fields.at(4).toFloat(),
                                          fields.at(7).toFloat() } });
    }
    return events;
}

int landPixels(const QImage &image, const QRectF &outside)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == land && !outside.contains(x, y) ? 1 : 0;
    }
    return count;
}

} // namespace

void TestMapReads::landShowsUnderAYearOfEvents_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("the window's pane") << QSize(560, 320);
    QTest::newRow("a tall pane") << QSize(560, 700);
    QTest::newRow("a large map") << QSize(1000, 900);
}

void TestMapReads::landShowsUnderAYearOfEvents()
{
    QFETCH(QSize, size);
    std::deque<std::string> ids;
    const std::vector<LocatedEvent> events = yearOfEvents(ids);
    QVERIFY2(events.size() > 1500 && events.size() < 1800, qPrintable(QString::number(events.size())));
    ShownResult mapResult;
    MapWidget map(&mapResult);
    map.resize(size);
    mapResult.setEvents(&events);
    const QImage shown = map.grab().toImage();
    const QRectF legend = map.legendRect().adjusted(-1, -1, 1, 1);
    // The same view with every event the smallest dot there is.
    std::vector<LocatedEvent> smallest = events;
    for (LocatedEvent &event : smallest)
        event.location.magnitude = -5;
    mapResult.setEvents(&smallest, nullptr, true);
    const QImage dots = map.grab().toImage();
    const double visible = double(landPixels(shown, legend)) / landPixels(dots, legend);
    qInfo("%s: %.1f%% of the land shows, at %.3f px/km", QTest::currentDataTag(), 100 * visible, map.scale());
    QVERIFY2(visible >= 0.85, qPrintable(QString::number(visible)));
}

void TestMapReads::smallEventsStayOnTop()
{
    // An M1 at 300 km in the middle of an M6 at the surface, listed in
    // either order: the small one is drawn over the large one, and is the
    // one a click there finds.
    const std::string big = "[big]", small = "[small]";
    for (const bool smallFirst : { false, true }) {
        const LocatedEvent bigEvent { &big, { -41.0f, 174.0f, 0.0f, 6.0f } };
        const LocatedEvent smallEvent { &small, { -41.0f, 174.0f, 300.0f, 1.0f } };
        const std::vector<LocatedEvent> events = smallFirst ? std::vector<LocatedEvent> { smallEvent, bigEvent }
                                                            : std::vector<LocatedEvent> { bigEvent, smallEvent };
        ShownResult mapResult;
        MapWidget map(&mapResult);
        map.resize(600, 500);
        mapResult.setEvents(&events);
        const int smallIndex = smallFirst ? 0 : 1;
        const QImage image = map.grab().toImage();
        const QPoint centre = map.positionOf(smallIndex).toPoint();
        QCOMPARE(QColor(image.pixel(centre)), EventScales::depthColour(300));
        QCOMPARE(map.eventAt(centre), smallIndex);
        // The large one shows around it.
        const double radius = EventScales::radius(6) * EventScales::zoomFactor(map.scale());
        QVERIFY2(radius > 6, qPrintable(QString::number(radius)));
        QVERIFY(QColor(image.pixel(centre + QPoint(int(radius * 0.7), 0))) != EventScales::depthColour(300));
    }
}

void TestMapReads::townsAreNamedApart_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("kmAcross");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("the country") << QSize(560, 700) << 1600.0
                                 << QStringList({ "Auckland", "Wellington", "Christchurch", "Dunedin" });
    QTest::newRow("the lower North Island") << QSize(560, 700) << 300.0 << QStringList({ "Wellington", "Palmerston North" });
    QTest::newRow("a small map") << QSize(300, 240) << 1600.0 << QStringList({ "Wellington" });
}

void TestMapReads::townsAreNamedApart()
{
    QFETCH(QSize, size);
    QFETCH(double, kmAcross);
    QFETCH(QStringList, named);
    ShownResult mapResult;
    MapWidget map(&mapResult);
    map.resize(size);
    mapResult.setEvents(nullptr);
    map.showPlace(kmAcross > 1000 ? GeoPoint { -41.0, 174.0 } : GeoPoint { -40.8, 175.3 }, QString(), kmAcross);
    const std::vector<PlacesLayer::Label> labels = map.placeLabels();
    QStringList names;
    for (const PlacesLayer::Label &label : labels)
        names << label.name;
    for (const QString &name : named)
        QVERIFY2(names.contains(name), qPrintable(names.join(u',')));
    // Never over each other, the legend, the scale bar or outside the map;
    // no suburb beside its city.
    for (std::size_t i = 0; i < labels.size(); ++i) {
        QVERIFY(QRectF(map.rect()).contains(labels[i].box));
        QVERIFY2(!labels[i].box.intersects(map.legendRect()), qPrintable(labels[i].name));
        QVERIFY2(!labels[i].box.intersects(map.scaleBarRect()), qPrintable(labels[i].name));
        for (std::size_t j = i + 1; j < labels.size(); ++j) {
            QVERIFY2(!labels[i].box.intersects(labels[j].box), qPrintable(labels[i].name + u'/' + labels[j].name));
            QVERIFY(QLineF(labels[i].at, labels[j].at).length() >= 20);
        }
    }
    // A search around a village names it, small as it is.
    SearchRegion around;
    around.circle = SearchRegion::Circle { { -43.15589, 172.72975 }, 30 };   // Amberley, 1,105 people
    map.setRegion(around);
    names.clear();
    for (const PlacesLayer::Label &label : map.placeLabels())
        names << label.name;
    QVERIFY2(names.contains(QStringLiteral("Amberley")) || kmAcross < 1000, qPrintable(names.join(u',')));
}

void TestMapReads::scaleBarMeasuresKilometres_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("kmAcross");
    QTest::newRow("a country") << QSize(560, 700) << 1600.0;
    QTest::newRow("a region") << QSize(800, 600) << 300.0;
    QTest::newRow("a town") << QSize(400, 300) << 12.0;
}

void TestMapReads::scaleBarMeasuresKilometres()
{
    QFETCH(QSize, size);
    QFETCH(double, kmAcross);
    ShownResult mapResult;
    MapWidget map(&mapResult);
    map.resize(size);
    map.showPlace({ -41.29, 174.78 }, QString(), kmAcross);
    const double km = map.scaleBarKm();
    // A round number: 1, 2 or 5 times a power of ten.
    const double mantissa = km / std::pow(10.0, std::floor(std::log10(km) + 1e-9));
    QVERIFY2(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9,
             qPrintable(QString::number(km)));
    const double pixels = km * map.scale();
    QVERIFY2(pixels >= size.width() / 12.0 && pixels <= size.width() / 3.0, qPrintable(QString::number(pixels)));
    // The bar's length, laid across the middle of the map, is as many km on
    // the ground (haversine on the 6371 km sphere).
    const QPointF middle = QRectF(map.rect()).center();
    const GeoPoint a = map.pointAt(middle - QPointF(pixels / 2, 0)), b = map.pointAt(middle + QPointF(pixels / 2, 0));
    const double rad = M_PI / 180, dLat = (b.latitude - a.latitude) * rad, dLon = (b.longitude - a.longitude) * rad;
    const double h = std::pow(std::sin(dLat / 2), 2) + std::cos(a.latitude * rad) * std::cos(b.latitude * rad) * std::pow(std::sin(dLon / 2), 2);
    const double ground = 2 * 6371 * std::asin(std::sqrt(h));
    QVERIFY2(std::fabs(ground / km - 1) < 0.02, qPrintable(QStringLiteral("%1 km drawn, %2 km on the ground").arg(km).arg(ground)));
}

void TestMapReads::legendFoldsWithAClick()
{
    const std::string id = "[1]";
    const std::vector<LocatedEvent> events = { { &id, { -41.0f, 174.0f, 10.0f, 4.0f } } };
    {
        ShownResult mapResult;
        MapWidget map(&mapResult);
        map.resize(600, 500);
        mapResult.setEvents(&events);
        QSignalSpy clicked(&map, &MapWidget::eventClicked);
        const QRectF open = map.legendRect();
        QTest::mouseClick(&map, Qt::LeftButton, {}, open.center().toPoint());
        QVERIFY(map.isLegendFolded());
        QVERIFY(map.legendRect().height() < open.height() / 3 && map.legendRect().width() < open.width());
        // Where the legend was, the map shows again: none of its black
        // text or symbols is left outside the folded box.
        const QImage image = map.grab().toImage();
        QVERIFY(image.pixel(open.center().toPoint()) != qRgb(255, 255, 255));
        const QRect folded = map.legendRect().toAlignedRect();
        int left = 0;
        for (int y = int(open.top()); y < int(open.bottom()); ++y) {
            for (int x = int(open.left()); x < int(open.right()); ++x)
                left += !folded.contains(x, y) && qGray(image.pixel(x, y)) < 40 ? 1 : 0;
        }
        QCOMPARE(left, 0);
        QCOMPARE(clicked.count(), 0);
    }
    // Remembered, and a click unfolds it.
    ShownResult againResult;
    MapWidget again(&againResult);
    again.resize(600, 500);
    againResult.setEvents(&events);
    QVERIFY(again.isLegendFolded());
    QTest::mouseClick(&again, Qt::LeftButton, {}, again.legendRect().center().toPoint());
    QVERIFY(!again.isLegendFolded());
    // A long count widens the legend rather than being cut.
    const std::vector<LocatedEvent> three = { events[0], events[0], events[0] };
    againResult.setEvents(&three);
    againResult.setClusters({ 1, 1, 1 }, { 0, 0, 0 }, QString());
    QVERIFY(again.legendRect().width()
            >= QFontMetricsF(again.font()).horizontalAdvance(QStringLiteral("2 in clusters (mainshocks shown)")) + 16);
}

QTEST_MAIN(TestMapReads)
#include "tst_mapreads.moc"
