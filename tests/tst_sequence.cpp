// A sequence studied: the Omori-Utsu fit on sequences simulated with known
// parameters, the forecast, b over time, Gardner and Knopoff's window
// against their published table, and declustering of a hand-made set and
// of the shipped catalogue. Every figure is worked out here apart from the
// code under test.

#include "geo/decluster.h"
#include "geo/omori.h"
#include "geo/projection.h"
#include "geo/sequencestudy.h"
#include "geo/sequencewindow.h"
#include "geo/statistics.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <map>

class TestSequence : public QObject
{
    Q_OBJECT

private slots:
    void omoriRecoversASimulatedSequence_data();
    void omoriRecoversASimulatedSequence();
    void forecastFollowsTheFit();
    void aFlatRateIsNoDecay();
    void bOverTimeWindows();
    void mcOverTimeWindows_data();
    void mcOverTimeWindows();
    void windowMatchesThePublishedTable_data();
    void windowMatchesThePublishedTable();
    void studyTakesTheWindowsEvents();
    void gardnerKnopoffOnAHandMadeSet();
    void gardnerKnopoffOnTheShippedCatalogue();
    void nearestNeighboursOnAHandMadeSet();
    void mixtureThresholdOfAKnownMixture();
    void nearestNeighboursOnTheShippedCatalogue();
    void nearestNeighbourRules_data();
    void nearestNeighbourRules();
    void binningAndCorrectionAreRules_data();
    void binningAndCorrectionAreRules();
    void uhrhammersWindow();
};

namespace {

// A non-homogeneous Poisson process of rate K (t + c)^-p over (0, days]:
// a unit-rate process's arrivals mapped through the inverse of the
// integrated rate, K ((t + c)^(1-p) - c^(1-p)) / (1 - p), or K ln(1 + t/c).
std::vector<double> simulate(double K, double c, double p, double days, quint32 seed)
{
    QRandomGenerator random(seed);
    const double total = p == 1 ? K * std::log((days + c) / c)
                                : K * (std::pow(days + c, 1 - p) - std::pow(c, 1 - p)) / (1 - p);
    std::vector<double> times;
    double s = 0;
    for (;;) {
        s += -std::log(1 - random.generateDouble());
        if (s > total)
            break;
        times.push_back(p == 1 ? c * std::exp(s / K) - c
                               : std::pow(std::pow(c, 1 - p) + (1 - p) * s / K, 1 / (1 - p)) - c);
    }
    return times;
}

// Aki and Utsu's b of binned magnitudes at or above mc, worked out plainly.
double akiUtsu(const std::vector<double> &magnitudes, double mc)
{
    double sum = 0;
    int n = 0;
    for (const double m : magnitudes) {
        const double binned = std::floor(m * 10 + 0.5 + 1e-4) / 10;
        if (binned >= mc - 1e-9) {
            sum += binned;
            ++n;
        }
    }
    return std::log10(std::exp(1.0)) / (sum / n - (mc - 0.05));
}

// Gutenberg-Richter magnitudes of a given b above m0, to tenths.
std::vector<double> magnitudesOf(int count, double b, double m0, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<double> magnitudes;
    for (int i = 0; i < count; ++i)
        magnitudes.push_back(std::round((m0 - 0.05 - std::log10(1 - random.generateDouble()) / b) * 10) / 10);
    return magnitudes;
}

// GeoNet's 2024 to 2026 events of MLv 3 or more, in time order.
std::vector<QuakePoint> shipped()
{
    std::vector<QuakePoint> events;
    for (const char *year : { "2024", "2025", "2026" }) {
        QFile file(QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/MLNZ20_RapidEvents_%1.csv").arg(QLatin1String(year)));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> f = file.readLine().trimmed().split(',');
            if (f.size() < 8 || f.at(7).isEmpty() || f.at(7).toDouble() < 3.0)
                continue;
            const QDateTime time = QDateTime::fromString(QString::fromLatin1(f.at(1)), Qt::ISODateWithMs);
            events.push_back({ time.toMSecsSinceEpoch() / 1000.0, f.at(2).toDouble(), f.at(3).toDouble(), f.at(7).toDouble(),
                               f.at(0).toStdString() });
        }
    }
    SequenceStudy::sortByTime(events);
    return events;
}

// Zaliapin and Ben-Zion's distance, worked out plainly: years (a second at
// least) times km^1.6 (0.1 km at least) times 10^-m of the parent.
double etaOf(const QuakePoint &child, const QuakePoint &parent, double b = 1, double d = 1.6)
{
    const double years = std::max(child.time - parent.time, 1.0) / (365.25 * 86400);
    const double rad = M_PI / 180, dLat = (child.latitude - parent.latitude) * rad, dLon = (child.longitude - parent.longitude) * rad;
    const double h = std::pow(std::sin(dLat / 2), 2)
        + std::cos(parent.latitude * rad) * std::cos(child.latitude * rad) * std::pow(std::sin(dLon / 2), 2);
    const double km = std::max(0.1, 2 * 6371 * std::asin(std::min(1.0, std::sqrt(h))));
    return years * std::pow(km, d) * std::pow(10, -b * parent.magnitude);
}

} // namespace

void TestSequence::omoriRecoversASimulatedSequence_data()
{
    QTest::addColumn<double>("K");
    QTest::addColumn<double>("c");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("days");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("a year, p 1.1") << 100.0 << 0.05 << 1.1 << 365.0 << 1u;
    QTest::newRow("p exactly 1") << 50.0 << 0.01 << 1.0 << 100.0 << 2u;
    QTest::newRow("slow decay, two months") << 30.0 << 0.2 << 0.85 << 60.0 << 3u;
    QTest::newRow("fast decay, large c") << 400.0 << 0.5 << 1.4 << 200.0 << 4u;
}

void TestSequence::omoriRecoversASimulatedSequence()
{
    QFETCH(double, K);
    QFETCH(double, c);
    QFETCH(double, p);
    QFETCH(double, days);
    QFETCH(quint32, seed);
    const std::vector<double> times = simulate(K, c, p, days, seed);
    QVERIFY2(times.size() > 200, qPrintable(QString::number(times.size())));
    const std::optional<Omori::Fit> fit = Omori::fit(times, days);
    QVERIFY(fit);
    QCOMPARE(fit->n, int(times.size()));
    const QString said = QStringLiteral("K %1 ± %2, c %3 ± %4, p %5 ± %6")
                             .arg(fit->K).arg(fit->sigmaK).arg(fit->c).arg(fit->sigmaC).arg(fit->p).arg(fit->sigmaP);
    QVERIFY2(fit->sigmaP > 0 && fit->sigmaK > 0 && fit->sigmaC > 0, qPrintable(said));
    QVERIFY2(std::fabs(fit->p - p) < 3 * fit->sigmaP, qPrintable(said));
    QVERIFY2(std::fabs(fit->c - c) < 3 * fit->sigmaC, qPrintable(said));
    // The maximum: above the true parameters and every step around it.
    const double best = Omori::logLikelihood(fit->K, fit->c, fit->p, times, days);
    QVERIFY(std::fabs(best - fit->logLikelihood) < 1e-9 * std::fabs(best));
    QVERIFY(best >= Omori::logLikelihood(K, c, p, times, days));
    for (const double step : { -1e-3, 1e-3 }) {
        QVERIFY2(best >= Omori::logLikelihood(fit->K * (1 + step), fit->c, fit->p, times, days), qPrintable(said));
        QVERIFY2(best >= Omori::logLikelihood(fit->K, fit->c * (1 + step), fit->p, times, days), qPrintable(said));
        QVERIFY2(best >= Omori::logLikelihood(fit->K, fit->c, fit->p + step, times, days), qPrintable(said));
    }
    // Too few events: no fit.
    QVERIFY(!Omori::fit(std::vector<double>(times.begin(), times.begin() + Omori::MinimumEvents - 1), days));
}

void TestSequence::aFlatRateIsNoDecay()
{
    // 200 events at a steady rate over 100 days, as a region's background
    // gives them: nothing dies away, and no decay is fitted.
    QRandomGenerator random(5);
    std::vector<double> times;
    for (int i = 0; i < 200; ++i)
        times.push_back(100 * random.generateDouble());
    QVERIFY(!Omori::fit(times, 100));
}

void TestSequence::forecastFollowsTheFit()
{
    // Reasenberg and Jones: N = K 10^(-b (m - Mc)) ((t2 + c)^(1-p) - (t1 + c)^(1-p)) / (1 - p).
    Omori::Fit fit;
    fit.K = 120;
    fit.c = 0.03;
    fit.p = 1.08;
    const double b = 0.95, mc = 2.4;
    for (const double m : { 4.0, 5.0, 6.0 }) {
        const Omori::Forecast f = Omori::forecast(fit, b, mc, m, 10, 17);
        const double expected = 120 * std::pow(10, -0.95 * (m - 2.4)) * (std::pow(17.03, -0.08) - std::pow(10.03, -0.08)) / -0.08;
        QVERIFY(std::fabs(f.expected / expected - 1) < 1e-9);
        QVERIFY(std::fabs(f.probability - (1 - std::exp(-expected))) < 1e-12);
    }
    // p = 1: the integral is ln((t2 + c) / (t1 + c)).
    fit.p = 1;
    QVERIFY(std::fabs(Omori::integral(0.03, 1, 10, 17) - std::log(17.03 / 10.03)) < 1e-12);
    QVERIFY(std::fabs(Omori::integral(0.03, 1 + 1e-9, 10, 17) - std::log(17.03 / 10.03)) < 1e-8);
}

void TestSequence::bOverTimeWindows()
{
    // b 1.0 for the first 600 events, 0.7 for the next 600.
    std::vector<double> magnitudes = magnitudesOf(600, 1.0, 2.0, 7);
    const std::vector<double> later = magnitudesOf(600, 0.7, 2.0, 8);
    magnitudes.insert(magnitudes.end(), later.begin(), later.end());
    const std::vector<Statistics::BAt> series = Statistics::bOverTime(magnitudes, 2.0);
    QCOMPARE(series.size(), std::size_t((1200 - 150) / 15 + 1));
    const std::vector<double> first(magnitudes.begin(), magnitudes.begin() + 150);
    const std::vector<double> last(magnitudes.end() - 150 - (1200 - 150) % 15, magnitudes.end() - (1200 - 150) % 15);
    QVERIFY(std::fabs(series.front().value.b - akiUtsu(first, 2.0)) < 1e-9);
    QCOMPARE(series.front().last, std::size_t(149));
    QVERIFY(std::fabs(series.back().value.b - akiUtsu(last, 2.0)) < 1e-9);
    QVERIFY2(series.front().value.b > series.back().value.b + 2 * series.back().value.sigma,
             qPrintable(QStringLiteral("%1 then %2").arg(series.front().value.b).arg(series.back().value.b)));
    // Shi and Bolt: 2.30 b^2 sqrt(sum (M - mean)^2 / (n (n - 1))).
    double mean = 0;
    for (const double m : first)
        mean += m / 150;
    double squares = 0;
    for (const double m : first)
        squares += (m - mean) * (m - mean);
    const double b = akiUtsu(first, 2.0);
    QVERIFY(std::fabs(series.front().value.sigma - 2.3 * b * b * std::sqrt(squares / (150.0 * 149))) < 1e-9);
}

using Runs = QList<QPair<double, int>>;

void TestSequence::mcOverTimeWindows_data()
{
    // Magnitudes as (value, how many) in time order; the windows' count,
    // the first and last windows' Mc (the fullest bin, the lowest of
    // equals, + 0.2) and the first window's bootstrap spread.
    QTest::addColumn<Runs>("runs");
    QTest::addColumn<int>("windows");
    QTest::addColumn<double>("firstMc");
    QTest::addColumn<double>("lastMc");
    QTest::addColumn<double>("leastSigma");
    QTest::addColumn<double>("mostSigma");
    // Two thirds in one bin: every resample has the same fullest bin.
    QTest::newRow("a clear mode") << Runs { { 2.0, 100 }, { 2.1, 20 }, { 2.4, 20 }, { 2.5, 10 } }
                                  << 1 << 2.2 << 2.2 << 0.0 << 0.0;
    // Two bins of 75: a resample's fullest is either, about evenly, so the
    // spread is about half the 0.5 between them.
    QTest::newRow("two equal bins") << Runs { { 2.0, 75 }, { 2.5, 75 } } << 1 << 2.2 << 2.2 << 0.2 << 0.3;
    QTest::newRow("completeness rises") << Runs { { 1.5, 100 }, { 1.9, 50 }, { 2.5, 100 }, { 2.9, 50 } }
                                        << 11 << 1.7 << 2.7 << 0.0 << 0.0;
    QTest::newRow("fewer than a window") << Runs { { 2.0, 149 } } << 0 << 0.0 << 0.0 << 0.0 << 0.0;
}

void TestSequence::mcOverTimeWindows()
{
    QFETCH(Runs, runs);
    QFETCH(int, windows);
    std::vector<double> magnitudes;
    for (const auto &[value, count] : runs)
        magnitudes.insert(magnitudes.end(), std::size_t(count), value);
    const std::vector<Statistics::McAt> series = Statistics::mcOverTime(magnitudes);
    QCOMPARE(int(series.size()), windows);
    if (windows == 0)
        return;
    QFETCH(double, firstMc);
    QFETCH(double, lastMc);
    QFETCH(double, leastSigma);
    QFETCH(double, mostSigma);
    QCOMPARE(series.front().last, std::size_t(149));
    QCOMPARE(series.back().last, magnitudes.size() - 1 - (magnitudes.size() - 150) % 15);
    QVERIFY(std::fabs(series.front().mc - firstMc) < 1e-9);
    QVERIFY(std::fabs(series.back().mc - lastMc) < 1e-9);
    QVERIFY2(series.front().sigma >= leastSigma && series.front().sigma <= mostSigma, qPrintable(QString::number(series.front().sigma)));
}

void TestSequence::windowMatchesThePublishedTable_data()
{
    // Gardner and Knopoff (1974), table 1: magnitude, km, days.
    QTest::addColumn<double>("magnitude");
    QTest::addColumn<double>("km");
    QTest::addColumn<double>("days");
    const double table[][3] = { { 2.5, 19.5, 6 },  { 3.0, 22.5, 11.5 }, { 3.5, 26, 22 },   { 4.0, 30, 42 },
                                { 4.5, 35, 83 },   { 5.0, 40, 155 },    { 5.5, 47, 290 },  { 6.0, 54, 510 },
                                { 6.5, 61, 790 },  { 7.0, 70, 915 },    { 7.5, 81, 960 },  { 8.0, 94, 985 } };
    for (const auto &row : table)
        QTest::addRow("M%.1f", row[0]) << row[0] << row[1] << row[2];
}

void TestSequence::windowMatchesThePublishedTable()
{
    // The fit follows the table's distances within 2.5% and its days
    // within 13% (its worst, at M6.5, where the two fits meet).
    QFETCH(double, magnitude);
    QFETCH(double, km);
    QFETCH(double, days);
    QVERIFY2(std::fabs(SequenceWindow::radiusKm(magnitude) / km - 1) < 0.025, qPrintable(QString::number(SequenceWindow::radiusKm(magnitude))));
    QVERIFY2(std::fabs(SequenceWindow::days(magnitude) / days - 1) < 0.13, qPrintable(QString::number(SequenceWindow::days(magnitude))));
}

void TestSequence::studyTakesTheWindowsEvents()
{
    // An M6 (53.2 km, 499.3 days) at 0; a simulated sequence within 30 km
    // of it, and events that its window leaves out: before it, too far,
    // after its days.
    const double t0 = 1.7e9, day = 86400;
    const QuakePoint mainshock { t0, -42.0, 173.0, 6.0, "main" };
    std::vector<QuakePoint> catalogue = { mainshock };
    const std::vector<double> times = simulate(40, 0.05, 1.05, 400, 11);
    const std::vector<double> magnitudes = magnitudesOf(int(times.size()), 1.0, 2.0, 12);
    for (std::size_t i = 0; i < times.size(); ++i)
        catalogue.push_back({ t0 + times[i] * day, -42.0 + 0.2 * std::sin(double(i)), 173.0 + 0.2 * std::cos(double(i)),
                              magnitudes[i], "a" + std::to_string(i) });
    catalogue.push_back({ t0 - day, -42.0, 173.0, 3.0, "before" });
    catalogue.push_back({ t0 + day, -43.0, 173.0, 3.0, "111 km away" });
    catalogue.push_back({ t0 + 500 * day, -42.0, 173.0, 3.0, "after its days" });
    const SequenceStudy::Study study = SequenceStudy::study(mainshock, catalogue, std::nullopt, std::nullopt, t0 + 600 * day);
    QCOMPARE(study.events.size(), times.size());
    QVERIFY(std::fabs(study.radiusKm - std::pow(10, 0.1238 * 6 + 0.983)) < 1e-9);
    QVERIFY(std::fabs((study.end - study.start) / day - std::pow(10, 0.5409 * 6 - 0.547)) < 1e-6);
    QVERIFY(study.mc && study.b && study.omori);
    QVERIFY(std::fabs(study.b->b - akiUtsu(magnitudes, *study.mc)) < 1e-9);
    QVERIFY2(std::fabs(study.omori->p - 1.05) < 3 * study.omori->sigmaP, qPrintable(QString::number(study.omori->p)));
    // Four horizons by three magnitudes, from the window's end.
    QCOMPARE(study.forecast.size(), std::size_t(12));
    QVERIFY(std::fabs(study.forecast[0].from - (study.end - study.start) / day) < 1e-9);
    QVERIFY(!study.bTime.empty());
    std::vector<double> timed;
    for (const QuakePoint &event : study.events) {
        if (std::isfinite(event.magnitude))
            timed.push_back(event.time);
    }
    QCOMPARE(study.mcTime.size(), (timed.size() - 150) / 15 + 1);
    QCOMPARE(study.mcTime.front().end, timed[149]);
    // Its first 30 events: a few at or above Mc, too few for b (50, as the
    // frequency-magnitude plot has it), so no forecast; and why, in words.
    const std::vector<QuakePoint> first30(catalogue.begin(), catalogue.begin() + 31);
    const SequenceStudy::Study few = SequenceStudy::study(mainshock, first30, std::nullopt, std::nullopt, t0 + 600 * day);
    QVERIFY2(few.mc && few.aboveMc >= 2 && few.aboveMc < 50, qPrintable(QString::number(few.aboveMc)));
    QVERIFY(!few.b && few.forecast.empty());
    QVERIFY2(few.whyNoB.endsWith(QLatin1String("at least 50 are needed for a b-value")), qPrintable(few.whyNoB));
    // Asked for 30 days and a forecast from day 10; never past the catalogue's last event.
    const SequenceStudy::Study month = SequenceStudy::study(mainshock, catalogue, 30.0, t0 + 10 * day, t0 + 20 * day);
    QCOMPARE(month.end, t0 + 20 * day);
    QVERIFY(std::fabs(month.forecast[0].from - 10) < 1e-9);
    QVERIFY(std::all_of(month.events.begin(), month.events.end(), [&](const QuakePoint &e) { return e.time <= t0 + 20 * day; }));
}

void TestSequence::gardnerKnopoffOnAHandMadeSet()
{
    const double t0 = 1.7e9, day = 86400;
    // In time order. The M5 (40.0 km, 143.7 days) takes the two after it
    // within its window; the foreshock a day before it, the M4.2 200 days
    // after and the far M3 start clusters of their own; the M3.2 two days
    // after the M4.2, 10 km away, is the M4.2's (31.7 km, 55.8 days).
    const std::vector<QuakePoint> events = {
        { t0 - day, -41.00, 174.00, 3.0, "foreshock" },
        { t0, -41.00, 174.00, 5.0, "mainshock" },
        { t0 + day, -41.09, 174.00, 3.0, "aftershock 10 km" },
        { t0 + day, -39.00, 174.00, 3.0, "far, 222 km" },
        { t0 + 5 * day, -41.18, 174.00, 3.5, "aftershock 20 km" },
        { t0 + 200 * day, -41.00, 174.00, 4.2, "later" },
        { t0 + 202 * day, -41.09, 174.00, 3.2, "the later one's" },
    };
    const std::vector<Decluster::Membership> m = Decluster::gardnerKnopoff(events);
    const std::vector<int> clusters = { 1, 2, 2, 3, 2, 4, 4 };
    const std::vector<int> mainshocks = { 0, 1, 1, 3, 1, 5, 5 };
    const std::vector<int> parents = { -1, -1, 1, -1, 1, -1, 5 };
    for (std::size_t i = 0; i < events.size(); ++i) {
        QCOMPARE(m[i].cluster, clusters[i]);
        QCOMPARE(m[i].mainshock, mainshocks[i]);
        QCOMPARE(m[i].parent, parents[i]);
    }
    QCOMPARE(Decluster::clusterCount(m), 4);
}

void TestSequence::gardnerKnopoffOnTheShippedCatalogue()
{
    // GeoNet's 2024 to 2026 events of MLv 3 or more: every member lies in
    // its mainshock's window, and no mainshock in another's.
    const std::vector<QuakePoint> events = shipped();
    QVERIFY(events.size() > 3000);
    const std::vector<Decluster::Membership> m = Decluster::gardnerKnopoff(events);
    int members = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const QuakePoint &leader = events[std::size_t(m[i].mainshock)];
        if (m[i].mainshock == int(i))
            continue;
        ++members;
        QVERIFY(leader.magnitude >= events[i].magnitude);
        QVERIFY(events[i].time > leader.time && events[i].time <= leader.time + SequenceWindow::days(leader.magnitude) * 86400);
        QVERIFY(Geo::distanceKm({ leader.latitude, leader.longitude }, { events[i].latitude, events[i].longitude })
                <= SequenceWindow::radiusKm(leader.magnitude));
    }
    QVERIFY2(members > 100 && Decluster::clusterCount(m) + members == int(events.size()),
             qPrintable(QStringLiteral("%1 members, %2 clusters").arg(members).arg(Decluster::clusterCount(m))));
}

void TestSequence::nearestNeighboursOnAHandMadeSet()
{
    // Two tight sequences far apart in space, and three lone events far
    // from everything. Their log10 eta, worked out by hand: about -9.5 to
    // -8.4 within the sequences, -4.9 from one mainshock to the other, -1
    // for the lone ones; at a threshold of -6 each sequence is a cluster led
    // by its largest event, and each lone event one of its own.
    const double t0 = 1.7e9, day = 86400;
    const std::vector<QuakePoint> events = {
        { t0, -41.0, 174.0, 5.0, "a main" },
        { t0 + 0.01 * day, -41.01, 174.0, 3.0, "a one" },
        { t0 + 0.02 * day, -37.0, 178.0, 4.5, "b main" },
        { t0 + 0.03 * day, -41.0, 174.02, 3.2, "a two" },
        { t0 + 0.05 * day, -37.01, 178.01, 2.8, "b one" },
        { t0 + 60 * day, -46.0, 167.0, 3.0, "lone one" },
        { t0 + 200 * day, -35.0, 173.0, 3.1, "lone two" },
        { t0 + 400 * day, -44.0, 171.0, 3.0, "lone three" },
    };
    const Decluster::NearestNeighbours found = Decluster::nearestNeighbours(events, -6.0);
    QCOMPARE(found.threshold, std::optional<double>(-6.0));
    const std::vector<int> mainshocks = { 0, 0, 2, 0, 2, 5, 6, 7 };
    const std::vector<int> clusters = { 1, 1, 2, 1, 2, 3, 4, 5 };
    for (std::size_t i = 0; i < events.size(); ++i) {
        QCOMPARE(found.memberships[i].mainshock, mainshocks[i]);
        QCOMPARE(found.memberships[i].cluster, clusters[i]);
    }
    // Each parent is the earlier event of least eta.
    QCOMPARE(found.memberships[0].parent, -1);
    for (std::size_t j = 1; j < events.size(); ++j) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < j; ++i)
            best = etaOf(events[j], events[i]) < etaOf(events[j], events[best]) ? i : best;
        QCOMPARE(found.memberships[j].parent, int(best));
        QVERIFY(std::fabs(found.memberships[j].logEta - std::log10(etaOf(events[j], events[best]))) < 1e-9);
    }
    QCOMPARE(Decluster::clusterCount(found.memberships), 5);
    // Two events give one eta: no mixture to fit, no threshold, no link.
    const Decluster::NearestNeighbours two = Decluster::nearestNeighbours({ events[0], events[1] });
    QVERIFY(!two.threshold);
    QCOMPARE(two.memberships[1].mainshock, 1);
    QCOMPARE(Decluster::clusterCount(two.memberships), 2);
}

void TestSequence::mixtureThresholdOfAKnownMixture()
{
    // 30% near -7 (sd 0.8) and 70% near -3 (sd 1.0): their weighted
    // densities meet at -5.35 (solved apart); EM from the sample lands near.
    QRandomGenerator random(99);
    std::vector<double> values;
    const auto gaussian = [&random] {
        return std::sqrt(-2 * std::log(1 - random.generateDouble())) * std::cos(2 * M_PI * random.generateDouble());
    };
    for (int i = 0; i < 6000; ++i)
        values.push_back(i % 10 < 3 ? -7 + 0.8 * gaussian() : -3 + 1.0 * gaussian());
    const std::optional<double> threshold = Decluster::mixtureThreshold(values);
    QVERIFY(threshold);
    QVERIFY2(std::fabs(*threshold - -5.35) < 0.15, qPrintable(QString::number(*threshold)));
    QVERIFY(!Decluster::mixtureThreshold({ 1.0, 1.0, 1.0 }));
}

void TestSequence::nearestNeighboursOnTheShippedCatalogue()
{
    const std::vector<QuakePoint> events = shipped();
    QVERIFY(events.size() > 3000);
    const Decluster::NearestNeighbours found = Decluster::nearestNeighbours(events);
    // The fitted threshold lies where clustered and background events part
    // in New Zealand's catalogue, between -7 and -2.
    QVERIFY2(found.threshold && *found.threshold > -7 && *found.threshold < -2,
             qPrintable(QString::number(found.threshold.value_or(NAN))));
    // Every 37th event's parent against a plain search of all before it.
    for (std::size_t j = 1; j < events.size(); j += 37) {
        double best = HUGE_VAL;
        int parent = -1;
        for (std::size_t i = 0; i < j; ++i) {
            const double eta = etaOf(events[j], events[i]);
            if (eta < best) {
                best = eta;
                parent = int(i);
            }
        }
        QCOMPARE(found.memberships[j].parent, parent);
        QVERIFY(std::fabs(found.memberships[j].logEta - std::log10(best)) < 1e-9);
    }
    // Leaders are their clusters' largest.
    for (std::size_t i = 0; i < events.size(); ++i)
        QVERIFY(events[std::size_t(found.memberships[i].mainshock)].magnitude >= events[i].magnitude);
    const int clusters = Decluster::clusterCount(found.memberships);
    QVERIFY2(clusters > 100 && clusters < int(events.size()), qPrintable(QString::number(clusters)));
}

QTEST_MAIN(TestSequence)
// Each event's parent, under another b and fractal dimension, is the
// earlier one of least eta as the test works it out over every pair.
void TestSequence::nearestNeighbourRules_data()
{
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("d");
    QTest::newRow("defaults") << 1.0 << 1.6;
    QTest::newRow("b 0.8, d 1.6") << 0.8 << 1.6;
    QTest::newRow("b 1, d 1.2") << 1.0 << 1.2;
    QTest::newRow("b 1.3, d 2") << 1.3 << 2.0;
}

void TestSequence::nearestNeighbourRules()
{
    QFETCH(double, b);
    QFETCH(double, d);
    QRandomGenerator random(7);
    std::vector<QuakePoint> events;
    for (int i = 0; i < 300; ++i)
        events.push_back({ 1.7e9 + i * 3600 * random.bounded(5.0), -41 + random.bounded(2.0), 174 + random.bounded(2.0),
                           2 + random.bounded(3.0), QByteArray::number(i).toStdString() });
    SequenceStudy::sortByTime(events);
    const Decluster::NearestNeighbours found = Decluster::nearestNeighbours(events, -3.0, { b, d });
    for (std::size_t j = 1; j < events.size(); ++j) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < j; ++i)
            best = etaOf(events[j], events[i], b, d) < etaOf(events[j], events[best], b, d) ? i : best;
        QCOMPARE(found.memberships[j].parent, int(best));
        QVERIFY(std::fabs(found.memberships[j].logEta - std::log10(etaOf(events[j], events[best], b, d))) < 1e-9);
    }
}

// Mc by maximum curvature plus the correction, and Aki and Utsu's b above
// it, for other bin widths and corrections, against the formulas worked
// out here on magnitudes drawn from b = 1 above 2.
void TestSequence::binningAndCorrectionAreRules_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("correction");
    QTest::addColumn<int>("minimum");
    QTest::newRow("defaults") << 0.1 << 0.2 << 50;
    QTest::newRow("no correction") << 0.1 << 0.0 << 50;
    QTest::newRow("bins of 0.2") << 0.2 << 0.2 << 50;
    QTest::newRow("a b from 10,000 only") << 0.1 << 0.2 << 10000;
}

void TestSequence::binningAndCorrectionAreRules()
{
    QFETCH(double, width);
    QFETCH(double, correction);
    QFETCH(int, minimum);
    QRandomGenerator random(2005);
    std::vector<double> magnitudes;
    for (int i = 0; i < 3000; ++i)
        magnitudes.push_back(std::round((2 - std::log10(1 - random.generateDouble())) * 100) / 100);
    const Statistics::GutenbergRichter fit = Statistics::gutenbergRichter(magnitudes, { width, correction, minimum });
    // The most populous bin, then the correction.
    std::map<long, int> bins;
    for (const double m : magnitudes)
        ++bins[std::lround(std::floor(m / width + 0.5 + 1e-4))];
    long mode = bins.begin()->first;
    for (const auto &[bin, count] : bins)
        mode = count > bins[mode] ? bin : mode;
    const double mc = mode * width + correction;
    QVERIFY2(fit.mc && std::fabs(*fit.mc - mc) < 1e-9, qPrintable(QString::number(fit.mc.value_or(-1))));
    double sum = 0;
    int n = 0;
    for (const double m : magnitudes) {
        const double binned = std::floor(m / width + 0.5 + 1e-4) * width;
        if (binned >= mc - 1e-9) {
            sum += binned;
            ++n;
        }
    }
    QCOMPARE(fit.aboveMc, n);
    if (n < minimum) {
        QVERIFY(!fit.b && fit.whyNoB.contains(QString::number(minimum)));
        return;
    }
    const double b = std::log10(std::exp(1.0)) / (sum / n - (mc - width / 2));
    QVERIFY2(fit.b && std::fabs(*fit.b - b) < 1e-9, qPrintable(QString::number(fit.b.value_or(-1))));
    QVERIFY(std::fabs(b - 1) < 0.1);
}

// Uhrhammer's window: an M5's reach is e^(-1.024 + 4.02) km and
// e^(-2.87 + 6.175) days; an event just inside both joins it, just outside
// either does not.
void TestSequence::uhrhammersWindow()
{
    const double km = std::exp(-1.024 + 0.804 * 5), days = std::exp(-2.87 + 1.235 * 5), t0 = 1.7e9, day = 86400;
    const double degree = 6371 * M_PI / 180;
    const std::vector<QuakePoint> events = {
        { t0, -41, 174, 5, "main" },
        { t0 + 0.99 * days * day, -41 + 0.99 * km / degree, 174, 3, "inside" },
        { t0 + 0.98 * days * day, -41 + 1.01 * km / degree, 174, 3, "too far" },
        { t0 + 1.01 * days * day, -41, 174, 3, "too late" },
    };
    const std::vector<Decluster::Membership> found = Decluster::gardnerKnopoff(events, Decluster::uhrhammerWindow());
    QCOMPARE(found[1].mainshock, 0);
    QCOMPARE(found[2].mainshock, 2);
    QCOMPARE(found[3].mainshock, 3);
    // Gardner and Knopoff's wider window takes all three.
    const std::vector<Decluster::Membership> wide = Decluster::gardnerKnopoff(events);
    QCOMPARE(Decluster::clusterCount(wide), 1);
}

#include "tst_sequence.moc"
