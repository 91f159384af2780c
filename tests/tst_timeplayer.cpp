// Playing a result through time, in the window offscreen against a
// loopback service: the bar, the slider's times on the map (grabbed), the
// plots and the list, flashes while playing, the end, and following live
// held while the bar is open.

#include "app/eventlistmodel.h"
#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "app/timeplayer.h"
#include "app/animationexport.h"
#include "testsupport/httptestserver.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

class TestTimePlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sliderShowsTheEventsUpToItsTime_data();
    void sliderShowsTheEventsUpToItsTime();
    void playingFlashesAndEnds();
    void aValueSetFromOutsideIsShown();
    void followingWaitsForTheBar();
    void exportWritesAVideo_data();
    void exportWritesAVideo();
    void cancelledExportLeavesNoFile();
    void followingWaitsForTheExport();
    void nothingToAnimate();
    void everyFrameCreditsGeoNet();

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

struct VideoRead
{
    AVCodecID codec = AV_CODEC_ID_NONE;
    QSize size;
    int frames = 0;              // decoded
    double seconds = 0;
    QImage last;                 // the last frame's brightness (its luma)
    QString error;
};

// A video read back with FFmpeg's libraries, every frame decoded.
VideoRead readVideo(const QString &path)
{
    VideoRead read;
    AVFormatContext *format = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&format, name.constData(), nullptr, nullptr) < 0) {
        read.error = QStringLiteral("cannot open");
        return read;
    }
    avformat_find_stream_info(format, nullptr);
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        const AVCodecParameters *parameters = format->streams[index]->codecpar;
        read.codec = parameters->codec_id;
        read.size = QSize(parameters->width, parameters->height);
        read.seconds = format->duration / double(AV_TIME_BASE);
        const AVCodec *decoder = avcodec_find_decoder(parameters->codec_id);
        AVCodecContext *context = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(context, parameters);
        avcodec_open2(context, decoder, nullptr);
        AVPacket *packet = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        const auto drain = [&] {
            while (avcodec_receive_frame(context, frame) >= 0) {
                ++read.frames;
                read.last = QImage(frame->width, frame->height, QImage::Format_Grayscale8);
                for (int y = 0; y < frame->height; ++y)
                    memcpy(read.last.scanLine(y), frame->data[0] + y * frame->linesize[0], size_t(frame->width));
            }
        };
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(context, packet) >= 0)
                drain();
            av_packet_unref(packet);
        }
        avcodec_send_packet(context, nullptr);
        drain();
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
    avformat_close_input(&format);
    return read;
}

// A small video of so many seconds at 10 frames a second.
AnimationExport::Options smallVideo(double seconds)
{
    AnimationExport::Options options;
    options.size = QSize(320, 240);
    options.framesPerSecond = 10;
    options.seconds = seconds;
    return options;
}

} // namespace

void TestTimePlayer::init()
{
    // A window test fails on any warning: a broken connection, a layout
    // that cannot be met, a painter left active.
    // (The offscreen platform's own "This plugin does not support ..." is not ours.)
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support )")));
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
    // Space on the map, once a click has given it the keys, opens the bar.
    QTest::mouseClick(map(), Qt::LeftButton, Qt::NoModifier, QPoint(5, map()->height() / 2));
    QTRY_VERIFY(map()->hasFocus());
    QTest::keyClick(map(), Qt::Key_Space);
    QVERIFY(play()->isChecked());
    QVERIFY(window->findChild<QToolBar *>(QStringLiteral("timeBar"))->isVisible());
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
    // With the bar open, Space plays and pauses as a player's does, the
    // button keeping its width; Escape closes the bar.
    auto *button = window->findChild<QToolButton *>(QStringLiteral("playPauseCtrl"));
    const int width = button->width();
    QTest::keyClick(map(), Qt::Key_Space);
    QVERIFY(player()->isPlaying() && play()->isChecked());
    QCOMPARE(button->width(), width);
    QTest::keyClick(map(), Qt::Key_Space);
    QVERIFY(!player()->isPlaying() && play()->isChecked());
    QTest::keyClick(map(), Qt::Key_Escape);
    QVERIFY(!play()->isChecked());
    QVERIFY(!window->findChild<QToolBar *>(QStringLiteral("timeBar"))->isVisible());
}

void TestTimePlayer::aValueSetFromOutsideIsShown()
{
    // As a screen reader sets it: the value alone, no drag, no key.
    search();
    play()->trigger();
    slider()->setValue(0);
    QCOMPARE(map()->timeShown(), double(first.toSecsSinceEpoch()));
    QCOMPARE(listRows(), 1);
    slider()->setValue(slider()->maximum() / 2);
    QCOMPARE(map()->timeShown(), first.toSecsSinceEpoch() + (EventCount - 1) * 86400.0 / 2);
    QCOMPARE(listRows(), (EventCount + 1) / 2);
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

void TestTimePlayer::exportWritesAVideo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("withPlot");
    QTest::addColumn<int>("codec");
    QTest::newRow("WebM, VP9, the map") << "quakes.webm" << false << int(AV_CODEC_ID_VP9);
    QTest::newRow("MP4, H.264, the map and plot") << "quakes.mp4" << true << int(AV_CODEC_ID_H264);
}

void TestTimePlayer::exportWritesAVideo()
{
    QFETCH(QString, name);
    QFETCH(bool, withPlot);
    QFETCH(int, codec);
    search();
    QTemporaryDir folder;
    const QString path = folder.filePath(name);
    AnimationExport::Options options = smallVideo(2);
    options.withPlot = withPlot;
    const Outcome written = player()->exportAnimation(path, options);
    QVERIFY2(written.kind == Outcome::Done, qPrintable(written.error));
    const VideoRead read = readVideo(path);
    QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
    QCOMPARE(int(read.codec), codec);
    QCOMPARE(read.size, QSize(320, 240));
    QCOMPARE(read.frames, 20);
    QVERIFY2(std::fabs(read.seconds - 2) < 0.15, qPrintable(QString::number(read.seconds)));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList { name });
}

void TestTimePlayer::cancelledExportLeavesNoFile()
{
    search();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("cancelled.webm"));
    const AnimationExport::Options options = smallVideo(3);
    int asked = 0;
    const Outcome written = AnimationExport::write(path, *player()->events(), *map(), options, [&asked](int done, int) {
                                                       asked = done;
                                                       return done < 5;
                                                   });
    QCOMPARE(written.kind, Outcome::Cancelled);
    QCOMPARE(asked, 5);
    QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty());
}

void TestTimePlayer::followingWaitsForTheExport()
{
    search();
    window->findChild<QAction *>(QStringLiteral("actionFollowLive"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().contains(QLatin1String("Following live")), 10000);
    const qsizetype asked = server->requestTargets().size();
    // A run falls due while the video is written (once its progress shows,
    // the first time it lets events through): it waits for the export,
    // which writes every frame of the result it started with.
    bool whileWriting = false;
    QTimer::singleShot(0, this, [&] {
        auto *progress = window->findChild<QProgressDialog *>();
        whileWriting = progress && progress->isVisible();
        QVERIFY(QMetaObject::invokeMethod(window->findChild<QTimer *>(QStringLiteral("liveTimer")), "timeout"));
    });
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("live.webm"));
    const Outcome written = player()->exportAnimation(path, smallVideo(40));
    QVERIFY2(written.kind == Outcome::Done, qPrintable(written.error));
    QVERIFY2(whileWriting, "the export ended before its progress let a run fall due");
    QCOMPARE(server->requestTargets().size(), asked);
    QCOMPARE(readVideo(path).frames, 400);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList { QStringLiteral("live.webm") });
    // Then the run put off is due at once.
    QTRY_COMPARE_WITH_TIMEOUT(server->requestTargets().size(), asked + 1, 10000);
}

void TestTimePlayer::everyFrameCreditsGeoNet()
{
    search();
    QTemporaryDir folder;
    AnimationExport::Options options;
    options.framesPerSecond = 10;
    options.seconds = 2;
    // Text is dark on the video's light grey and white.
    const auto inkIn = [](const QImage &image, const QRect &part) {
        int ink = 0;
        for (int y = part.top(); y <= part.bottom(); ++y)
            for (int x = part.left(); x <= part.right(); ++x)
                ink += qGray(image.pixel(x, y)) < 110 ? 1 : 0;
        return ink;
    };
    // The rows of the foot's left half that hold text: the credits' height.
    const auto creditRows = [&](const QImage &image) {
        int rows = 0;
        for (int y = image.height() * 975 / 1000; y < image.height(); ++y)
            rows += inkIn(image, QRect(0, y, image.width() / 2, 1)) > 0 ? 1 : 0;
        return rows;
    };
    QImage plain, titled, big;
    for (const auto &[name, size, title, frame] : { std::make_tuple("plain.mp4", QSize(1280, 720), QString(), &plain),
                                                    std::make_tuple("titled.mp4", QSize(1280, 720), QStringLiteral("Kaikoura"), &titled),
                                                    std::make_tuple("big.mp4", QSize(1920, 1080), QString(), &big) }) {
        options.size = size;
        options.title = title;
        const Outcome written = player()->exportAnimation(folder.filePath(QLatin1String(name)), options);
        QVERIFY2(written.kind == Outcome::Done, qPrintable(written.error));
        *frame = readVideo(folder.filePath(QLatin1String(name))).last;
        QCOMPARE(frame->size(), size);
    }
    // GeoNet's acknowledgement at the foot, in every video, its text growing
    // with the video's size.
    QVERIFY2(creditRows(plain) >= 6, qPrintable(QString::number(creditRows(plain))));
    QVERIFY2(creditRows(big) >= creditRows(plain) * 13 / 10,
             qPrintable(QStringLiteral("%1 rows at 1080, %2 at 720").arg(creditRows(big)).arg(creditRows(plain))));
    // The title at the top, only where one is given.
    const QRect top(300, 8, 680, 30);
    QVERIFY2(inkIn(titled, top) > inkIn(plain, top) + 50,
             qPrintable(QStringLiteral("%1 %2").arg(inkIn(titled, top)).arg(inkIn(plain, top))));
}

void TestTimePlayer::nothingToAnimate()
{
    QAction *exportAction = window->findChild<QAction *>(QStringLiteral("actionExportAnimation"));
    QVERIFY(!exportAction->isEnabled());
    search();
    QVERIFY(exportAction->isEnabled());
    server->setBody("<?xml version=\"1.0\"?>\n<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\"><eventParameters>"
                    "</eventParameters></quakeml>\n");
    search();
    QVERIFY(!exportAction->isEnabled());
    // The bar of no events shows no time, not 1970's first second.
    play()->trigger();
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("timeLabelCtrl"))->text(), QString());
}

QTEST_MAIN(TestTimePlayer)
#include "tst_timeplayer.moc"
