// The first minute with a result: the list of events beside the tree, an
// event's sequence from the list or the map, and a form that remembers.

#include "app/eventlist.h"
#include "app/eventlistmodel.h"
#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "app/sequencecharts.h"
#include "app/sequencepage.h"
#include "geo/omori.h"
#include "service/quakeservice.h"
#include "testsupport/httptestserver.h"
#include "testsupport/urlcatcher.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QFile>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>

class TestEventList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { catcher.install(); }
    void cleanupTestCase() { catcher.uninstall(); }
    void init();
    void cleanup();

    void rowsReadAtAGlance();
    void sortsByValue_data();
    void sortsByValue();
    void filterNarrows_data();
    void filterNarrows();
    void selectionIsShared();
    void referenceOpensItsPage();
    void sequenceFromTheMapAndItsPage();
    void aSequenceIsStudied();
    void declusteringChangesMapListAndExport();
    void formIsRemembered();

private:
    void search(const QByteArray &body);
    QTableView *table() { return window->findChild<QTableView *>(QStringLiteral("eventTable")); }
    EventListModel *model() { return qobject_cast<EventListModel *>(table()->model()); }
    QTreeWidget *tree() { return window->findChild<QTreeWidget *>(QStringLiteral("treeWidget")); }
    MapWidget *map() { return window->findChild<MapWidget *>(QStringLiteral("mapWidget")); }
    // The reference ids of the rows, top down.
    QStringList references();
    // The store's index of the event of a reference.
    int eventOf(const QString &reference);

    HttpTestServer *server = nullptr;
    MainAppWindow *window = nullptr;
    UrlCatcher catcher;
};

namespace {

QByteArray quake(const char *id, const char *time, const char *latitude, const char *longitude, const char *depth,
                 const char *magnitude, const char *type)
{
    QByteArray text = QByteArray("<event publicID=\"smi:geonet.org.nz/event/") + id + "\"><type>earthquake</type>"
        "<origin publicID=\"smi:geonet.org.nz/origin/" + id + "g/1\"><time><value>" + time + "</value></time>"
        "<latitude><value>" + latitude + "</value></latitude><longitude><value>" + longitude + "</value></longitude>";
    if (*depth)
        text += QByteArray("<depth><value>") + depth + "</value></depth>";
    text += "</origin>";
    if (*magnitude) {
        text += QByteArray("<magnitude><mag><value>") + magnitude + "</value></mag>";
        if (*type)
            text += QByteArray("<type>") + type + "</type>";
        text += "</magnitude>";
    }
    return text + "</event>\n";
}

// Kaikoura's and Christchurch's mainshocks as GeoNet lists them, and three
// made up: numbers that sort otherwise as text (10.0 and 9.5, 100 and 20
// km), a magnitude without a type and an event without magnitude or depth.
const QByteArray five = "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
    + quake("2016p858000", "2016-11-13T11:02:56", "-42.6925", "173.0217", "15.11", "7.8", "Mw")
    + quake("2011p150000", "2011-02-21T23:51:42", "-43.583", "172.680", "5.0", "6.2", "ML")
    + quake("2026p000003", "2026-06-01T00:00:00", "-41.29", "174.78", "100", "9.5", "MLv")
    + quake("2026p000004", "2026-06-02T00:00:00", "-38.69", "176.07", "20", "10.0", "")
    + quake("2026p000005", "2026-06-03T00:00:00", "-36.85", "174.76", "", "", "")
    + "</eventParameters></quakeml>\n";

} // namespace

void TestEventList::init()
{
    // A window test fails on any warning: a broken connection, a layout
    // that cannot be met, a painter left active.
    // (The offscreen platform's own "This plugin does not support ..." is not ours.)
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )")));
    QSettings().clear();
    QSettings().setValue(QStringLiteral("view/showMap"), true);
    QSettings().setValue(QStringLiteral("view/showPlots"), true);
    server = new HttpTestServer;
    QVERIFY(server->listen());
    window = new MainAppWindow;
    window->resize(1400, 1000);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))
        ->setText(server->url(QStringLiteral("/services/quake/search?")).toString());
    catcher.urls.clear();
}

void TestEventList::cleanup()
{
    delete window;
    delete server;
}

void TestEventList::search(const QByteArray &body)
{
    server->setBody(body);
    window->statusBar()->clearMessage();
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 10000);
}

QStringList TestEventList::references()
{
    QStringList ids;
    for (int row = 0; row < model()->rowCount(); ++row)
        ids << model()->index(row, EventListModel::Reference).data().toString();
    return ids;
}

int TestEventList::eventOf(const QString &reference)
{
    for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
        if (tree()->topLevelItem(i)->text(0).startsWith(u'[' + reference + u']'))
            return i;
    }
    return -1;
}

void TestEventList::rowsReadAtAGlance()
{
    search(five);
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    QCOMPARE(plots->tabText(0), QStringLiteral("List"));
    QCOMPARE(plots->widget(0)->findChild<QTableView *>(QStringLiteral("eventTable")), table());
    QStringList headers;
    for (int column = 0; column < model()->columnCount(); ++column)
        headers << model()->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(headers, QStringList({ "Time", "Magnitude", "Type", "Depth (km)", "Place", "Reference ID" }));
    // Newest first.
    QCOMPARE(references(), QStringList({ "2026p000005", "2026p000004", "2026p000003", "2016p858000", "2011p150000" }));
    QCOMPARE(table()->horizontalHeader()->sortIndicatorSection(), int(EventListModel::Time));
    QCOMPARE(table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // Kaikoura's row as GeoNet's page gives it, in New Zealand's summer time
    // (the tests run in Pacific/Auckland).
    QStringList kaikoura;
    for (int column = 0; column < EventListModel::ColumnCount; ++column)
        kaikoura << model()->index(3, column).data().toString();
    QCOMPARE(kaikoura.mid(0, 4), QStringList({ "2016-11-14 00:02:56 NZDT", "7.8", "Mw", "15.1" }));
    QVERIFY2(kaikoura.at(4).contains(QLatin1String(" of ")), qPrintable(kaikoura.at(4)));
    QCOMPARE(kaikoura.at(5), QStringLiteral("2016p858000"));
    // Winter time, a magnitude without a type, and nothing where nothing is known.
    QCOMPARE(model()->index(2, EventListModel::Time).data().toString(), QStringLiteral("2026-06-01 12:00:00 NZST"));
    QCOMPARE(model()->index(1, EventListModel::Type).data().toString(), QString());
    QCOMPARE(model()->index(0, EventListModel::Magnitude).data().toString(), QString());
    QCOMPARE(model()->index(0, EventListModel::Depth).data().toString(), QString());
    QVERIFY(model()->index(2, EventListModel::Place).data().toString().contains(QLatin1String("Wellington")));
}

void TestEventList::sortsByValue_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    // Events without the value come last either way.
    QTest::newRow("time, oldest first") << int(EventListModel::Time) << int(Qt::AscendingOrder)
        << QStringList({ "2011p150000", "2016p858000", "2026p000003", "2026p000004", "2026p000005" });
    QTest::newRow("magnitude, 10.0 after 9.5") << int(EventListModel::Magnitude) << int(Qt::AscendingOrder)
        << QStringList({ "2011p150000", "2016p858000", "2026p000003", "2026p000004", "2026p000005" });
    QTest::newRow("magnitude, largest first") << int(EventListModel::Magnitude) << int(Qt::DescendingOrder)
        << QStringList({ "2026p000004", "2026p000003", "2016p858000", "2011p150000", "2026p000005" });
    QTest::newRow("depth, 100 km after 20 km") << int(EventListModel::Depth) << int(Qt::AscendingOrder)
        << QStringList({ "2011p150000", "2016p858000", "2026p000004", "2026p000003", "2026p000005" });
    QTest::newRow("type") << int(EventListModel::Type) << int(Qt::AscendingOrder)
        << QStringList({ "2011p150000", "2026p000003", "2016p858000", "2026p000004", "2026p000005" });
    QTest::newRow("reference, descending") << int(EventListModel::Reference) << int(Qt::DescendingOrder)
        << QStringList({ "2026p000005", "2026p000004", "2026p000003", "2016p858000", "2011p150000" });
}

void TestEventList::sortsByValue()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    search(five);
    // The selected event stays selected wherever its row goes.
    tree()->setCurrentItem(tree()->topLevelItem(eventOf(QStringLiteral("2016p858000"))));
    table()->sortByColumn(column, Qt::SortOrder(order));
    QCOMPARE(references(), expected);
    QCOMPARE(model()->eventAt(table()->currentIndex().row()), eventOf(QStringLiteral("2016p858000")));
    // By place: by the town, then by the distance from it ("Within 5 km"
    // nearest), as the texts read.
    table()->sortByColumn(EventListModel::Place, Qt::AscendingOrder);
    std::vector<std::pair<QString, int>> places;
    for (int row = 0; row < model()->rowCount(); ++row) {
        const QString text = model()->index(row, EventListModel::Place).data().toString();
        const qsizetype of = text.indexOf(QLatin1String(" of "));
        QVERIFY2(of > 0, qPrintable(text));
        places.emplace_back(text.mid(of + 4), text.startsWith(QLatin1String("Within")) ? 0 : text.section(u' ', 0, 0).toInt());
    }
    QVERIFY(std::is_sorted(places.begin(), places.end()));
}

void TestEventList::filterNarrows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a place, any case") << "wellington" << QStringList({ "2026p000003" });
    QTest::newRow("a reference, any case") << "2016P858" << QStringList({ "2016p858000" });
    QTest::newRow("part of references") << "2026p" << QStringList({ "2026p000005", "2026p000004", "2026p000003" });
    QTest::newRow("nothing") << "Nowhere at all" << QStringList();
}

void TestEventList::filterNarrows()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    search(five);
    auto *filter = window->findChild<QLineEdit *>(QStringLiteral("eventFilterCtrl"));
    QVERIFY(filter);
    filter->setText(text);
    QTRY_COMPARE(references(), expected);
    filter->clear();
    QTRY_COMPARE(model()->rowCount(), 5);
}

void TestEventList::selectionIsShared()
{
    search(five);
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    const int wellington = eventOf(QStringLiteral("2026p000003"));
    // A row chosen: the tree's item, the map's ring and the plots' mark.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {},
                      table()->visualRect(model()->index(model()->rowOf(wellington), EventListModel::Place)).center());
    QCOMPARE(tree()->indexOfTopLevelItem(tree()->currentItem()), wellington);
    QCOMPARE(map()->selectedEvent(), wellington);
    QCOMPARE(plots->plot(PlotsWidget::MagnitudeTime)->selectedEvent(), wellington);
    // And back: the tree's item chosen selects the row.
    const int kaikoura = eventOf(QStringLiteral("2016p858000"));
    tree()->setCurrentItem(tree()->topLevelItem(kaikoura)->child(2));
    QCOMPARE(model()->eventAt(table()->currentIndex().row()), kaikoura);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(map()->selectedEvent(), kaikoura);
    // A dot clicked on a plot selects the row too.
    emit plots->plot(PlotsWidget::MagnitudeTime)->eventClicked(wellington);
    QCOMPARE(model()->eventAt(table()->currentIndex().row()), wellington);
}

void TestEventList::referenceOpensItsPage()
{
    search(five);
    const QModelIndex cell = model()->index(3, EventListModel::Reference);
    QCOMPARE(cell.data().toString(), QStringLiteral("2016p858000"));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell).center());
    const QString pages = QuakeService::eventPageUrlFor(server->url(QStringLiteral("/services/quake/search?")).toString());
    QCOMPARE(catcher.urls, QList<QUrl>({ QUrl(pages + QStringLiteral("2016p858000")) }));
    // Another column opens nothing.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {},
                      table()->visualRect(model()->index(3, EventListModel::Time)).center());
    QCOMPARE(catcher.urls.size(), 1);
}

void TestEventList::sequenceFromTheMapAndItsPage()
{
    search(five);
    QAction *sequence = window->findChild<QAction *>(QStringLiteral("actionShowSequence"));
    QVERIFY(table()->actions().contains(sequence));
    auto *page = window->findChild<SequencePage *>(QStringLiteral("sequencePage"));
    QVERIFY(page && !page->hasSequence());
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    QCOMPARE(plots->tabText(plots->indexOf(page)), QStringLiteral("Sequence"));
    // Of the whole result, its largest event's window is counted: the M10's
    // 166 km leave out Auckland's event the day after (235 km away), and
    // Wellington's the day before is not of its days.
    plots->setCurrentWidget(page);
    QTRY_VERIFY(page->study().has_value());
    QVERIFY2(page->text().contains(QLatin1String("Sequence of M10.0 2026p000004")), qPrintable(page->text()));
    QVERIFY2(page->text().contains(QLatin1String("0 events after it.")), qPrintable(page->text()));
    QVERIFY2(!page->text().contains(QLatin1String("before it")), qPrintable(page->text()));
    QVERIFY(page->study()->events.empty());

    // Kaikoura's event, chosen on the map's menu over it.
    const int kaikoura = eventOf(QStringLiteral("2016p858000"));
    QTimer::singleShot(0, this, [] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions())
            if (action->text() == QLatin1String("Show Its Sequence"))
                chosen = action;
        QVERIFY(chosen);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
    });
    // Its sequence, as a service gives it: a foreshock the same day, the
    // mainshock again, and three after it (M4.5, M5.0, no magnitude).
    server->setBody("<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
                    + quake("2016p857900", "2016-11-13T10:00:00", "-42.60", "173.10", "12", "3.0", "ML")
                    + quake("2016p858000", "2016-11-13T11:02:56", "-42.6925", "173.0217", "15.11", "7.8", "Mw")
                    + quake("2016p858010", "2016-11-13T11:32:00", "-42.40", "173.50", "10", "4.5", "ML")
                    + quake("2016p858020", "2016-11-14T00:00:00", "-42.20", "173.70", "8", "5.0", "ML")
                    + quake("2016p858030", "2016-11-15T00:00:00", "-42.30", "173.60", "9", "", "")
                    + "</eventParameters></quakeml>\n");
    const qsizetype asked = server->requestTargets().size();
    const QPoint over = map()->positionOf(kaikoura).toPoint();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, over, map()->mapToGlobal(over));
    QApplication::sendEvent(map(), &menuEvent);
    QTRY_VERIFY_WITH_TIMEOUT(server->requestTargets().size() > asked, 10000);
    // Gardner and Knopoff's window for M7.8, worked out apart: 10^(0.1238 *
    // 7.8 + 0.983) = 88.8 km; 10^(0.032 * 7.8 + 2.7389) = 973.9 days.
    const QString target = QString::fromLatin1(server->requestTargets().last());
    QVERIFY2(target.contains(QLatin1String("magnitudeLower=0&magnitudeUpper=12&startDate=2016-11-13&endDate=2019-07-15")),
             qPrintable(target));
    // The request's circle holds the whole window, not one rounded to a kilometre.
    QVERIFY2(target.contains(QLatin1String("&latitude=-42.69")) && target.contains(QLatin1String("&maxRadiusKm=88.87")),
             qPrintable(target));
    // Its page comes forward with the mainshock and the window.
    QTRY_VERIFY_WITH_TIMEOUT(page->hasSequence(), 10000);
    QCOMPARE(plots->currentWidget(), page);
    const QString text = page->text();
    QVERIFY2(text.contains(QLatin1String("Sequence of M7.8 2016p858000")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("within 89 km of it, from 13 Nov 2016 to 15 Jul 2019")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("2016-11-14 00:02:56 NZDT")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("3 events after it, 1 before it; 1 without a magnitude.")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("M3 or more\n2\nM4 or more\n2\nM5 or more\n1")), qPrintable(text));
    // Three events cannot be fitted: said so, and no curve.
    QVERIFY(page->study() && !page->study()->omori);
    QVERIFY2(text.contains(QLatin1String("too few events to fit")), qPrintable(text));

    // Another search is not the sequence: the page says how to get one.
    window->findChild<QComboBox *>(QStringLiteral("periodCtrl"))->setCurrentIndex(0);
    search(five);
    QVERIFY(!page->hasSequence());
}

void TestEventList::aSequenceIsStudied()
{
    // Kaikoura's M7.8 and 240 aftershocks at the quantiles of an
    // Omori-Utsu decay (c 0.05 days, p 1.1, over 120 days) and of a
    // Gutenberg-Richter law from M2.5, within 40 km.
    QByteArray body = "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
        + quake("2016p858000", "2016-11-13T11:02:56", "-42.6925", "173.0217", "15.11", "7.8", "Mw");
    const QDateTime t0(QDate(2016, 11, 13), QTime(11, 2, 56), Qt::UTC);
    const double c = 0.05, p = 1.1, D = 120, a0 = std::pow(c, 1 - p), a1 = std::pow(D + c, 1 - p);
    for (int i = 0; i < 240; ++i) {
        const double t = std::pow(a0 + (i + 0.5) / 240 * (a1 - a0), 1 / (1 - p)) - c;
        const double m = std::round((2.45 - std::log10(1 - std::fmod(0.5 + i * 0.6180339887, 1.0))) * 10) / 10;
        body += quake(QByteArray("2016p9") + QByteArray::number(10000 + i), t0.addMSecs(qint64(t * 86400000)).toString(Qt::ISODate).chopped(1).toLatin1(),
                      QByteArray::number(-42.6 + 0.2 * std::sin(i), 'f', 3), QByteArray::number(173.2 + 0.2 * std::cos(i), 'f', 3), "10",
                      QByteArray::number(m, 'f', 1), "ML");
    }
    body += "</eventParameters></quakeml>\n";
    search(body);
    tree()->setCurrentItem(tree()->topLevelItem(eventOf(QStringLiteral("2016p858000"))));
    window->findChild<QAction *>(QStringLiteral("actionShowSequence"))->trigger();
    auto *page = window->findChild<SequencePage *>(QStringLiteral("sequencePage"));
    QTRY_VERIFY_WITH_TIMEOUT(page->hasSequence(), 10000);
    QVERIFY(page->study() && page->study()->omori);
    const Omori::Fit &fit = *page->study()->omori;
    QVERIFY2(std::fabs(fit.p - 1.1) < 3 * fit.sigmaP, qPrintable(QString::number(fit.p)));
    const QString text = page->text();
    QVERIFY2(text.contains(QLatin1String("Decay")) && text.contains(QLatin1String("Next week")), qPrintable(text));
    // The charts draw the rate's points and the curve in their colours.
    const QImage charts = page->findChild<QWidget *>(QStringLiteral("sequenceCharts"))->grab().toImage();
    int curve = 0, points = 0;
    for (int y = 0; y < charts.height(); ++y) {
        for (int x = 0; x < charts.width() / 3; ++x) {
            curve += charts.pixel(x, y) == qRgb(215, 25, 28) ? 1 : 0;
            points += charts.pixel(x, y) == qRgb(44, 123, 182) ? 1 : 0;
        }
    }
    QVERIFY2(curve > 20 && points > 20, qPrintable(QStringLiteral("%1 %2").arg(curve).arg(points)));
    // Each term links a sentence that says what it means; the text ends
    // with what the numbers do not mean.
    auto *summary = page->findChild<QLabel *>(QStringLiteral("sequenceSummary"));
    QStringList terms;
    for (auto links = QRegularExpression(QStringLiteral("href=\"term:(\\w+)\"")).globalMatch(summary->text()); links.hasNext();)
        terms << links.next().captured(1);
    terms.removeDuplicates();
    terms.sort();
    QCOMPARE(terms, QStringList({ "b", "forecast", "mc", "omori" }));
    for (const QString &term : terms)
        QVERIFY(!SequencePage::explanation(term).isEmpty());
    emit summary->linkActivated(QStringLiteral("term:b"));
    QTRY_COMPARE(QToolTip::text(), SequencePage::explanation(QStringLiteral("b")));
    QVERIFY2(text.contains(QLatin1String("What the numbers do not mean.")), qPrintable(text));
    // The b-and-Mc chart's time labels tell close ticks apart.
    QCOMPARE(SequenceCharts::tickLabels({ 506.1, 506.2, 506.3 }), QStringList({ "506.1", "506.2", "506.3" }));
    QCOMPARE(SequenceCharts::tickLabels({ 0, 0.25, 0.5 }), QStringList({ "0.00", "0.25", "0.50" }));
    QCOMPARE(SequenceCharts::tickLabels({ 0, 50, 100 }), QStringList({ "0", "50", "100" }));
}

void TestEventList::declusteringChangesMapListAndExport()
{
    // An M5 with five aftershocks within a day and 10 km, and two events
    // far from it and from each other.
    QByteArray body = "<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
        + quake("2026p100000", "2026-02-01T00:00:00", "-41.00", "174.00", "10", "5.0", "ML")
        + quake("2026p200000", "2026-02-01T06:00:00", "-37.00", "178.00", "30", "3.0", "ML")
        + quake("2026p300000", "2026-03-01T00:00:00", "-45.00", "167.00", "12", "3.2", "ML");
    for (int i = 1; i <= 5; ++i)
        body += quake(QByteArray("2026p10000") + QByteArray::number(i), QByteArray("2026-02-01T0") + QByteArray::number(i) + ":00:00",
                      QByteArray::number(-41.0 - 0.01 * i, 'f', 2), "174.00", "10", "2.5", "ML");
    body += "</eventParameters></quakeml>\n";
    search(body);
    QCOMPARE(model()->columnCount(), 6);
    window->findChild<QAction *>(QStringLiteral("actionDeclusterGardnerKnopoff"))->trigger();
    // Declustered on a thread of its own: the columns come when it is done.
    QTRY_COMPARE(model()->columnCount(), 8);
    QCOMPARE(model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("Cluster"));
    QCOMPARE(model()->headerData(7, Qt::Horizontal).toString(), QStringLiteral("Mainshock"));
    QStringList led;
    for (int row = 0; row < model()->rowCount(); ++row) {
        if (model()->index(row, 7).data().toString() == QLatin1String("2026p100000"))
            led << model()->index(row, EventListModel::Reference).data().toString();
    }
    led.sort();
    QCOMPARE(led, QStringList({ "2026p100000", "2026p100001", "2026p100002", "2026p100003", "2026p100004", "2026p100005" }));
    // The map shows the three mainshocks only; the status bar counts them.
    QCOMPARE(map()->hiddenCount(), 5);
    QVERIFY2(window->statusBar()->currentMessage().contains(QLatin1String("3 mainshocks of 8 events; 1 cluster of two or more events")),
             qPrintable(window->statusBar()->currentMessage()));
    // So do the plots: an aftershock has no dot, the counts are of mainshocks.
    auto *plots = window->findChild<PlotsWidget *>(QStringLiteral("plotsWidget"));
    const auto rowOf = [&](const char *id) {
        for (int row = 0; row < model()->rowCount(); ++row) {
            if (model()->index(row, EventListModel::Reference).data().toString() == QLatin1String(id))
                return model()->eventAt(row);
        }
        return -1;
    };
    QVERIFY(plots->plot(PlotsWidget::MagnitudeTime)->positionOf(rowOf("2026p100003")).isNull());
    QVERIFY(!plots->plot(PlotsWidget::MagnitudeTime)->positionOf(rowOf("2026p100000")).isNull());
    QVERIFY2(plots->plot(PlotsWidget::FrequencyMagnitude)->notes().contains(QStringLiteral("5 events in clusters (mainshocks shown)")),
             qPrintable(plots->plot(PlotsWidget::FrequencyMagnitude)->notes().join(QLatin1Char('|'))));
    // The export writes them: CSV's columns, and QuakeML's elements of their
    // own namespace, which the schema lets an event end with.
    QTemporaryDir folder;
    QString error;
    const QString path = folder.filePath(QStringLiteral("declustered.csv"));
    QVERIFY2(window->exportEvents(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QVERIFY(lines.at(0).endsWith(",cluster,mainshock"));
    int members = 0;
    for (const QByteArray &line : lines.mid(1))
        members += line.endsWith(",2026p100000") ? 1 : 0;
    QCOMPARE(members, 6);
    const QString xml = folder.filePath(QStringLiteral("declustered.xml"));
    QVERIFY2(window->exportEvents(xml, &error), qPrintable(error));
    QFile quakeml(xml);
    QVERIFY(quakeml.open(QIODevice::ReadOnly));
    const QByteArray text = quakeml.readAll();
    QCOMPARE(text.count("<harvix:mainshock>smi:org.harvix/event/2026p100000</harvix:mainshock></event>"), 6);
    QCOMPARE(text.count("<harvix:cluster>"), 8);
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"), { QStringLiteral("--noout"), QStringLiteral("--schema"),
                                               QStringLiteral(HARVIX_TEST_DATA_DIR "/quakeml/QuakeML-1.2.xsd"), xml });
    QVERIFY(xmllint.waitForFinished(30000));
    QVERIFY2(xmllint.exitCode() == 0, xmllint.readAllStandardError().constData());
    // A new result is declustered too, until that is undone; the status bar
    // says so after its count.
    search(body);
    QTRY_COMPARE(model()->columnCount(), 8);
    QTRY_VERIFY2(window->statusBar()->currentMessage().endsWith(QLatin1String(
                     ". Declustered by Gardner and Knopoff's window: 3 mainshocks of 8 events; 1 cluster of two or more events.")),
                 qPrintable(window->statusBar()->currentMessage()));
    QVERIFY(window->statusBar()->currentMessage().startsWith(QLatin1String("Retrieved 8 quake events")));
    // One event: one mainshock, of one event.
    search("<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
           + quake("2026p300000", "2026-03-01T00:00:00", "-45.00", "167.00", "12", "3.2", "ML") + "</eventParameters></quakeml>\n");
    QTRY_VERIFY2(window->statusBar()->currentMessage().endsWith(QLatin1String(
                     "1 mainshock of 1 event; 0 clusters of two or more events.")),
                 qPrintable(window->statusBar()->currentMessage()));
    search(body);
    window->findChild<QAction *>(QStringLiteral("actionDeclusterNone"))->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Not declustered: every event is shown."));
    QCOMPARE(model()->columnCount(), 6);
    QCOMPARE(map()->hiddenCount(), 0);
    QVERIFY(!plots->plot(PlotsWidget::MagnitudeTime)->positionOf(rowOf("2026p100003")).isNull());
    // By nearest neighbours: every event in a cluster or alone, led by its largest.
    window->findChild<QAction *>(QStringLiteral("actionDeclusterNearestNeighbours"))->trigger();
    QTRY_COMPARE(model()->columnCount(), 8);
    QVERIFY(window->statusBar()->currentMessage().contains(QLatin1String("nearest neighbours")));
}

void TestEventList::formIsRemembered()
{
    const QString url = server->url(QStringLiteral("/elsewhere?")).toString();
    window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(url);
    window->findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->setCurrentIndex(1);
    window->findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->setCurrentIndex(3);
    delete window;
    window = new MainAppWindow;
    QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text(), url);
    QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->currentIndex(), 1);
    QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->currentIndex(), 3);
    QVERIFY(window->queryString().startsWith(url + QStringLiteral("magnitudeLower=6&")));
}

QTEST_MAIN(TestEventList)
#include "tst_eventlist.moc"
