#include "app/mainappwindow.h"
#include "app/querycomposition.h"
#include "service/quakeservice.h"

#include <QComboBox>
#include <QLineEdit>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QtTest>

class TestQueryComposition : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^QObject::connect"))); }

    void assemble_data();
    void assemble();
    void tablesAndFallbacks_data();
    void tablesAndFallbacks();
    void windowQueryFollowsControls();
    void windowFallsBackOnEmptyLists();
    void periodAndMagnitudeReplaceTheLists_data();
    void periodAndMagnitudeReplaceTheLists();
};

void TestQueryComposition::assemble_data()
{
    QTest::addColumn<QDate>("today");
    QTest::addColumn<int>("magIndex");
    QTest::addColumn<int>("dateIndex");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");

    const QString def = QuakeService::searchUrl();
    QTest::newRow("worked example, defaults on 2010-01-01")
        << QDate(2010, 1, 1) << 4 << 0 << def
        << def + "magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0";
    QTest::newRow("show all, last week on 2010-03-02")
        << QDate(2010, 3, 2) << 5 << 1 << def
        << def + "magnitudeLower=0&magnitudeUpper=12&startDate=2010-02-23&endDate=2010-03-02&outputFormat=quakeml1.0";
    QTest::newRow("last day across February")
        << QDate(2010, 3, 1) << 0 << 0 << def
        << def + "magnitudeLower=7&magnitudeUpper=12&startDate=2010-02-28&endDate=2010-03-01&outputFormat=quakeml1.0";
    QTest::newRow("last day across a leap February")
        << QDate(2012, 3, 1) << 1 << 0 << def
        << def + "magnitudeLower=6&magnitudeUpper=12&startDate=2012-02-29&endDate=2012-03-01&outputFormat=quakeml1.0";
    QTest::newRow("last month is 31 days")
        << QDate(2010, 3, 2) << 2 << 2 << def
        << def + "magnitudeLower=5&magnitudeUpper=12&startDate=2010-01-30&endDate=2010-03-02&outputFormat=quakeml1.0";
    QTest::newRow("last year is 365 days")
        << QDate(2010, 3, 2) << 3 << 3 << def
        << def + "magnitudeLower=4&magnitudeUpper=12&startDate=2009-03-02&endDate=2010-03-02&outputFormat=quakeml1.0";
    QTest::newRow("last year over a leap day")
        << QDate(2013, 1, 1) << 3 << 3 << def
        << def + "magnitudeLower=4&magnitudeUpper=12&startDate=2012-01-02&endDate=2013-01-01&outputFormat=quakeml1.0";
    QTest::newRow("decade with three leap days")
        << QDate(2010, 1, 1) << 4 << 4 << def
        << def + "magnitudeLower=3&magnitudeUpper=12&startDate=2000-01-01&endDate=2010-01-01&outputFormat=quakeml1.0";
    QTest::newRow("decade with two leap days")
        << QDate(2010, 3, 2) << 4 << 4 << def
        << def + "magnitudeLower=3&magnitudeUpper=12&startDate=2000-03-01&endDate=2010-03-02&outputFormat=quakeml1.0";
    QTest::newRow("url without question mark")
        << QDate(2010, 1, 1) << 4 << 0 << QStringLiteral("http://example.org/search")
        << QStringLiteral("http://example.org/searchmagnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
    QTest::newRow("url with its own query and blanks, unchanged")
        << QDate(2010, 1, 1) << 4 << 0 << QStringLiteral(" http://x/?a=1 ")
        << QStringLiteral(" http://x/?a=1 magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
    QTest::newRow("empty url")
        << QDate(2010, 1, 1) << 4 << 0 << QString()
        << QStringLiteral("magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
    QTest::newRow("year below 1000 is written as it is")
        << QDate(999, 1, 5) << 4 << 1 << QString()
        << QStringLiteral("magnitudeLower=3&magnitudeUpper=12&startDate=998-12-29&endDate=999-01-05&outputFormat=quakeml1.0");
    QTest::newRow("index -1 falls back to the defaults")
        << QDate(2010, 1, 1) << -1 << -1 << QString()
        << QStringLiteral("magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
    QTest::newRow("index past the tables falls back to the defaults")
        << QDate(2010, 1, 1) << 6 << 5 << QString()
        << QStringLiteral("magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
    QTest::newRow("huge index falls back to the defaults")
        << QDate(2010, 1, 1) << INT_MAX << INT_MIN << QString()
        << QStringLiteral("magnitudeLower=3&magnitudeUpper=12&startDate=2009-12-31&endDate=2010-01-01&outputFormat=quakeml1.0");
}

void TestQueryComposition::assemble()
{
    QFETCH(QDate, today);
    QFETCH(int, magIndex);
    QFETCH(int, dateIndex);
    QFETCH(QString, url);
    QFETCH(QString, expected);

    const QString original = url;
    const QString query = QueryComposition::assemble(QueryComposition::magnitudeLowerBound(magIndex),
                                                     QueryComposition::daysBack(dateIndex),
                                                     url, today);
    QCOMPARE(query, expected);
    QCOMPARE(url, original);
}

void TestQueryComposition::tablesAndFallbacks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("magnitude");
    QTest::addColumn<int>("days");
    QTest::newRow("0") << 0 << 7 << 1;
    QTest::newRow("1") << 1 << 6 << 7;
    QTest::newRow("2") << 2 << 5 << 31;
    QTest::newRow("3") << 3 << 4 << 365;
    QTest::newRow("4") << 4 << 3 << 3653;
    QTest::newRow("5: show all; past the date table") << 5 << 0 << 1;
    QTest::newRow("-1") << -1 << 3 << 1;
}

void TestQueryComposition::tablesAndFallbacks()
{
    QFETCH(int, index);
    QFETCH(int, magnitude);
    QFETCH(int, days);
    QCOMPARE(QueryComposition::magnitudeLowerBound(index), magnitude);
    QCOMPARE(QueryComposition::daysBack(index), days);
}

// The request for the given day, written out here rather than composed.
static QString expectedForToday(const QString &url, int magnitude, int days, const QDate &today)
{
    return url + QStringLiteral("magnitudeLower=%1&magnitudeUpper=12&startDate=%2&endDate=%3&outputFormat=quakeml1.0")
                     .arg(magnitude)
                     .arg(today.addDays(-days).toString(Qt::ISODate), today.toString(Qt::ISODate));
}

void TestQueryComposition::windowQueryFollowsControls()
{
    MainAppWindow window;
    auto *urlCtrl = window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"));
    auto *mag = window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"));
    auto *date = window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"));
    QVERIFY(urlCtrl && mag && date);

    const QDate before = QDate::currentDate();
    QString query = window.queryString();
    const QDate after = QDate::currentDate();
    QVERIFY(query == expectedForToday(QuakeService::searchUrl(), 3, 1, before)
            || query == expectedForToday(QuakeService::searchUrl(), 3, 1, after));

    mag->setCurrentIndex(5);
    date->setCurrentIndex(4);
    urlCtrl->setText(QStringLiteral("http://127.0.0.1:1/q?"));
    query = window.queryString();
    QVERIFY2(query.startsWith(QLatin1String("http://127.0.0.1:1/q?magnitudeLower=0&magnitudeUpper=12&startDate=")),
             qPrintable(query));
    const QDate today = QDate::currentDate();
    QVERIFY(query == expectedForToday(QStringLiteral("http://127.0.0.1:1/q?"), 0, 3653, today)
            || query == expectedForToday(QStringLiteral("http://127.0.0.1:1/q?"), 0, 3653, today.addDays(-1)));
}

void TestQueryComposition::windowFallsBackOnEmptyLists()
{
    MainAppWindow window;
    auto *mag = window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"));
    auto *date = window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"));
    mag->clear();
    date->clear();
    QCOMPARE(mag->currentIndex(), -1);
    QVERIFY(window.queryString().contains(QLatin1String("magnitudeLower=3&magnitudeUpper=12")));
}

void TestQueryComposition::periodAndMagnitudeReplaceTheLists_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("magnitude");
    QTest::addColumn<QString>("keys");   // %1: today, %2: a day ago, as the default list gives them
    QTest::newRow("the defaults: the lists'") << 0 << -2.0 << "magnitudeLower=3&magnitudeUpper=12&startDate=%2&endDate=%1";
    QTest::newRow("a period") << 1 << -2.0 << "magnitudeLower=3&magnitudeUpper=12&startDate=2016-11-13&endDate=2016-11-20";
    QTest::newRow("a magnitude") << 0 << 2.5 << "magnitudeLower=2.5&magnitudeUpper=12&startDate=%2&endDate=%1";
    QTest::newRow("both, below zero") << 1 << -0.5 << "magnitudeLower=-0.5&magnitudeUpper=12&startDate=2016-11-13&endDate=2016-11-20";
}

void TestQueryComposition::periodAndMagnitudeReplaceTheLists()
{
    QFETCH(int, kind);
    QFETCH(double, magnitude);
    QFETCH(QString, keys);
    MainAppWindow window;
    auto *period = window.findChild<QComboBox *>(QStringLiteral("periodCtrl"));
    auto *from = window.findChild<QDateEdit *>(QStringLiteral("periodFromCtrl"));
    auto *to = window.findChild<QDateEdit *>(QStringLiteral("periodToCtrl"));
    auto *least = window.findChild<QDoubleSpinBox *>(QStringLiteral("minMagnitudeCtrl"));
    QVERIFY(period && from && to && least);
    from->setDate(QDate(2016, 11, 13));
    to->setDate(QDate(2016, 11, 20));
    period->setCurrentIndex(kind);
    least->setValue(magnitude);
    const QString url = window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text();
    const QDate today = QDate::currentDate();
    const QString query = window.queryString();
    // Put back as a first run has them, for the tests after this one.
    period->setCurrentIndex(0);
    least->setValue(least->minimum());
    QCOMPARE(query, url + keys.arg(today.toString(Qt::ISODate), today.addDays(-1).toString(Qt::ISODate))
                        + QStringLiteral("&outputFormat=quakeml1.0"));
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->isEnabled(), true);
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->isEnabled(), true);
    period->setCurrentIndex(kind);
    least->setValue(magnitude);
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->isEnabled(), kind == 0);
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->isEnabled(), magnitude <= least->minimum());
    period->setCurrentIndex(0);
    least->setValue(least->minimum());
}

QTEST_MAIN(TestQueryComposition)
#include "tst_querycomposition.moc"
