// The gateway's pages in a real browser: Debian's Chromium, headless, loads
// the home page and event pages (one of GeoNet's, one at -178°, one without
// a depth) without a console message, and draws their maps: the sea, the
// land and the events' colours are counted in its screenshots; driven by
// Playwright at a phone's size, no page is wider than the phone. The pages
// parse as HTML5 without an error (html5lib, strict), and the home page of
// a catalogue of 100,000 events spread over the world stays under 400 KB.

#include "geo/eventscales.h"
#include "http/svgmap.h"
#include "testsupport/gatewayprocess.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TestPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inChromium_data();
    void inChromium();
    void fitAPhone();
    void validHtml5_data();
    void validHtml5();
    void homePageOfAnyCatalogueIsSmall();
    void picturesHoldWhatTheyDraw_data();
    void picturesHoldWhatTheyDraw();

private:
    GatewayProcess gateway;
};

namespace {

const QString ref = QStringLiteral("/services/quake/quakeml/1.0.1/ref/");

// A headless run of Chromium; its standard error holds the page's console.
struct Browser
{
    QByteArray output;
    QByteArray log;
    int exitCode = -1;
};

Browser chromium(const QStringList &arguments, const QString &dir)
{
    QProcess process;
    process.start(QStringLiteral("chromium"),
                  QStringList { "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                "--no-first-run", "--disable-extensions", "--enable-logging=stderr", "--v=0",
                                "--user-data-dir=" + dir }
                      + arguments);
    Browser browser;
    if (!process.waitForFinished(120000))
        process.kill();
    browser.output = process.readAllStandardOutput();
    browser.log = process.readAllStandardError();
    browser.exitCode = process.exitCode();
    return browser;
}

// Pixels of a colour, give or take a little for antialiasing.
int pixelsNear(const QImage &image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (std::abs(qRed(line[x]) - qRed(colour)) < 6 && std::abs(qGreen(line[x]) - qGreen(colour)) < 6
                && std::abs(qBlue(line[x]) - qBlue(colour)) < 6)
                ++count;
        }
    }
    return count;
}

} // namespace

void TestPages::initTestCase()
{
    // A month of GeoNet's own file, and two events of another source.
    const QString extra = gateway.writeFile(QStringLiteral("extra.txt"),
        "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude"
        "|MagAuthor|EventLocationName|EventType\n"
        "kermadec|2026-03-01T00:00:00Z|-44.2|-178|35|||||Mw|5.9|||earthquake\n"
        "nodepth|2026-03-02T00:00:00Z|-41.3|174.8||||||ML|2.9|||earthquake\n"
        "arctic|2026-03-03T00:00:00Z|87|10|10|||||ML|4.1|||earthquake\n");
    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", gateway.catalogue(),
        QStringLiteral(HARVIX_SHIPPED_DATA_DIR "/geonet/MLNZ20_RapidEvents_2026.csv"), extra });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
}

void TestPages::inChromium_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("inDom");
    QTest::addColumn<int>("events");          // drawn as circles of the map, at least
    QTest::addColumn<bool>("land");

    QTest::newRow("home") << QStringLiteral("/")
        << QStringList { "<svg", "MLNZ20_RapidEvents_2026.csv", "Magnitude and time", "Natural Earth", "GeoNames",
                         "We acknowledge the New Zealand GeoNet project" } << 100 << true;
    QTest::newRow("GeoNet's event") << ref + QStringLiteral("2026p000119")
        << QStringList { "<svg", "This event at GeoNet", "NZDT", "UTC" } << 1 << true;
    QTest::newRow("at -178°") << ref + QStringLiteral("kermadec")
        << QStringList { "<svg", "Event kermadec: ", "This event as QuakeML 1.2" } << 1 << true;
    QTest::newRow("without a depth") << ref + QStringLiteral("nodepth")
        << QStringList { "<svg", "Event nodepth: ", "This event as FDSN text" } << 1 << true;
    QTest::newRow("near the North Pole") << ref + QStringLiteral("arctic")
        << QStringList { "<svg", "Event arctic: " } << 1 << false;
}

void TestPages::inChromium()
{
    QFETCH(QString, path);
    QFETCH(QStringList, inDom);
    QFETCH(int, events);
    QFETCH(bool, land);
    QTemporaryDir profile;
    const QString url = gateway.url(path).toString();

    const Browser dom = chromium({ "--dump-dom", url }, profile.path());
    QCOMPARE(dom.exitCode, 0);
    for (const QString &text : inDom)
        QVERIFY2(dom.output.contains(text.toUtf8()), qPrintable(text));
    QVERIFY2(!dom.log.contains("CONSOLE"), dom.log.constData());
    QVERIFY(!dom.output.contains("<script"));

    // Rendered: the sea and the land of the map, and the events' depth
    // colours besides the legend's own squares.
    const QString picture = profile.filePath(QStringLiteral("page.png"));
    const Browser shot = chromium({ "--window-size=800,1400", "--screenshot=" + picture, url }, profile.path());
    QVERIFY2(!shot.log.contains("CONSOLE"), shot.log.constData());
    const QImage image = QImage(picture).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!image.isNull());
    QVERIFY(pixelsNear(image, qRgb(0xdc, 0xec, 0xf5)) > 10000);   // sea
    QCOMPARE(pixelsNear(image, qRgb(0xf3, 0xef, 0xe4)) > 500, land);
    // Each legend square is 14 pixels wide in a 720-pixel picture.
    const int legendSquares = 7 * 16 * 16;
    int coloured = 0;
    for (const double depth : EventScales::LegendDepths)
        coloured += pixelsNear(image, EventScales::depthColour(depth).rgb());
    coloured += pixelsNear(image, EventScales::noDepthColour().rgb());
    QVERIFY2(coloured > legendSquares + events * 4, qPrintable(QString::number(coloured)));
}

void TestPages::fitAPhone()
{
    // Playwright drives the same Chromium at 390 by 844 pixels: no page is
    // wider than the phone, every picture lies within it, nothing is said
    // on the console.
    const QStringList paths = { QStringLiteral("/"), ref + QStringLiteral("2026p000119"), ref + QStringLiteral("kermadec"),
                                ref + QStringLiteral("nodepth"), ref + QStringLiteral("none") };
    QStringList urls;
    for (const QString &path : paths)
        urls << gateway.url(path).toString();
    QProcess node;
    node.setWorkingDirectory(QStringLiteral(HARVIX_CLIENTS_DIR));
    node.start(QStringLiteral("node"), QStringList { QStringLiteral("pages.mjs") } + urls);
    QVERIFY(node.waitForFinished(120000));
    QVERIFY2(node.exitCode() == 0, node.readAllStandardError().constData());
    int pages = 0;
    for (const QByteArray &line : node.readAllStandardOutput().split('\n')) {
        if (!line.startsWith('{'))
            continue;
        const QJsonObject page = QJsonDocument::fromJson(line).object();
        const QString url = page.value(QLatin1String("url")).toString();
        QVERIFY2(page.value(QLatin1String("scrollWidth")).toInt() <= page.value(QLatin1String("clientWidth")).toInt(),
                 qPrintable(url));
        QCOMPARE(page.value(QLatin1String("clientWidth")).toInt(), 390);
        const QJsonArray pictures = page.value(QLatin1String("pictures")).toArray();
        QVERIFY2(url.endsWith(QLatin1String("none")) || !pictures.isEmpty(), qPrintable(url));
        for (const QJsonValue &picture : pictures) {
            QVERIFY(picture[QLatin1String("left")].toDouble() >= 0);
            QVERIFY(picture[QLatin1String("right")].toDouble() <= 390);
            QVERIFY(picture[QLatin1String("height")].toDouble() > 10);
        }
        // The page of an unknown event is itself the one resource that fails.
        const bool unknown = url.endsWith(QLatin1String("none"));
        QCOMPARE(page.value(QLatin1String("status")).toInt(), unknown ? 404 : 200);
        QCOMPARE(page.value(QLatin1String("messages")).toArray(),
                 unknown ? QJsonArray { "error: Failed to load resource: the server responded with a status of 404 (Not Found)" }
                         : QJsonArray());
        ++pages;
    }
    QCOMPARE(pages, paths.size());
}

void TestPages::validHtml5_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("home") << QStringLiteral("/");
    QTest::newRow("event") << ref + QStringLiteral("2026p000119");
    QTest::newRow("not found") << ref + QStringLiteral("%3Cnone%3E");
}

void TestPages::validHtml5()
{
    QFETCH(QString, path);
    const QByteArray page = GatewayProcess::get(gateway.url(path)).body;
    QProcess python;
    python.setProcessChannelMode(QProcess::MergedChannels);
    // Debian's Python, which has html5lib.
    python.start(QStringLiteral("/usr/bin/python3"),
                 { "-c", "import sys, html5lib\n"
                         "parser = html5lib.HTMLParser(strict=True)\n"
                         "parser.parse(sys.stdin.buffer.read())\n" });
    python.write(page);
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAll().constData());
    QVERIFY(page.contains("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"));
}

void TestPages::homePageOfAnyCatalogueIsSmall()
{
    // 100,000 events all over the world, of every depth and magnitude.
    QByteArray text = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType"
                      "|Magnitude|MagAuthor|EventLocationName|EventType\n";
    quint32 seed = 12345;
    const auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % quint32(range));
    };
    for (int i = 0; i < 100000; ++i) {
        text += "w" + QByteArray::number(i) + '|'
            + QDateTime::fromSecsSinceEpoch(1500000000 + qint64(i) * 3000, Qt::UTC).toString(Qt::ISODate).toLatin1()
            + '|' + QByteArray::number(next(17000) / 100.0 - 85) + '|' + QByteArray::number(next(36000) / 100.0 - 180)
            + '|' + QByteArray::number(next(700)) + "|||||ML|" + QByteArray::number(next(80) / 10.0) + "|||earthquake\n";
    }
    GatewayProcess world;
    const QString file = world.writeFile(QStringLiteral("world.txt"), text);
    QCOMPARE(world.run({ "import", "--catalogue", world.catalogue(), file }).exitCode, 0);
    QVERIFY(world.start({ "--catalogue", world.catalogue() }));
    const GatewayProcess::Reply home = GatewayProcess::get(world.url(QStringLiteral("/")));
    QCOMPARE(home.status, 200);
    QVERIFY2(home.body.size() <= 400 * 1024, qPrintable(QString::number(home.body.size())));
    QVERIFY(home.body.contains("<td>world.txt</td><td>100000</td>"));
}

void TestPages::picturesHoldWhatTheyDraw_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    const QDateTime start(QDate(2020, 1, 15), QTime(3, 0), Qt::UTC);
    QTest::newRow("a map of the world") << "map" << start << start.addDays(200);
    QTest::newRow("a plot of half a year") << "plot" << start << start.addDays(167);
    QTest::newRow("a plot of 23 years") << "plot" << start.addYears(-17) << start.addYears(6).addDays(167);
}

void TestPages::picturesHoldWhatTheyDraw()
{
    QFETCH(QString, picture);
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    // Large events in the corners of the world, and on its edges.
    std::vector<SvgEvent> events;
    const GeoPoint places[] = { { 70, -160 }, { 45, 5 }, { -70, 20 }, { -60, -150 }, { -41, 174 } };
    for (std::size_t i = 0; i < std::size(places); ++i) {
        const std::int64_t time = from.toMSecsSinceEpoch() * 1000
            + (to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) * 1000 / std::int64_t(std::size(places) - 1)
                * std::int64_t(i);
        events.push_back({ places[i], 6.5, 10.0, time });
    }
    std::string svg;
    if (picture == QLatin1String("map")) {
        std::vector<GeoPoint> points(std::begin(places), std::end(places));
        const Projection projection = Projection::centredOn(points);
        svg = SvgMap::map(projection, projection.bounds(points).adjusted(-100, -100, 100, 100),
                          SvgMap::eventsOf(events), nullptr);
    } else {
        svg = SvgMap::magnitudeTimePlot(SvgMap::eventsOf(events));
    }
    const QString text = QString::fromStdString(svg);
    const QRegularExpressionMatch box = QRegularExpression(QStringLiteral("viewBox=\"0 0 (\\d+) (\\d+)\"")).match(text);
    QVERIFY(box.hasMatch());
    const double width = box.captured(1).toDouble(), height = box.captured(2).toDouble();
    // Every dot whole within the picture.
    int dots = 0;
    const QRegularExpression path(QStringLiteral("stroke-width=\"([0-9.]+)\" d=\"([^\"]*)\""));
    for (auto paths = path.globalMatch(text); paths.hasNext();) {
        const QRegularExpressionMatch match = paths.next();
        const double radius = match.captured(1).toDouble() / 2;
        const QRegularExpression move(QStringLiteral("M(-?[0-9.]+) (-?[0-9.]+)h0"));
        for (auto moves = move.globalMatch(match.captured(2)); moves.hasNext(); ++dots) {
            const QRegularExpressionMatch at = moves.next();
            const double x = at.captured(1).toDouble(), y = at.captured(2).toDouble();
            QVERIFY2(x - radius >= 0 && x + radius <= width && y - radius >= 0 && y + radius <= height,
                     qPrintable(QStringLiteral("a dot of radius %1 at %2, %3").arg(radius).arg(x).arg(y)));
        }
    }
    QCOMPARE(dots, int(events.size()));
    // Every label whole within it, at 7 pixels a character of 11 pixels.
    const QRegularExpression label(QStringLiteral("<text x=\"([0-9.]+)\"[^>]*text-anchor=\"(\\w+)\">([^<]*)</text>"));
    for (auto labels = label.globalMatch(text); labels.hasNext();) {
        const QRegularExpressionMatch match = labels.next();
        const double x = match.captured(1).toDouble(), length = 7.0 * match.captured(3).size();
        const double left = match.captured(2) == QLatin1String("start") ? x
            : match.captured(2) == QLatin1String("end")                 ? x - length
                                                                        : x - length / 2;
        QVERIFY2(left >= 0 && left + length <= width, qPrintable(match.captured(0)));
    }
}

QTEST_GUILESS_MAIN(TestPages)
#include "tst_pages.moc"
