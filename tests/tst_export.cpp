#include "app/eventexport.h"
#include "app/mainappwindow.h"
#include "quakeml/quakemlreader.h"

#include "catalogue/sqlitecatalogue.h"
#include "testsupport/gatewayprocess.h"
#include "testsupport/httptestserver.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

// File > Export Events As: every format written from a real search, read
// back by its readers (the gateway's import for CSV and QuakeML, Qt's JSON
// classes for GeoJSON), and checked value by value.
class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // A window test fails on any warning (the offscreen platform's own "This
    // plugin does not support ..." aside).
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )"))); }
    void readsBack_data();
    void readsBack();
    void geoJson();
    void idsSurviveTheRoundTrip_data();
    void idsSurviveTheRoundTrip();
    void cancelledLeavesNothing();

private:
    static QStringList treeOf(MainAppWindow &window);
    static void search(MainAppWindow &window, const QString &url);

    HttpTestServer server;
    MainAppWindow *window = nullptr;
    QTemporaryDir dir;
    QDateTime when;
};

namespace {

QByteArray quake(const QByteArray &id, const QDateTime &time, const char *latitude, const char *longitude,
                 const char *depth, const char *magnitude, const char *type)
{
    QByteArray text = "<event publicID=\"smi:geonet.org.nz/event/" + id + "\"><type>" + type + "</type>"
        "<origin publicID=\"smi:geonet.org.nz/origin/" + id + "g/1\"><time><value>"
        + time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "</value></time>"
        "<latitude><value>" + latitude + "</value></latitude><longitude><value>" + longitude + "</value></longitude>";
    if (*depth)
        text += QByteArray("<depth><value>") + depth + "</value></depth>";
    text += "<evaluationMode>manual</evaluationMode><evaluationStatus>reviewed</evaluationStatus></origin>";
    if (*magnitude)
        text += QByteArray("<magnitude><mag><value>") + magnitude + "</value></mag><type>MLv</type>"
                "<stationCount>17</stationCount></magnitude>";
    return text + "</event>\n";
}

} // namespace

void TestExport::initTestCase()
{
    QVERIFY(server.listen());
    // Last week's events, so that "Show Last Month" finds them again.
    when = QDateTime(QDate::currentDate().addDays(-7), QTime(10, 20, 30), Qt::UTC);
    server.setBody("<?xml version=\"1.0\"?><quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>\n"
                   + quake("2026p000001", when, "-41.28641234567", "174.77623456789", "12.3456", "4.56789", "earthquake")
                   + quake("2026p000002", when.addSecs(60), "-30.5", "181.5", "0.5", "5.1", "quarry")
                   + quake("2026p000003", when.addSecs(120), "-38.8", "175.9", "", "3.25", "earthquake")
                   + quake("2026p000004", when.addSecs(180), "-45.5", "166.9", "7", "", "earthquake")
                   + "</eventParameters></quakeml>\n");
    window = new MainAppWindow;
    window->show();
    search(*window, server.url(QStringLiteral("/services/quake/search?")).toString());
}

void TestExport::cleanupTestCase()
{
    delete window;
}

void TestExport::search(MainAppWindow &window, const QString &url)
{
    window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(url);
    window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->setCurrentIndex(5);   // Show All
    window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->setCurrentIndex(2);  // Show Last Month
    window.statusBar()->clearMessage();
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("searchCtrl")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().startsWith(QLatin1String("Retrieved")), 20000);
}

QStringList TestExport::treeOf(MainAppWindow &window)
{
    QStringList rows;
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        rows << item->text(0);
        for (int j = 0; j < item->childCount(); ++j)
            rows << QStringLiteral("  %1 %2").arg(item->child(j)->text(0), item->child(j)->text(1));
    }
    return rows;
}

void TestExport::readsBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArrayList>("digits");   // texts the file must hold as the reply had them
    QTest::newRow("CSV") << "events.csv"
        << QByteArrayList { "2026p000001,", "-41.28641234567,174.77623456789,12.3456,4.56789,MLv,17,manual,reviewed,earthquake",
                            "175.9,,3.25,MLv,17,", "166.9,7,,,,manual", "quarry\n" };
    QTest::newRow("QuakeML 1.2") << "events.xml"
        << QByteArrayList { "<value>-41.28641234567</value>", "<value>12345.6</value>", "<value>4.56789</value>",
                            "<value>500</value>" };
}

void TestExport::readsBack()
{
    QFETCH(QString, name);
    QFETCH(QByteArrayList, digits);
    const QString path = dir.filePath(name);
    QString error;
    QVERIFY2(window->exportEvents(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    for (const QByteArray &expected : digits)
        QVERIFY2(text.contains(expected), expected.constData());
    QVERIFY(text.contains(when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + 'Z'));

    if (name.endsWith(QLatin1String(".xml"))) {
        QProcess xmllint;
        xmllint.start(QStringLiteral("xmllint"), { QStringLiteral("--noout"), QStringLiteral("--schema"),
                                                   QStringLiteral(HARVIX_TEST_DATA_DIR "/quakeml/QuakeML-1.2.xsd"), path });
        QVERIFY(xmllint.waitForFinished(30000));
        QVERIFY2(xmllint.exitCode() == 0, xmllint.readAllStandardError().constData());
    }

    // The gateway imports it, and a search of the gateway shows the same tree.
    GatewayProcess gateway;
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", gateway.catalogue(), path });
    QVERIFY2(imported.exitCode == 0 && imported.output.contains(QLatin1String("4 added")), qPrintable(imported.output));
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
    MainAppWindow again;
    again.show();
    search(again, gateway.url(QStringLiteral("/services/quake/search?")).toString());
    // Longitudes are stored within (-180, 180].
    QCOMPARE(treeOf(again), treeOf(*window).replaceInStrings(QStringLiteral("181.500"), QStringLiteral("-178.500")));
}

void TestExport::idsSurviveTheRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("CSV") << "ids.csv";
    QTest::newRow("QuakeML 1.2") << "ids.xml";
}

void TestExport::idsSurviveTheRoundTrip()
{
    QFETCH(QString, name);
    // Ids that a path segment, a query, Latin-1 or a percent sign would cut.
    const QStringList ids = { QStringLiteral("id with space/and?query#frag"), QStringLiteral("\u00FCml/%41\u4E2D"),
                              QStringLiteral("2026p000001") };
    QByteArray text = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|"
                      "Magnitude\n";
    for (int i = 0; i < ids.size(); ++i) {
        text += ids[i].toUtf8() + '|' + when.addSecs(i).toString(Qt::ISODate).toLatin1()
            + "|-41.3|174.8|10|||||ML|3.1\n";
    }
    GatewayProcess gateway;
    QCOMPARE(gateway.run({ "import", "--catalogue", gateway.catalogue(), gateway.writeFile("ids.txt", text) }).exitCode, 0);
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
    MainAppWindow harvix;
    harvix.show();
    search(harvix, gateway.url(QStringLiteral("/services/quake/search?")).toString());
    const QString path = dir.filePath(name);
    QString error;
    QVERIFY2(harvix.exportEvents(path, &error), qPrintable(error));

    const QString again = gateway.path(QStringLiteral("again.sqlite"));
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", again, path });
    QVERIFY2(imported.exitCode == 0 && imported.output.contains(QLatin1String("3 added")), qPrintable(imported.output));
    SqliteCatalogue catalogue(again);
    QVERIFY(catalogue.open(&error));
    for (const QString &id : ids)
        QVERIFY2(catalogue.find(id), qPrintable(id));
}

void TestExport::geoJson()
{
    const QString path = dir.filePath(QStringLiteral("events.geojson"));
    QString error;
    QVERIFY2(window->exportEvents(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError parsed;
    const QJsonObject collection = QJsonDocument::fromJson(file.readAll(), &parsed).object();
    QCOMPARE(parsed.error, QJsonParseError::NoError);
    QCOMPARE(collection.value(QLatin1String("type")).toString(), QStringLiteral("FeatureCollection"));
    const QJsonArray features = collection.value(QLatin1String("features")).toArray();
    QCOMPARE(features.size(), 4);
    const auto coordinates = [&](int i) {
        QStringList values;
        for (const QJsonValue &value : features.at(i)[QLatin1String("geometry")][QLatin1String("coordinates")].toArray())
            values << QString::number(value.toDouble(), 'g', 15);
        return values.join(u',');
    };
    QCOMPARE(coordinates(0), QStringLiteral("174.77623456789,-41.28641234567,12.3456"));
    QCOMPARE(coordinates(1), QStringLiteral("-178.5,-30.5,0.5"));   // within -180..180
    QCOMPARE(coordinates(2), QStringLiteral("175.9,-38.8"));   // no depth: two
    const QJsonObject first = features.at(0)[QLatin1String("properties")].toObject();
    QCOMPARE(first.value(QLatin1String("publicid")).toString(), QStringLiteral("2026p000001"));
    QCOMPARE(first.value(QLatin1String("magnitude")).toDouble(), 4.56789);
    QCOMPARE(first.value(QLatin1String("magnitudestationcount")).toInt(), 17);
    QCOMPARE(first.value(QLatin1String("origintime")).toString(), when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")));
    QVERIFY(features.at(3)[QLatin1String("properties")][QLatin1String("magnitude")].isNull());
}

void TestExport::cancelledLeavesNothing()
{
    QTemporaryDir own;
    std::vector<RawEvent> events(10000);
    std::vector<const RawEvent *> records;
    for (RawEvent &event : events) {
        event.texts = std::to_string(100000 + records.size());
        event.ends.fill(std::uint32_t(event.texts.size()));
        records.push_back(&event);
    }
    const Outcome written = EventExport::writeFile(own.filePath(QStringLiteral("big.csv")), EventExport::Format::Csv,
                                                   records, [](qint64 done, qint64) { return done < 4000; });
    QCOMPARE(written.kind, Outcome::Cancelled);
    QVERIFY(written.error.isEmpty());
    QCOMPARE(QDir(own.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
