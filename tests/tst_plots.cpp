// The plots alone, offscreen: where their notes go, the frequency-magnitude
// plot's figures, the cumulative count's steps and the section's axes.

#include "app/beachball.h"
#include "app/depthplot.h"
#include "app/eventlist.h"
#include "app/eventlistmodel.h"
#include "app/mapwidget.h"
#include "app/frequencymagnitudeplot.h"
#include "app/magnitudetimeplot.h"
#include "app/sectionplot.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <cmath>
#include <memory>

class TestPlots : public QObject
{
    Q_OBJECT

private slots:
    void notesAreWhereNoDataIs_data();
    void notesAreWhereNoDataIs();
    void bValueShowsItsUncertainty_data();
    void bValueShowsItsUncertainty();
    void cumulativeCountRisesInSteps_data();
    void cumulativeCountRisesInSteps();
    void sectionAxesEndAtTheProfileAndTheDeepest_data();
    void sectionAxesEndAtTheProfileAndTheDeepest();
    void sectionMarksDepthsTheAgencyFixed();
    void everyViewReadsOneResult_data();
    void everyViewReadsOneResult();
    void beachballsFillTheCompressionalQuadrants_data();
    void beachballsFillTheCompressionalQuadrants();
};

namespace {

const std::string eventId = "e";

LocatedEvent located(double seconds, double magnitude, double depthKm, double latitude = -41, double longitude = 174)
{
    return { &eventId, { float(latitude), float(longitude), float(depthKm), float(magnitude) }, seconds };
}

// Pixels that are not white in a rectangle of an image.
int inked(const QImage &image, const QRect &rect)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += qGray(image.pixel(x, y)) < 250 ? 1 : 0;
    }
    return count;
}

} // namespace

void TestPlots::notesAreWhereNoDataIs_data()
{
    QTest::addColumn<QString>("plot");
    QTest::addColumn<std::vector<LocatedEvent>>("events");
    QTest::addColumn<int>("notes");
    const double day = 86400, start = 1.7e9;
    // As a user's small search gave: M0.9 to M1.7, too few above Mc for b,
    // one without a magnitude.
    std::vector<LocatedEvent> small;
    for (int i = 0; i < 9; ++i)
        small.push_back(located(start + i * day, 0.9 + 0.1 * i, 5 + i));
    small.push_back(located(start, std::nan(""), 5));
    QTest::newRow("frequency-magnitude, no b") << "fmd" << small << 2;
    // Activity that rises to the right, and a top-right-heavy cloud.
    std::vector<LocatedEvent> rising;
    for (int i = 0; i < 400; ++i)
        rising.push_back(located(start + std::sqrt(double(i)) * day, 1 + (i % 50) * 0.08, i % 3 == 0 ? std::nan("") : 10 + i % 40));
    QTest::newRow("magnitude-time") << "time" << rising << 1;
    QTest::newRow("depth, some without") << "depth" << rising << 1;
    // Magnitudes as Gutenberg and Richter's law gives them, b = 1 above M1.
    std::vector<LocatedEvent> lawful;
    for (int i = 0; i < 400; ++i)
        lawful.push_back(located(start + i * 60, std::round((1 - std::log10((i + 0.5) / 400)) * 10) / 10, 12));
    QTest::newRow("frequency-magnitude, with b") << "fmd" << lawful << 3;
}

// The notes' box covers nothing of the plot: drawn without its notes, the
// plot leaves the box white.
void TestPlots::notesAreWhereNoDataIs()
{
    QFETCH(QString, plot);
    QFETCH(std::vector<LocatedEvent>, events);
    QFETCH(int, notes);
    ShownResult shown;
    std::unique_ptr<PlotCanvas> canvas;
    if (plot == QLatin1String("fmd"))
        canvas = std::make_unique<FrequencyMagnitudePlot>(&shown);
    else if (plot == QLatin1String("time"))
        canvas = std::make_unique<MagnitudeTimePlot>(&shown);
    else
        canvas = std::make_unique<DepthPlot>(&shown);
    canvas->resize(640, 280);
    shown.setEvents(&events);
    QVERIFY2(canvas->notes().size() >= notes, qPrintable(canvas->notes().join(u'\n')));
    const QRectF area(0, 0, 640, 280);
    QImage drawn(640, 280, QImage::Format_RGB32);
    {
        QPainter painter(&drawn);
        painter.setFont(canvas->font());
        canvas->draw(painter, area, false);
    }
    const QRect box = canvas->notesBox(area).toAlignedRect();
    QVERIFY(box.height() >= notes * 10);
    QCOMPARE(inked(drawn, box), 0);
}

void TestPlots::bValueShowsItsUncertainty_data()
{
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("uncertainty");
    QTest::addColumn<QString>("text");
    QTest::newRow("two decimals") << 1.0234 << 0.1234 << QStringLiteral("b = 1.02 \u00B1 0.12");
    QTest::newRow("a small uncertainty") << 0.66123 << 0.00423 << QStringLiteral("b = 0.6612 \u00B1 0.0042");
    QTest::newRow("just under a tenth") << 0.8 << 0.0951 << QStringLiteral("b = 0.800 \u00B1 0.095");
    QTest::newRow("a large one") << 1.3 << 1.52 << QStringLiteral("b = 1.3 \u00B1 1.5");
    QTest::newRow("none") << 0.9 << 0.0 << QStringLiteral("b = 0.90 \u00B1 0.00");
}

void TestPlots::bValueShowsItsUncertainty()
{
    QFETCH(double, b);
    QFETCH(double, uncertainty);
    QFETCH(QString, text);
    QCOMPARE(FrequencyMagnitudePlot::bValueText(b, uncertainty), text);
}

void TestPlots::cumulativeCountRisesInSteps_data()
{
    QTest::addColumn<std::vector<double>>("seconds");
    QTest::addColumn<int>("most");
    QTest::addColumn<QList<QPointF>>("steps");
    QTest::newRow("none") << std::vector<double> {} << 4000 << QList<QPointF> {};
    // Three at 14:10 and one at 16:15: level between them.
    QTest::newRow("three at once, then one") << std::vector<double> { 100, 100, 100, 200 } << 4000
                                             << QList<QPointF> { { 100, 0 }, { 100, 3 }, { 200, 3 }, { 200, 4 } };
    QTest::newRow("one") << std::vector<double> { 5 } << 4000 << QList<QPointF> { { 5, 0 }, { 5, 1 } };
    // Two steps of at least two events each, the last whatever is left.
    QTest::newRow("more than the steps drawn") << std::vector<double> { 1, 2, 3, 4, 5 } << 2
                                               << QList<QPointF> { { 1, 0 }, { 2, 0 }, { 2, 2 }, { 4, 2 }, { 4, 4 },
                                                                   { 5, 4 }, { 5, 5 } };
}

void TestPlots::cumulativeCountRisesInSteps()
{
    QFETCH(std::vector<double>, seconds);
    QFETCH(int, most);
    QFETCH(QList<QPointF>, steps);
    const std::vector<QPointF> drawn = MagnitudeTimePlot::cumulativeSteps(seconds, std::size_t(most));
    QCOMPARE(QList<QPointF>(drawn.begin(), drawn.end()), steps);
}

void TestPlots::sectionAxesEndAtTheProfileAndTheDeepest_data()
{
    QTest::addColumn<double>("lengthDegrees");
    QTest::addColumn<double>("deepestKm");
    // Along the equator from 170° east: a long, shallow profile is
    // exaggerated; a short, deep one keeps one scale and ends short.
    QTest::newRow("620 km, 200 km deep") << 620 / 111.19 << 200.0;
    QTest::newRow("100 km, 750 km deep") << 100 / 111.19 << 750.0;
    QTest::newRow("1000 km, 30 km deep") << 1000 / 111.19 << 30.0;
}

void TestPlots::sectionAxesEndAtTheProfileAndTheDeepest()
{
    QFETCH(double, lengthDegrees);
    QFETCH(double, deepestKm);
    std::vector<LocatedEvent> events = { located(0, 3, 5, 0, 170), located(0, 4, deepestKm, 0, 170 + lengthDegrees / 2),
                                         located(0, 2, 15, 0, 170 + lengthDegrees * 0.999) };
    ShownResult shown;
    SectionPlot plot(&shown);
    plot.resize(600, 300);
    shown.setEvents(&events);
    shown.setSection(CrossSection({ 0, 170 }, { 0, 170 + lengthDegrees }, 25));
    QCOMPARE(plot.placed().size(), std::size_t(3));
    const QRectF frame = plot.frame();
    QVERIFY(frame.width() > 10 && frame.height() > 50);
    // The event at A′ on the frame's right, the deepest on its bottom.
    QVERIFY2(std::abs(plot.positionOf(2).x() - frame.right()) < 1,
             qPrintable(QStringLiteral("%1 against %2").arg(plot.positionOf(2).x()).arg(frame.right())));
    QVERIFY2(std::abs(plot.positionOf(1).y() - frame.bottom()) < 1,
             qPrintable(QStringLiteral("%1 against %2").arg(plot.positionOf(1).y()).arg(frame.bottom())));
    QVERIFY(std::abs(plot.positionOf(0).x() - frame.left()) < 1);
}

// Slab events to 200 km and two the agency held at 750 km and at 100 km:
// the depths end at the deepest located one, the deep fixed one is left
// out and said so, the other marked.
void TestPlots::sectionMarksDepthsTheAgencyFixed()
{
    const std::string fixedDeep = "fixed deep", fixedShallow = "fixed shallow";
    std::vector<LocatedEvent> events = { located(0, 3, 20, 0, 170.5), located(0, 4, 200, 0, 172),
                                         located(0, 5, 750, 0, 173), located(0, 3, 100, 0, 174) };
    events[2].eventId = &fixedDeep;
    events[3].eventId = &fixedShallow;
    ShownResult shown;
    SectionPlot plot(&shown);
    plot.resize(600, 300);
    shown.setSection(CrossSection({ 0, 170 }, { 0, 176 }, 25));
    shown.setEvents(&events);
    shown.setFixedDepths({ &fixedDeep, &fixedShallow });
    QCOMPARE(plot.placed().size(), std::size_t(3));
    QVERIFY(std::abs(plot.positionOf(1).y() - plot.frame().bottom()) < 1);
    QVERIFY(plot.positionOf(2).isNull());
    QCOMPARE(plot.notes(), QStringList({ "4 events within 25 km of A\u2013A\u2032", "1 event at a depth the agency fixed, barred",
                                         "1 event at a fixed depth beyond the located ones not shown" }));
}

QTEST_MAIN(TestPlots)
// Five events a day apart; the second and third in the first's cluster,
// the time shown cutting after the fourth. The map, the plots and the list
// read one result: the map and the plots leave out the hidden and the
// later, the list only the later (it shows a cluster's members beside
// their mainshock).
void TestPlots::everyViewReadsOneResult_data()
{
    QTest::addColumn<bool>("declustered");
    QTest::addColumn<double>("untilDays");
    QTest::addColumn<int>("drawn");
    QTest::addColumn<int>("listed");
    QTest::newRow("all") << false << HUGE_VAL << 5 << 5;
    QTest::newRow("declustered") << true << HUGE_VAL << 3 << 5;
    QTest::newRow("up to the fourth") << false << 3.5 << 4 << 4;
    QTest::newRow("both") << true << 3.5 << 2 << 4;
}

void TestPlots::everyViewReadsOneResult()
{
    QFETCH(bool, declustered);
    QFETCH(double, untilDays);
    QFETCH(int, drawn);
    QFETCH(int, listed);
    const double day = 86400, start = 1.7e9;
    std::vector<LocatedEvent> events;
    for (int i = 0; i < 5; ++i)
        events.push_back(located(start + i * day, 3 + 0.1 * i, 10 + i, -41 + 0.1 * i, 174));
    ShownResult shown;
    MapWidget map(&shown);
    DepthPlot depths(&shown);
    EventList list(&shown);
    map.resize(400, 300);
    shown.setEvents(&events);
    if (declustered)
        shown.setClusters({ 1, 1, 1, 2, 3 }, { 0, 0, 0, 3, 4 }, QStringLiteral("2 events in clusters (mainshocks shown)"));
    shown.setTimeShown(untilDays == HUGE_VAL ? HUGE_VAL : start + untilDays * day);
    int onMap = 0;
    for (int i = 0; i < 5; ++i)
        onMap += map.eventAt(map.positionOf(i)) == i ? 1 : 0;
    QCOMPARE(onMap, drawn);
    QCOMPARE(depths.shownCount(), drawn);
    QCOMPARE(list.model()->rowCount(), listed);
    QCOMPARE(list.model()->columnCount(), declustered ? int(EventListModel::DeclusteredCount) : int(EventListModel::ColumnCount));
    // A new result is shown whole and not declustered, whatever the last.
    shown.setEvents(&events);
    QCOMPARE(depths.shownCount(), untilDays == HUGE_VAL ? 5 : 4);
    QCOMPARE(list.model()->columnCount(), int(EventListModel::ColumnCount));
}

// A double couple from strike, dip and rake (Aki and Richards 2002, box
// 4.4): its beachball, 101 px across, is filled exactly where the ray's
// first motion is compressional, sign((γ·n)(γ·s)) with n the fault's normal
// and s its slip, away from the nodal planes; a thrust's centre is filled
// and its east and west white, a normal fault's the opposite.
void TestPlots::beachballsFillTheCompressionalQuadrants_data()
{
    QTest::addColumn<double>("strike");
    QTest::addColumn<double>("dip");
    QTest::addColumn<double>("rake");
    QTest::addColumn<int>("centre");   // 1 filled, 0 white, -1 on a nodal plane
    QTest::addColumn<int>("eastWest");
    QTest::addColumn<int>("northEast");   // and south-west
    QTest::newRow("thrust, striking north") << 0.0 << 45.0 << 90.0 << 1 << 0 << -1;
    QTest::newRow("normal, striking north") << 0.0 << 45.0 << -90.0 << 0 << 1 << -1;
    QTest::newRow("left-lateral, striking north") << 0.0 << 90.0 << 0.0 << -1 << -1 << 1;
    QTest::newRow("right-lateral, striking north") << 0.0 << 90.0 << 180.0 << -1 << -1 << 0;
    QTest::newRow("Kaikoura's oblique thrust") << 226.0 << 33.0 << 144.0 << -1 << -1 << -1;
}

void TestPlots::beachballsFillTheCompressionalQuadrants()
{
    QFETCH(double, strike);
    QFETCH(double, dip);
    QFETCH(double, rake);
    QFETCH(int, centre);
    QFETCH(int, eastWest);
    QFETCH(int, northEast);
    const double d = M_PI / 180, phi = strike * d, delta = dip * d, lambda = rake * d;
    const double n[3] = { -std::sin(delta) * std::sin(phi), std::sin(delta) * std::cos(phi), -std::cos(delta) };
    const double s[3] = { std::cos(lambda) * std::cos(phi) + std::cos(delta) * std::sin(lambda) * std::sin(phi),
                          std::cos(lambda) * std::sin(phi) - std::cos(delta) * std::sin(lambda) * std::cos(phi),
                          -std::sin(lambda) * std::sin(delta) };
    const Mechanism::NorthEastDown m { 2 * n[0] * s[0], n[0] * s[1] + n[1] * s[0], n[0] * s[2] + n[2] * s[0],
                                       2 * n[1] * s[1], n[1] * s[2] + n[2] * s[1], 2 * n[2] * s[2] };
    const int size = 101;
    const QColor fill(200, 30, 30);
    const QImage ball = Beachball::draw(m, size, fill);
    const double radius = size / 2.0 - 1;
    int compared = 0;
    for (int row = 0; row < size; row += 3) {
        for (int column = 0; column < size; column += 3) {
            const double x = (column + 0.5 - size / 2.0) / radius, y = (size / 2.0 - row - 0.5) / radius, r = std::hypot(x, y);
            if (r > 0.95)
                continue;
            // The ray of the pixel: equal-area, lower hemisphere.
            const double fromDown = 2 * std::asin(r / std::sqrt(2.0));
            const double g[3] = { r > 0 ? std::sin(fromDown) * y / r : 0, r > 0 ? std::sin(fromDown) * x / r : 0, std::cos(fromDown) };
            const double gn = g[0] * n[0] + g[1] * n[1] + g[2] * n[2], gs = g[0] * s[0] + g[1] * s[1] + g[2] * s[2];
            if (std::fabs(gn) < 0.08 || std::fabs(gs) < 0.08)
                continue;
            const bool filled = QColor(ball.pixel(column, row)) == fill;
            QVERIFY2(filled == (gn * gs > 0), qPrintable(QStringLiteral("pixel %1, %2").arg(column).arg(row)));
            ++compared;
        }
    }
    QVERIFY(compared > 500);
    const auto at = [&](double x, double y) { return QColor(ball.pixel(int(size / 2.0 + x * radius), int(size / 2.0 - y * radius))) == fill; };
    if (centre >= 0)
        QCOMPARE(at(0, 0), centre == 1);
    if (eastWest >= 0) {
        QCOMPARE(at(0.9, 0), eastWest == 1);
        QCOMPARE(at(-0.9, 0), eastWest == 1);
    }
    if (northEast >= 0) {
        QCOMPARE(at(0.6, 0.6), northEast == 1);
        QCOMPARE(at(-0.6, -0.6), northEast == 1);
        QCOMPARE(at(-0.6, 0.6), northEast == 0);
    }
    // Outside the ball, nothing.
    QCOMPARE(qAlpha(ball.pixel(0, 0)), 0);
}

#include "tst_plots.moc"
