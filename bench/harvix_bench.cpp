// Measures one stage of a search on a generated catalogue of N events and
// prints one line of key=value pairs. Each stage runs in its own process, so
// that the peak resident memory belongs to that stage alone.
//
//   harvix_bench --stage floor|store|tree|search|research --events N [--reply FILE]
//                 research: the same search twice, the second timed
//   harvix_bench --stage url --url SEARCH_URL --events N   (a running service)
//   ... --map hidden   the same with the map beside the tree hidden
//   harvix_bench --write FILE --events N
//
// The search and url stages choose "Show >= Mag 3" and "Show Last Decade";
// --reply serves that file instead of a generated reply.

#include "quakemlgenerator.h"

#include "app/mainappwindow.h"
#include "app/mapwidget.h"
#include "quakeml/quakemlreader.h"
#include "service/quakedatamanager.h"

#include "testsupport/httptestserver.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether the search stages show the map (as Harvix does by default).
bool mapShown = true;
// The longest time the window took no event during the timed search.
qint64 longestPauseNs = -1;

long peakResidentKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void report(const char *stage, int events, qint64 bytes, qint64 nanoseconds)
{
    std::printf("stage=%s events=%d bytes=%lld seconds=%.6f peak_kib=%ld", stage, events,
                static_cast<long long>(bytes), double(nanoseconds) / 1e9, peakResidentKiB());
    if (longestPauseNs >= 0)
        std::printf(" longest_pause=%.6f", double(longestPauseNs) / 1e9);
    std::printf("\n");
    std::fflush(stdout);
}

int floorStage(int events)
{
    QByteArray body = generateQuakeML(events);
    const qint64 bytes = body.size();
    QString text = QuakeMLReader::decodeReply(body);
    body = QByteArray();
    // Memory is handled as in the real walk: the text goes once the reader
    // holds its own copy.
    QElapsedTimer timer;
    timer.start();
    QXmlStreamReader reader(text);
    text = QString();
    qint64 tokens = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        ++tokens;
    }
    const qint64 elapsed = timer.nsecsElapsed();
    if (reader.hasError() || tokens < events)
        return 1;
    report("floor", events, bytes, elapsed);
    return 0;
}

int storeStage(int events)
{
    QByteArray body = generateQuakeML(events);
    const qint64 bytes = body.size();
    // What the data manager does with a finished reply, less the error box.
    QuakeEventStore store;
    QElapsedTimer timer;
    timer.start();
    QString text = QuakeMLReader::decodeReply(body);
    body = QByteArray();
    const QuakeMLError error = QuakeMLReader::readDocument(std::move(text), store);
    const qint64 elapsed = timer.nsecsElapsed();
    if (error.isError() || int(store.size()) != events)
        return 1;
    report("store", events, bytes, elapsed);
    return 0;
}

int treeStage(int events)
{
    MainAppWindow window;
    window.show();
    QString url;
    auto *manager = new QuakeDataManager(&window, url);
    qint64 bytes = 0;
    {
        const QByteArray body = generateQuakeML(events);
        bytes = body.size();
        QString text = QuakeMLReader::decodeReply(body);
        manager->parseResponse(text);
    }
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    window.buildTreeModel(manager, tree);
    tree->viewport()->repaint();
    if (auto *map = window.findChild<MapWidget *>(); map && map->isVisible())
        map->repaint();
    const qint64 elapsed = timer.nsecsElapsed();
    if (tree->topLevelItemCount() != events)
        return 1;
    report("tree", events, bytes, elapsed);
    return 0;
}

// A whole search from the window: click to painted tree, map and plots.
// With `searches` above 1, the same search runs that many times and the last
// is timed, so that it includes releasing the result before. -1 when the tree
// does not hold the expected number of events.
qint64 timeSearch(int argc, char *argv[], const QString &searchUrl, int events, int searches)
{
    QApplication app(argc, argv);
    QSettings().setValue(QStringLiteral("view/showMap"), mapShown);
    MainAppWindow window;
    window.show();
    window.findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(searchUrl);
    window.findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->setCurrentIndex(4);
    window.findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->setCurrentIndex(4);
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QEventLoop loop;
    QObject::connect(window.statusBar(), &QStatusBar::messageChanged, &loop, [&loop](const QString &m) {
        if (m.startsWith(QLatin1String("Retrieved")) || m.startsWith(QLatin1String("Search failed")))
            loop.quit();
    });
    qint64 elapsed = -1;
    for (int search = 0; search < searches; ++search) {
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        // The longest the window goes without taking an event: a timer due
        // every 5 ms, late by as much as the window was busy. (One due at
        // every turn of the event loop would keep a core busy itself.)
        QElapsedTimer sinceTurn;
        sinceTurn.start();
        longestPauseNs = 0;
        QTimer turns;
        QObject::connect(&turns, &QTimer::timeout, [&] {
            longestPauseNs = std::max(longestPauseNs, sinceTurn.nsecsElapsed());
            sinceTurn.start();
        });
        turns.setTimerType(Qt::PreciseTimer);
        turns.start(5);
        window.findChild<QPushButton *>(QStringLiteral("searchCtrl"))->click();
        loop.exec();
        // Everything the window shows, painted once.
        window.repaint();
        elapsed = timer.nsecsElapsed();
        longestPauseNs = std::max(longestPauseNs, sinceTurn.nsecsElapsed());
    }
    const auto *manager = window.findChild<QuakeDataManager *>();
    const bool complete = tree->topLevelItemCount() == events && manager
        && int(manager->quakeEvents().size()) == events;
    if (!complete)
        std::fprintf(stderr, "harvix_bench: the tree holds %d events, not %d\n", tree->topLevelItemCount(), events);
    return complete ? elapsed : -1;
}

// The server runs in a child process, so that neither its copy of the reply
// nor its work on the loopback connection is counted for the client.
int searchStage(int events, const QString &replyFile, int searches, int argc, char *argv[])
{
    int portPipe[2];
    if (pipe(portPipe) != 0)
        return 1;
    const pid_t server = fork();
    if (server == 0) {
        close(portPipe[0]);
        QCoreApplication app(argc, argv);
        HttpTestServer http;
        QByteArray body;
        if (replyFile.isEmpty()) {
            body = generateQuakeML(events);
        } else {
            QFile file(replyFile);
            if (!file.open(QIODevice::ReadOnly))
                _exit(1);
            body = file.readAll();
        }
        const qint64 size = body.size();
        http.setBody(body);
        body = QByteArray();
        if (!http.listen())
            _exit(1);
        const qint64 served[2] = { http.port(), size };
        if (write(portPipe[1], served, sizeof served) != sizeof served)
            _exit(1);
        close(portPipe[1]);
        app.exec();
        _exit(0);
    }
    close(portPipe[1]);
    qint64 served[2] = { 0, 0 };
    const bool gotPort = read(portPipe[0], served, sizeof served) == sizeof served;
    close(portPipe[0]);
    int status = 1;
    if (gotPort) {
        const qint64 elapsed = timeSearch(argc, argv,
            QStringLiteral("http://127.0.0.1:%1/services/quake/search?").arg(served[0]), events, searches);
        if (elapsed >= 0) {
            report(searches > 1 ? "research" : "search", events, served[1], elapsed);
            status = 0;
        }
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    std::string stage;
    std::string file;
    QString url;
    QString replyFile;
    int events = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--stage"))
            stage = argv[i + 1];
        else if (!std::strcmp(argv[i], "--events"))
            events = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--write"))
            file = argv[i + 1];
        else if (!std::strcmp(argv[i], "--url"))
            url = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--reply"))
            replyFile = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--map"))
            mapShown = std::strcmp(argv[i + 1], "hidden") != 0;
    }
    if (!file.empty()) {
        QFile out(QString::fromLocal8Bit(file.c_str()));
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        return out.write(generateQuakeML(events)) > 0 ? 0 : 1;
    }
    if (stage == "search")
        return searchStage(events, replyFile, 1, argc, argv);
    if (stage == "research")
        return searchStage(events, replyFile, 2, argc, argv);
    if (stage == "url") {
        const qint64 elapsed = timeSearch(argc, argv, url, events, 1);
        if (elapsed < 0)
            return 1;
        report("url", events, 0, elapsed);
        return 0;
    }
    if (stage == "floor")
        return floorStage(events);
    if (stage == "store")
        return storeStage(events);
    if (stage == "tree") {
        QApplication app(argc, argv);
        return treeStage(events);
    }
    std::fprintf(stderr, "usage: harvix_bench --stage floor|store|tree|search|research|url --events N\n");
    return 2;
}
