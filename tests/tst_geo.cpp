#include "geo/crosssection.h"
#include "geo/eventscales.h"
#include "geo/hitgrid.h"
#include "geo/landatlas.h"
#include "geo/mechanism.h"
#include "geo/places.h"
#include "geo/plateboundaries.h"
#include "geo/projection.h"
#include "geo/searchregion.h"
#include "geo/statistics.h"
#include "geo/ticks.h"
#include "geo/viewport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <QtTest>

// The map's widget-free parts: projection, land, places and scales, on the
// data that Harvix ships.
class TestGeo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void principalAxesOfGeoNetsTensors();
    void tensorInQuakeMLsAxes();
    void plateBoundariesAndTheirOverridingPlates_data();
    void plateBoundariesAndTheirOverridingPlates();
    void centres_data();
    void centres();
    void projection_data();
    void projection();
    void topoJson_data();
    void topoJson();
    void shippedLand_data();
    void shippedLand();
    void places_data();
    void places();
    void nearestPlaceIsTheNearest();
    void placesAUserTypes_data();
    void placesAUserTypes();
    void placesMissingOrBroken_data();
    void placesMissingOrBroken();
    void scales();
    void axisTicks_data();
    void axisTicks();
    void hitGridMissesNothingNear_data();
    void hitGridMissesNothingNear();
    void zoomKeepsThePlaceUnderThePointer_data();
    void zoomKeepsThePlaceUnderThePointer();
    void gutenbergRichter_data();
    void gutenbergRichter();
    void regionHoldsItsBounds_data();
    void regionHoldsItsBounds();
    void crossSectionPlacesEvents_data();
    void crossSectionPlacesEvents();

private:
    LandAtlas land;
    Places placeList;
};

void TestGeo::initTestCase()
{
    QString error;
    QVERIFY2(land.load(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/naturalearth"), &error), qPrintable(error));
    QVERIFY2(placeList.load(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/places/places.csv"), &error), qPrintable(error));
    QVERIFY2(placeList.loadTypedOnly(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/places/nz-localities.csv"), &error),
             qPrintable(error));
}

void TestGeo::centres_data()
{
    QTest::addColumn<QList<QPointF>>("points");    // longitude, latitude
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::newRow("none: New Zealand") << QList<QPointF> {} << -41.0 << 174.0;
    QTest::newRow("Taupo and Fiordland") << QList<QPointF> { { 176.0, -38.7 }, { 167.0, -45.5 } } << -42.1 << 171.5;
    // The Kermadecs east of 180° stay beside New Zealand.
    QTest::newRow("across 180") << QList<QPointF> { { 172.0, -40.0 }, { -178.0, -30.0 } } << -35.0 << 177.0;
    QTest::newRow("across 0") << QList<QPointF> { { -10.0, 10.0 }, { 20.0, 20.0 } } << 15.0 << 5.0;
}

void TestGeo::centres()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    std::vector<GeoPoint> geo;
    for (const QPointF &point : points)
        geo.push_back({ point.y(), point.x() });
    const Projection projection = Projection::centredOn(geo);
    QCOMPARE(projection.centreLatitude(), latitude);
    QCOMPARE(projection.centreLongitude(), longitude);
}

void TestGeo::projection_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<double>("east");    // km from the centre, -41, 174
    QTest::addColumn<double>("south");
    const double km = 6371.0 * 3.14159265358979323846 / 180;   // a degree of a great circle
    const double cosine = std::cos(41.0 * 3.14159265358979323846 / 180);
    QTest::newRow("centre") << -41.0 << 174.0 << 0.0 << 0.0;
    QTest::newRow("a degree north") << -40.0 << 174.0 << 0.0 << -km;
    QTest::newRow("a degree east, scaled") << -41.0 << 175.0 << km * cosine << 0.0;
    QTest::newRow("-178 lies east") << -41.0 << -178.0 << 8 * km * cosine << 0.0;
    QTest::newRow("a whole turn on") << -41.0 << 534.0 << 0.0 << 0.0;
}

void TestGeo::projection()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(double, east);
    QFETCH(double, south);
    const Projection projection(-41.0, 174.0);
    const QPointF at = projection.project(latitude, longitude);
    QVERIFY2(std::fabs(at.x() - east) < 1e-6 && std::fabs(at.y() - south) < 1e-6,
             qPrintable(QStringLiteral("%1, %2").arg(at.x()).arg(at.y())));
    const GeoPoint back = projection.unproject(at);
    QVERIFY(std::fabs(back.latitude - latitude) < 1e-9);
    QVERIFY(std::fabs(projection.unwrap(back.longitude) - projection.unwrap(longitude)) < 1e-9);
}

void TestGeo::topoJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("rings");    // or the error
    // Two arcs, the second used backwards; positions are deltas of a grid
    // scaled by 0.5 and moved by (100, -50).
    const QByteArray arcs = "\"transform\":{\"scale\":[0.5,0.5],\"translate\":[100,-50]},"
                            "\"arcs\":[[[0,0],[2,0],[0,2]],[[0,0],[0,2],[2,0]]]";
    QTest::newRow("a ring of two arcs") << "{\"type\":\"Topology\"," + arcs + ",\"objects\":{\"land\":{\"type\":"
                                           "\"GeometryCollection\",\"geometries\":[{\"type\":\"Polygon\",\"arcs\":[[0,-2]]}]}}}"
                                        << "100,-50 101,-50 101,-49 100,-49 100,-50";
    QTest::newRow("multipolygon") << "{\"type\":\"Topology\"," + arcs + ",\"objects\":{\"land\":{\"type\":\"MultiPolygon\","
                                     "\"arcs\":[[[0,-2]],[[1,-1]]]}}}"
                                  << "100,-50 101,-50 101,-49 100,-49 100,-50 | 100,-50 100,-49 101,-49 101,-50 100,-50";
    QTest::newRow("an arc that is not there") << "{\"type\":\"Topology\"," + arcs + ",\"objects\":{\"land\":{\"type\":"
                                                 "\"Polygon\",\"arcs\":[[0,5]]}}}"
                                              << "error: a polygon names an arc that is not there";
    QTest::newRow("not quantised") << QByteArray("{\"type\":\"Topology\",\"arcs\":[],\"objects\":{}}")
                                   << "error: the topology is not quantised (no transform)";
    QTest::newRow("GeoJSON") << QByteArray("{\"type\":\"FeatureCollection\"}") << "error: not a TopoJSON topology";
}

void TestGeo::topoJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, rings);
    std::vector<QPolygonF> read;
    QString error;
    if (!LandAtlas::readTopoJson(json, read, &error)) {
        QCOMPARE(QStringLiteral("error: ") + error, rings);
        return;
    }
    QStringList texts;
    for (const QPolygonF &ring : read) {
        QStringList points;
        for (const QPointF &point : ring)
            points << QStringLiteral("%1,%2").arg(point.x()).arg(point.y());
        texts << points.join(u' ');
    }
    QCOMPARE(texts.join(QStringLiteral(" | ")), rings);
}

void TestGeo::shippedLand_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<bool>("onLand");
    QTest::newRow("Taupo") << -38.68 << 176.08 << true;
    QTest::newRow("D'Urville Island") << -40.83 << 173.85 << true;
    QTest::newRow("Cook Strait") << -41.3 << 174.5 << false;
    QTest::newRow("Chatham Islands, west of 180") << -43.95 << -176.55 << true;
    QTest::newRow("Sydney") << -33.87 << 151.0 << true;
    QTest::newRow("Tasman Sea") << -38.0 << 160.0 << false;
    // Rings that cross 180°, and the one around the South Pole.
    QTest::newRow("Chukotka, east of 180") << 65.5 << -173.0 << true;
    QTest::newRow("Chukotka, west of 180") << 67.0 << 175.0 << true;
    QTest::newRow("Bering Strait") << 65.8 << -169.0 << false;
    QTest::newRow("Antarctica, near the pole") << -88.0 << 170.0 << true;
    QTest::newRow("Ross Ice Shelf, not land") << -80.0 << 180.0 << false;
    QTest::newRow("Antarctica, south of Africa") << -80.0 << 20.0 << true;
    QTest::newRow("Southern Ocean") << -60.0 << 170.0 << false;
}

void TestGeo::shippedLand()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(bool, onLand);
    // A ring may lie a turn away; none steps across the world but along a pole.
    bool found = false;
    for (const QPolygonF &ring : land.rings()) {
        for (const double turn : { -360.0, 0.0, 360.0 })
            found = found || ring.containsPoint(QPointF(longitude + turn, latitude), Qt::OddEvenFill);
        for (qsizetype i = 1; i < ring.size(); ++i)
            QVERIFY(std::fabs(ring[i].x() - ring[i - 1].x()) < 180
                    || (std::fabs(ring[i].y()) == 90 && ring[i].y() == ring[i - 1].y()));
    }
    QCOMPARE(found, onLand);
}

void TestGeo::places_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("catalogueName");   // as the gateway names it; the same near a town
    // Worked by hand (haversine, R = 6371 km) from data/places/places.csv.
    QTest::newRow("under Lake Taupo") << -38.80 << 175.90 << "20 km SW of Taupo" << QString();
    QTest::newRow("in Taupo") << -38.69 << 176.07 << "Within 5 km of Taupo" << QString();
    QTest::newRow("off East Cape") << -37.55 << 178.90 << "145 km NE of Gisborne" << QString();
    QTest::newRow("Fiordland") << -45.5 << 166.9 << "150 km NW of Invercargill" << QString();
    // Farther than 300 km from any town: named by its region, as GeoNet does.
    QTest::newRow("Kermadecs, far from any town") << -29.5 << -177.5 << QStringLiteral("960 km S of Nuku\u2018alofa")
                                                  << "Kermadec Islands region";
    QTest::newRow("Auckland Islands") << -50.7 << 166.1 << "505 km S of Invercargill" << "Auckland Islands region";
}

void TestGeo::places()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QString, text);
    QFETCH(QString, catalogueName);
    QCOMPARE(placeList.describe({ latitude, longitude }), text);
    QCOMPARE(placeList.catalogueName({ latitude, longitude }), catalogueName.isEmpty() ? text : catalogueName);
}

void TestGeo::placesAUserTypes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("found");     // name, country
    QTest::addColumn<double>("latitude");   // GeoNames'
    QTest::newRow("a village") << "Kaikoura" << "Kaikoura, NZ" << -42.41667;
    QTest::newRow("its macron") << "Kaikōura" << "Kaikoura, NZ" << -42.41667;
    QTest::newRow("any case") << "seddon" << "Seddon, NZ" << -41.66667;
    QTest::newRow("two words") << "Hanmer Springs" << "Hanmer Springs, NZ" << -42.51667;
    QTest::newRow("a plain apostrophe") << "Arthur's Pass" << "Arthur’s Pass, NZ" << -42.95;
    QTest::newRow("a town with its macron") << "Taupō" << "Taupo, NZ" << -38.68333;
    QTest::newRow("New Zealand's first") << "Wellington" << "Wellington, NZ" << -41.28664;
}

void TestGeo::placesAUserTypes()
{
    QFETCH(QString, typed);
    QFETCH(QString, found);
    QFETCH(double, latitude);
    const Places::Place *place = placeList.find(typed);
    QVERIFY(place);
    QCOMPARE(place->name + QStringLiteral(", ") + place->country, found);
    QVERIFY2(std::fabs(place->point.latitude - latitude) < 0.01, qPrintable(QString::number(place->point.latitude)));
    // Offered when typed, New Zealand's before the world's.
    const QStringList names = placeList.names();
    QVERIFY(names.contains(found));
    QVERIFY(names.indexOf(QStringLiteral("Wellington, NZ")) < names.indexOf(QStringLiteral("Welling, GB")));
    // A village names no event: the events near Kaikoura keep their town.
    QCOMPARE(placeList.describe({ -42.41667, 173.68333 }).contains(QLatin1String("Kaikoura")), false);
}

void TestGeo::placesMissingOrBroken_data()
{
    QTest::addColumn<QByteArray>("file");   // null for no file at all
    QTest::addColumn<bool>("loads");
    QFile shipped(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/places/places.csv"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = shipped.readAll().split('\n');
    lines[5000] = "Abu Dhabi,AE,not a latitude,54.37,603492";
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("broken at line 5001") << lines.join('\n') << false;
    QTest::newRow("only the header") << lines.first() + '\n' << true;
}

// A copy without its places, or with a broken file, names nothing and
// finds no town, but takes coordinates and never fails.
void TestGeo::placesMissingOrBroken()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("places.csv"));
    if (!file.isNull()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    Places places = placeList;
    QString error;
    QCOMPARE(places.load(path, &error), loads);
    QCOMPARE(error.isEmpty(), loads);
    QCOMPARE(places.size(), 0);
    double km = -1;
    QCOMPARE(places.nearest({ -41.29, 174.78 }, &km), nullptr);
    QCOMPARE(km, 0.0);
    QCOMPARE(places.describe({ 24.45, 54.37 }), QString());
    QCOMPARE(places.find(QStringLiteral("Abu Dhabi")), nullptr);
    QString name;
    const std::optional<GeoPoint> point = places.pointNamed(QStringLiteral("-41.29, 174.78"), &name);
    QVERIFY(point && point->latitude == -41.29 && point->longitude == 174.78);
    QVERIFY(places.names().isEmpty());
}

// The places found near a point, over the world and at its awkward
// points (the poles, 180 degrees), against every place's haversine
// distance: the nearest, small places only within their reach.
void TestGeo::nearestPlaceIsTheNearest()
{
    const std::vector<Places::Place> &all = placeList.all();
    QVERIFY(all.size() > 10000);
    QRandomGenerator random(20261209);
    std::vector<GeoPoint> points = { { 90, 0 }, { -90, 0 }, { -41, 180 }, { -41, -180 }, { 0, 179.99 }, { 89.5, 45 } };
    for (int i = 0; i < 3000; ++i) {
        // Half near New Zealand, half anywhere.
        points.push_back(i % 2 ? GeoPoint { -50 + 20 * random.generateDouble(), 160 + 30 * random.generateDouble() }
                               : GeoPoint { -90 + 180 * random.generateDouble(), -180 + 360 * random.generateDouble() });
    }
    const double rad = M_PI / 180;
    for (const GeoPoint &point : points) {
        double bestKm = HUGE_VAL;
        for (const Places::Place &place : all) {
            const double dLat = (place.point.latitude - point.latitude) * rad;
            const double dLon = (place.point.longitude - point.longitude) * rad;
            const double h = std::pow(std::sin(dLat / 2), 2)
                + std::cos(point.latitude * rad) * std::cos(place.point.latitude * rad) * std::pow(std::sin(dLon / 2), 2);
            const double km = 2 * 6371.0 * std::asin(std::min(1.0, std::sqrt(h)));
            if (place.population >= Places::SmallPopulation || km <= Places::SmallReachKm)
                bestKm = std::min(bestKm, km);
        }
        double km = 0;
        const Places::Place *found = placeList.nearest(point, &km);
        QVERIFY(found);
        QVERIFY2(std::fabs(km - bestKm) < 1e-6,
                 qPrintable(QStringLiteral("%1, %2: %3 at %4 km, the nearest at %5 km")
                                .arg(point.latitude).arg(point.longitude).arg(found->name).arg(km).arg(bestKm)));
    }
}

void TestGeo::scales()
{
    // One fixed scale: the same magnitude is the same size in every search.
    QVERIFY(std::fabs(EventScales::radius(2) - 4.0) < 0.01);
    QVERIFY(std::fabs(EventScales::radius(4) / EventScales::radius(2) - std::pow(10, 0.3)) < 1e-9);
    QCOMPARE(EventScales::radius(-3), 1.5);
    QCOMPARE(EventScales::depthColour(-2), EventScales::depthColour(0));
    QCOMPARE(EventScales::depthColour(650), EventScales::depthColour(300));
    QVERIFY(EventScales::depthColour(50) != EventScales::depthColour(150));
    QVERIFY(EventScales::noDepthColour() != EventScales::depthColour(0));
}

void TestGeo::axisTicks_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("about");
    QTest::addColumn<QList<double>>("ticks");
    QTest::newRow("depths to 23 km") << 0.0 << 23.0 << 5.0 << QList<double> { 0, 5, 10, 15, 20 };
    QTest::newRow("from 12 km, steps of 20") << 12.0 << 97.0 << 6.0 << QList<double> { 20, 40, 60, 80 };
    // Added up, 0.1 three times falls short of 0.3 and loses the last tick.
    QTest::newRow("tenths, the end kept") << 0.0 << 0.3 << 3.0 << QList<double> { 0, 0.1, 0.2, 0.3 };
    QTest::newRow("steps of 2.5") << 0.0 << 12.0 << 5.0 << QList<double> { 0, 2.5, 5, 7.5, 10 };
    QTest::newRow("one value") << 5.0 << 5.0 << 5.0 << QList<double> { 5 };
    QTest::newRow("the wrong way round") << 10.0 << 0.0 << 5.0 << QList<double> {};
    QTest::newRow("not a number") << 0.0 << std::nan("") << 5.0 << QList<double> {};
}

void TestGeo::axisTicks()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, about);
    QFETCH(QList<double>, ticks);
    const std::vector<double> got = Ticks::axisTicks(low, high, about);
    QCOMPARE(qsizetype(got.size()), ticks.size());
    for (qsizetype i = 0; i < ticks.size(); ++i)
        QVERIFY2(std::fabs(got[std::size_t(i)] - ticks[i]) < 1e-9, qPrintable(QString::number(got[std::size_t(i)])));
}

void TestGeo::gutenbergRichter_data()
{
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("aboveMc");   // events of magnitude >= 2.0 in the catalogue
    QTest::addColumn<bool>("hasB");
    QTest::newRow("b 1.0, 10,000 events") << 1.0 << 10000 << true;
    QTest::newRow("b 0.8, 10,000 events") << 0.8 << 10000 << true;
    QTest::newRow("40 events: no b") << 1.0 << 40 << false;
}

void TestGeo::gutenbergRichter()
{
    QFETCH(double, b);
    QFETCH(int, aboveMc);
    QFETCH(bool, hasB);
    // A synthetic Gutenberg-Richter catalogue (fixed seed) in 0.1 bins,
    // complete from 1.8 and thinning below, so that the most events lie
    // in the bin of 1.8 and Mc by maximum curvature is 2.0.
    QRandomGenerator random(42);
    std::vector<double> magnitudes;
    int above = 0;
    while (above < aboveMc) {
        const double continuous = 0.95 - std::log(1.0 - random.generateDouble()) / (b * std::log(10.0));
        const int bin = Statistics::binOf(continuous);
        if (bin < 18 && random.generateDouble() > std::pow(0.5, 18 - bin))
            continue;
        magnitudes.push_back(bin / 10.0);
        above += bin >= 20 ? 1 : 0;
    }
    const Statistics::GutenbergRichter fit = Statistics::gutenbergRichter(magnitudes);
    QVERIFY(fit.mc);
    QVERIFY2(std::fabs(*fit.mc - 2.0) <= 0.1 + 1e-9, qPrintable(QString::number(*fit.mc)));
    QCOMPARE(bool(fit.b), hasB);
    if (!hasB) {
        QVERIFY2(fit.whyNoB.startsWith(QStringLiteral("%1 events at or above Mc").arg(fit.aboveMc)), qPrintable(fit.whyNoB));
        return;
    }
    QVERIFY2(std::fabs(*fit.b - b) <= 0.05, qPrintable(QString::number(*fit.b)));
    // Shi and Bolt: about b / sqrt(n) for so many events.
    QVERIFY(fit.bUncertainty > 0.5 * b / std::sqrt(fit.aboveMc) && fit.bUncertainty < 2 * b / std::sqrt(fit.aboveMc));
    // The line goes through the count at Mc.
    QVERIFY(std::fabs(fit.a - *fit.b * *fit.mc - std::log10(double(fit.aboveMc))) < 1e-9);
    const Statistics::FrequencyMagnitude fmd = Statistics::frequencyMagnitude(magnitudes);
    QCOMPARE(fmd.cumulative.front(), int(magnitudes.size()));
    QCOMPARE(fmd.cumulative.at(std::size_t(20 - fmd.firstBin)), fit.aboveMc);
}

void TestGeo::hitGridMissesNothingNear_data()
{
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("reach");
    QList<QPointF> spread, cluster, line;
    QRandomGenerator random(7);
    for (int i = 0; i < 5000; ++i) {
        spread << QPointF(random.bounded(2000.0) - 1000, random.bounded(1500.0));
        // Most in one place, a few far off: cells sized by the extent.
        cluster << (i % 100 == 0 ? QPointF(random.bounded(3000.0), -random.bounded(3000.0))
                                 : QPointF(random.bounded(2.0), random.bounded(2.0)));
        line << QPointF(i * 0.3, 42);   // no height at all
    }
    QTest::newRow("spread, a circle's reach") << spread << 15.0;
    QTest::newRow("spread, zoomed far out") << spread << 4000.0;
    QTest::newRow("cluster") << cluster << 0.5;
    QTest::newRow("line") << line << 1.0;
    QTest::newRow("one point") << QList<QPointF>({ QPointF(5, 5) }) << 0.0;
    QTest::newRow("none") << QList<QPointF>() << 10.0;
}

void TestGeo::hitGridMissesNothingNear()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, reach);
    std::vector<std::uint32_t> kept;
    for (int i = 0; i < points.size(); i += 1 + (i % 7 == 3))   // a few left out
        kept.push_back(std::uint32_t(i));
    HitGrid grid;
    grid.build(kept, [&](std::uint32_t index) { return points[int(index)]; });
    QRandomGenerator random(11);
    for (int probe = 0; probe < 300; ++probe) {
        const QPointF at = probe < int(kept.size()) ? points[int(kept[std::size_t(probe)])] + QPointF(reach / 2, -reach / 3)
                                                    : QPointF(random.bounded(4000.0) - 2000, random.bounded(4000.0) - 2000);
        std::vector<std::uint32_t> visited;
        grid.near(at, reach, [&](std::uint32_t index) { visited.push_back(index); });
        std::sort(visited.begin(), visited.end());
        QVERIFY(std::adjacent_find(visited.begin(), visited.end()) == visited.end());   // each once
        for (const std::uint32_t index : kept) {
            const QPointF d = points[int(index)] - at;
            if (std::max(std::abs(d.x()), std::abs(d.y())) <= reach)
                QVERIFY2(std::binary_search(visited.begin(), visited.end(), index),
                         qPrintable(QStringLiteral("point %1 missed at probe %2").arg(index).arg(probe)));
        }
        for (const std::uint32_t index : visited)
            QVERIFY(std::binary_search(kept.begin(), kept.end(), index));
    }
}

void TestGeo::zoomKeepsThePlaceUnderThePointer_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<QPointF>("pointer");
    QTest::addColumn<double>("scale");
    QTest::newRow("in") << 1.25 << QPointF(100, 80) << 0.125;
    QTest::newRow("out") << 0.8 << QPointF(-20, 300) << 0.08;
    QTest::newRow("in past the nearest") << 1e9 << QPointF(10, 10) << 1e3;
    QTest::newRow("out past the farthest") << 1e-9 << QPointF(10, 10) << 1e-5;
}

void TestGeo::zoomKeepsThePlaceUnderThePointer()
{
    QFETCH(double, factor);
    QFETCH(QPointF, pointer);
    QFETCH(double, scale);
    Viewport viewport;
    viewport.fit(QRectF(-500, -400, 1000, 800), QRectF(0, 0, 100, 100));
    QCOMPARE(viewport.scale(), 0.1);
    QCOMPARE(viewport.toScreen(QPointF(0, 0)), QPointF(50, 50));
    const QPointF place = viewport.toKm(pointer);
    viewport.zoomAbout(pointer, factor);
    QCOMPARE(viewport.scale(), scale);
    const QPointF still = viewport.toScreen(place);
    QVERIFY2(std::abs(still.x() - pointer.x()) < 1e-6 && std::abs(still.y() - pointer.y()) < 1e-6,
             qPrintable(QStringLiteral("%1,%2").arg(still.x()).arg(still.y())));
}

void TestGeo::regionHoldsItsBounds_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<double>("latitude");    // NaN: none
    QTest::addColumn<double>("longitude");
    QTest::addColumn<double>("depth");
    QTest::addColumn<bool>("inside");
    const double none = std::nan("");

    struct Row { const char *name; const char *keys; double latitude, longitude, depth; bool inside; };
    const Row rows[] = {
        // West east of east: across 180.
        { "across 180, west > east: near 180", "bbox=170,-50,-170,-30", -40, 179.9, 5, true },
        { "across 180, west > east: east of 180", "bbox=170,-50,-170,-30", -40, -175, 5, true },
        { "across 180, west > east: on 180", "bbox=170,-50,-170,-30", -40, 180, 5, true },
        { "across 180, west > east: on -180", "bbox=170,-50,-170,-30", -40, -180, 5, true },
        { "across 180, west > east: on the west", "bbox=170,-50,-170,-30", -40, 170, 5, true },
        { "across 180, west > east: on the east", "bbox=170,-50,-170,-30", -40, -170, 5, true },
        { "across 180, west > east: west of it", "bbox=170,-50,-170,-30", -40, 169.999, 5, false },
        { "across 180, west > east: east of it", "bbox=170,-50,-170,-30", -40, -169.999, 5, false },
        { "across 180, west > east: far side", "bbox=170,-50,-170,-30", -40, 0, 5, false },
        { "across 180, west > east: on the south", "bbox=170,-50,-170,-30", -50, 175, 5, true },
        { "across 180, west > east: south of it", "bbox=170,-50,-170,-30", -50.001, 175, 5, false },
        { "across 180, west > east: on the north", "bbox=170,-50,-170,-30", -30, 175, 5, true },
        { "across 180, west > east: north of it", "bbox=170,-50,-170,-30", -29.999, 175, 5, false },
        // East beyond 180, as GeoNet writes New Zealand's box.
        { "east beyond 180: on the east", "bbox=163.95,-49.18,182.63,-32.02", -40, -177.37, 5, true },
        { "east beyond 180: east of it", "bbox=163.95,-49.18,182.63,-32.02", -40, -177.36, 5, false },
        { "east beyond 180: Wellington", "bbox=163.95,-49.18,182.63,-32.02", -41.29, 174.78, 5, true },
        { "east beyond 180: on the west", "bbox=163.95,-49.18,182.63,-32.02", -40, 163.95, 5, true },
        { "east beyond 180: west of it", "bbox=163.95,-49.18,182.63,-32.02", -40, 163.94, 5, false },
        { "east beyond 180: on the north", "bbox=163.95,-49.18,182.63,-32.02", -32.02, 170, 5, true },
        { "plain box: inside", "bbox=172,-44,173,-43", -43.5, 172.5, 5, true },
        { "plain box: east of it", "bbox=172,-44,173,-43", -43.5, 173.0001, 5, false },
        { "wider than 360: anywhere", "bbox=-200,-90,200,90", 89, -179, 5, true },
        { "box: no position", "bbox=172,-44,173,-43", none, none, 5, false },
        { "box: no depth needed", "bbox=172,-44,173,-43", -43.5, 172.5, none, true },
        { "depth: on the top", "minDepth=100&maxDepth=300", -40, 175, 100, true },
        { "depth: on the bottom", "minDepth=100&maxDepth=300", -40, 175, 300, true },
        { "depth: above", "minDepth=100&maxDepth=300", -40, 175, 99.999, false },
        { "depth: below", "minDepth=100&maxDepth=300", -40, 175, 300.001, false },
        { "depth: none", "minDepth=100&maxDepth=300", -40, 175, none, false },
        { "depth: only a top", "minDepth=100", none, none, 1000, true },
        { "depth: only a bottom, none", "maxDepth=10", -40, 175, none, false },
        { "circle: its centre", "latitude=-30&longitude=179.5&maxRadiusKm=200", -30, 179.5, 5, true },
        { "circle: no position", "latitude=-30&longitude=179.5&maxRadiusKm=200", none, none, 5, false },
        { "all: inside each", "bbox=170,-50,-170,-30&minDepth=0&maxDepth=50&latitude=-30&longitude=179.5&maxRadiusKm=200",
          -30.5, -179.8, 20, true },
        { "all: too deep", "bbox=170,-50,-170,-30&minDepth=0&maxDepth=50&latitude=-30&longitude=179.5&maxRadiusKm=200",
          -30.5, -179.8, 60, false },
        { "all: outside the circle", "bbox=170,-50,-170,-30&maxDepth=50&latitude=-30&longitude=179.5&maxRadiusKm=200",
          -40, 179.5, 20, false },
        { "all: outside the box", "bbox=170,-30,-170,-10&latitude=-30&longitude=179.5&maxRadiusKm=200",
          -30.5, 179.5, 20, false },
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.keys) << row.latitude << row.longitude << row.depth << row.inside;

    // Circles around a point near 180 and one at -179.9, east, west, north
    // and south, a metre inside and a metre outside.
    for (const double centreLongitude : { 179.5, -179.9 }) {
        const QString keys = QStringLiteral("latitude=-30&longitude=%1&maxRadiusKm=200").arg(centreLongitude);
        for (const double bearing : { 90.0, 270.0, 0.0, 180.0, 45.0 }) {
            for (const double metres : { -1.0, 1.0 }) {
                const GeoPoint at = Geo::destination({ -30, centreLongitude }, bearing, 200 + metres / 1000);
                QTest::addRow("circle at %g, bearing %g, %+g m", centreLongitude, bearing, metres)
                    << keys << at.latitude << Geo::periodicLongitude(at.longitude) << 5.0 << (metres < 0);
            }
        }
    }
}

void TestGeo::regionHoldsItsBounds()
{
    QFETCH(QString, keys);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(double, depth);
    QFETCH(bool, inside);
    const Parsed<SearchRegion> parsed = SearchRegion::parse(QUrlQuery(keys));
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    const auto given = [](double value) { return std::isnan(value) ? std::nullopt : std::optional<double>(value); };
    QCOMPARE(parsed.value->contains(given(latitude), given(longitude), given(depth)), inside);
    // The keys it writes are read back as the same region.
    const Parsed<SearchRegion> again = SearchRegion::parse(QUrlQuery(parsed.value->queryKeys().mid(1)));
    QVERIFY(again.value && *again.value == *parsed.value);
    // Whatever lies inside lies inside one of the envelopes a database narrows by.
    if (inside) {
        for (const SearchRegion::Box &box : parsed.value->envelopes())
            QVERIFY(box.contains(latitude, longitude));
    }
}

void TestGeo::crossSectionPlacesEvents_data()
{
    QTest::addColumn<double>("aLatitude");
    QTest::addColumn<double>("aLongitude");
    QTest::addColumn<double>("bLatitude");
    QTest::addColumn<double>("bLongitude");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<double>("along");    // km, by hand
    QTest::addColumn<double>("across");
    QTest::addColumn<bool>("held");       // with a half-width of 25 km

    const double km = 6371.0 * M_PI / 180;   // a degree of great circle
    // Along the equator the foot of an event is its longitude, and its
    // distance across its latitude (north is on the left going east).
    QTest::newRow("equator, north of the middle") << 0.0 << 0.0 << 0.0 << 10.0 << 1.0 << 5.0 << 5 * km << 1 * km << false;
    QTest::newRow("equator, just south") << 0.0 << 0.0 << 0.0 << 10.0 << -0.2 << 5.0 << 5 * km << -0.2 * km << true;
    QTest::newRow("equator, behind A") << 0.0 << 0.0 << 0.0 << 10.0 << 0.0 << -1.0 << -1 * km << 0.0 << false;
    QTest::newRow("equator, on A'") << 0.0 << 0.0 << 0.0 << 10.0 << 0.0 << 10.0 << 10 * km << 0.0 << true;
    QTest::newRow("equator across 180") << 0.0 << 170.0 << 0.0 << -170.0 << -0.1 << 179.5 << 9.5 * km << -0.1 * km << true;
    QTest::newRow("equator across 180, east of it") << 0.0 << 170.0 << 0.0 << -170.0 << 0.1 << -171.0 << 19 * km << 0.1 * km
                                                    << true;
    // Northwards along a meridian: the foot's latitude is
    // atan(tan(latitude) / cos(dLongitude)), the distance across
    // asin(cos(latitude) sin(dLongitude)), east on the right.
    const double r = M_PI / 180;
    const double foot = std::atan(std::tan(-35 * r) / std::cos(0.5 * r)) / r;
    const double aside = std::asin(std::cos(-35 * r) * std::sin(0.5 * r)) / r;
    QTest::newRow("meridian, east of it") << -40.0 << 175.0 << -30.0 << 175.0 << -35.0 << 175.5 << (foot + 40) * km
                                          << -aside * km << false;
    QTest::newRow("meridian, near it") << -40.0 << 175.0 << -30.0 << 175.0 << -35.0 << 174.9 << (std::atan(std::tan(-35 * r) / std::cos(0.1 * r)) / r + 40) * km
                                       << std::asin(std::cos(-35 * r) * std::sin(0.1 * r)) / r * km << true;
}

void TestGeo::crossSectionPlacesEvents()
{
    QFETCH(double, aLatitude);
    QFETCH(double, aLongitude);
    QFETCH(double, bLatitude);
    QFETCH(double, bLongitude);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(double, along);
    QFETCH(double, across);
    QFETCH(bool, held);
    const CrossSection section({ aLatitude, aLongitude }, { bLatitude, bLongitude }, 25);
    const CrossSection::Offset offset = section.offsetOf({ latitude, longitude });
    QVERIFY2(std::abs(offset.alongKm - along) < 1e-6 && std::abs(offset.acrossKm - across) < 1e-6,
             qPrintable(QStringLiteral("%1 along, %2 across").arg(offset.alongKm, 0, 'f', 6).arg(offset.acrossKm, 0, 'f', 6)));
    QCOMPARE(section.holds(offset), held);
    // The swath's edge lies the half-width from the arc, and runs on across 180.
    const std::vector<GeoPoint> edge = section.outline();
    for (std::size_t i = 0; i + 1 < edge.size(); ++i) {
        QVERIFY(std::abs(std::abs(section.offsetOf(edge[i]).acrossKm) - 25) < 1e-6);
        QVERIFY(std::abs(edge[i + 1].longitude - edge[i].longitude) < 90);
    }
}

QTEST_APPLESS_MAIN(TestGeo)
namespace {

// The eigenvalues of a symmetric 3x3 matrix in closed form (Smith 1961),
// largest first.
std::array<double, 3> eigenvalues(const Mechanism::NorthEastDown &m)
{
    const double p1 = m.xy * m.xy + m.xz * m.xz + m.yz * m.yz;
    const double q = (m.xx + m.yy + m.zz) / 3;
    const double p2 = (m.xx - q) * (m.xx - q) + (m.yy - q) * (m.yy - q) + (m.zz - q) * (m.zz - q) + 2 * p1;
    const double p = std::sqrt(p2 / 6);
    if (p == 0)
        return { q, q, q };
    const double b[3][3] = { { (m.xx - q) / p, m.xy / p, m.xz / p }, { m.xy / p, (m.yy - q) / p, m.yz / p },
                             { m.xz / p, m.yz / p, (m.zz - q) / p } };
    const double r = (b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) - b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0])
                      + b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0])) / 2;
    const double phi = std::acos(std::clamp(r, -1.0, 1.0)) / 3;
    const double first = q + 2 * p * std::cos(phi), third = q + 2 * p * std::cos(phi + 2 * M_PI / 3);
    return { first, 3 * q - first - third, third };
}

// An axis's direction as a unit vector (north, east, down).
std::array<double, 3> directionOf(double plunge, double azimuth)
{
    const double d = M_PI / 180;
    return { std::cos(plunge * d) * std::cos(azimuth * d), std::cos(plunge * d) * std::sin(azimuth * d), std::sin(plunge * d) };
}

// The angle between two axes, either way along them, in degrees.
double angleBetween(const std::array<double, 3> &a, const std::array<double, 3> &b)
{
    return std::acos(std::min(1.0, std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]))) * 180 / M_PI;
}

} // namespace

// Every solution of GeoNet's file: the axes' values are the tensor's
// eigenvalues (worked out here in closed form), T the largest and P the
// smallest, and their directions those the file gives to within its
// rounding. The file's values of T and P are swapped in some Method 1 rows
// (their directions are right): the axes come from the tensor.
void TestGeo::principalAxesOfGeoNetsTensors()
{
    QFile file(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/GeoNet_CMT_solutions.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> header = file.readLine().trimmed().split(',');
    const auto column = [&header](const char *name) { return int(header.indexOf(QByteArray(name))); };
    int rows = 0, swapped = 0;
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().trimmed().split(',');
        if (f.size() != header.size())
            continue;
        const auto value = [&](const char *name) { return f.at(column(name)).toDouble(); };
        const Mechanism::NorthEastDown m { value("Mxx"), value("Mxy"), value("Mxz"), value("Myy"), value("Myz"), value("Mzz") };
        const Mechanism::PrincipalAxes axes = Mechanism::principalAxes(m);
        const std::array<double, 3> expected = eigenvalues(m);
        const double scale = std::max({ std::fabs(expected[0]), std::fabs(expected[2]), 1e-9 });
        QVERIFY2(std::fabs(axes.t.value - expected[0]) < 1e-9 * scale && std::fabs(axes.n.value - expected[1]) < 1e-9 * scale
                     && std::fabs(axes.p.value - expected[2]) < 1e-9 * scale,
                 f.at(0).constData());
        QVERIFY(axes.t.plunge >= 0 && axes.t.plunge <= 90 && axes.p.azimuth >= 0 && axes.p.azimuth < 360);
        // Directions: within the file's rounding, a little more where two
        // eigenvalues are close and the axes between them ill-defined.
        const bool distinct = (expected[0] - expected[1]) > 0.05 * scale && (expected[1] - expected[2]) > 0.05 * scale;
        if (distinct) {
            QVERIFY2(angleBetween(directionOf(axes.t.plunge, axes.t.azimuth), directionOf(value("Tpl"), value("Taz"))) < 3,
                     f.at(0).constData());
            QVERIFY2(angleBetween(directionOf(axes.p.plunge, axes.p.azimuth), directionOf(value("Ppl"), value("Paz"))) < 3,
                     f.at(0).constData());
        }
        swapped += value("Tva") < value("Pva") ? 1 : 0;
        ++rows;
    }
    QCOMPARE(rows, 3691);
    QCOMPARE(swapped, 447);
}

// QuakeML's up-south-east tensor from GeoNet's north-east-down one, in
// N·m, and the scalar moment and Mw of Kaikoura's solution.
void TestGeo::tensorInQuakeMLsAxes()
{
    const Mechanism::NorthEastDown m { 1, 2, 3, 4, 5, 6 };
    const Mechanism::UpSouthEast use = Mechanism::toUpSouthEast(m);
    QCOMPARE(use.rr, 6.0);
    QCOMPARE(use.tt, 1.0);
    QCOMPARE(use.pp, 4.0);
    QCOMPARE(use.rt, 3.0);
    QCOMPARE(use.rp, -5.0);
    QCOMPARE(use.tp, -2.0);
    // A pure double couple of moment M0 has eigenvalues M0, 0, -M0.
    const Mechanism::NorthEastDown couple { 0, 2.5, 0, 0, 0, 0 };
    QCOMPARE(Mechanism::scalarMoment(couple), 2.5);
    QVERIFY(std::fabs(Mechanism::momentMagnitude(std::pow(10.0, 1.5 * 7.8 + 9.05)) - 7.8) < 1e-12);
}

// Bird's boundaries as published (229 segments, 6,048 points), and the
// plate that overrides where one subducts, as the tectonics of these
// margins has it: the Pacific under Tonga and, at Hikurangi, under Bird's
// Kermadec plate; the Australian under the Pacific at Puysegur; none at
// the Alpine Fault, a transform.
void TestGeo::plateBoundariesAndTheirOverridingPlates_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QString>("overriding");
    QTest::newRow("Tonga") << -20.0 << -173.5 << "TO";
    QTest::newRow("Hikurangi") << -39.5 << 178.6 << "KE";
    QTest::newRow("Puysegur") << -47.5 << 165.5 << "PA";
    QTest::newRow("the Alpine Fault") << -43.0 << 171.0 << "";
}

void TestGeo::plateBoundariesAndTheirOverridingPlates()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QString, overriding);
    PlateBoundaries boundaries;
    QString error;
    QVERIFY2(boundaries.load(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/tectonics/PB2002_boundaries.dig.txt"), &error),
             qPrintable(error));
    QCOMPARE(boundaries.segments().size(), std::size_t(229));
    QCOMPARE(boundaries.pointCount(), std::size_t(6048));
    // The segment nearest the point.
    const PlateBoundaries::Segment *nearest = nullptr;
    double least = HUGE_VAL;
    for (const PlateBoundaries::Segment &segment : boundaries.segments()) {
        for (const GeoPoint &point : segment.points) {
            const double distance = Geo::distanceKm(point, { latitude, longitude });
            if (distance < least) {
                least = distance;
                nearest = &segment;
            }
        }
    }
    QVERIFY(nearest && least < 150);
    const QString found = nearest->overriding == PlateBoundaries::Side::Left ? nearest->left
                        : nearest->overriding == PlateBoundaries::Side::Right ? nearest->right : QString();
    QCOMPARE(found, overriding);
}

#include "tst_geo.moc"
