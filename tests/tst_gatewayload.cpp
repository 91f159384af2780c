#include "testsupport/gatewayprocess.h"

#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QXmlStreamReader>
#include <QtTest>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

// The gateway under load, as a real process on loopback: sixteen clients
// mixing searches big and small, event pages and bad requests while an
// import writes to the same catalogue; and clients that read slowly or not
// at all. Figures go to the test's output.
class TestGatewayLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void soak();
    void slowAndStalledReaders();
    void busyKeepAliveClientsLetOthersIn();

private:
    GatewayProcess files;
    QString sideFile;
};

namespace {

// A catalogue of 2020 with an event every five minutes: one day holds 288,
// the first 100,000 run to mid-December.
constexpr int BigCount = 100000;
constexpr int EventsPerDay = 288;
const std::string bigSearch = "/services/quake/search?magnitudeLower=0&magnitudeUpper=12"
                              "&startDate=2020-01-01&endDate=2020-12-31&outputFormat=quakeml1.0";

QByteArray fdsnText(const QByteArray &prefix, int count, const QDateTime &first)
{
    QByteArray text = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID"
                      "|MagType|Magnitude|MagAuthor|EventLocationName|EventType\n";
    text.reserve(count * 80);
    for (int i = 0; i < count; ++i) {
        text += prefix + QByteArray::number(i) + '|'
            + first.addSecs(qint64(i) * 300).toString(Qt::ISODate).toLatin1() + "|-41.2|174.8|"
            + QByteArray::number(5 + i % 300) + "|||||ML|" + QByteArray::number((i % 70) / 10.0, 'f', 1)
            + "|||earthquake\n";
    }
    return text;
}

qint64 residentKiB(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// How many events a search reply holds, or why it is not a whole document.
QString eventsIn(const std::string &body, int &events)
{
    QXmlStreamReader xml(QByteArray::fromRawData(body.data(), qsizetype(body.size())));
    events = 0;
    bool rooted = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("quakeml"))
            rooted = true;
        else if (xml.name() == QLatin1String("event"))
            ++events;
    }
    if (xml.hasError())
        return QStringLiteral("XML error at byte %1: %2").arg(xml.characterOffset()).arg(xml.errorString());
    return rooted ? QString() : QStringLiteral("no quakeml root");
}

struct BadRequest
{
    const char *method;
    const char *target;
    int status;
};

const BadRequest badRequests[] = {
    { "GET", "/services/quake/search?magnitudeLower=3&magnitudeUpper=12&startDate=2020-01-01", 400 },
    { "GET", "/services/quake/search?magnitudeLower=3&magnitudeUpper=12&startDate=2020-02-30&endDate=2020-03-01", 400 },
    { "GET", "/services/quake/search?magnitudeLower=5&magnitudeUpper=2&startDate=2020-01-01&endDate=2020-03-01", 400 },
    { "GET", "/services/quake/search?magnitudeLower=x&magnitudeUpper=12&startDate=2020-01-01&endDate=2020-03-01", 400 },
    { "GET", "/services/quake/quakeml/1.0.1/ref/nothere", 404 },
    { "GET", "/nothing/here", 404 },
    { "DELETE", "/services/quake/search", 405 },
};

class Faults
{
public:
    void add(const QString &fault)
    {
        QMutexLocker lock(&m_mutex);
        m_list << fault;
    }
    QStringList list()
    {
        QMutexLocker lock(&m_mutex);
        return m_list;
    }

private:
    QMutex m_mutex;
    QStringList m_list;
};

// One client on its own keep-alive connection. Every fourteenth request is
// a 100,000-event search; the rest are day searches, event pages and bad
// requests in turn. As browsers do, it lets a connection go rather than use
// it again once it has idled for two thirds of the gateway's keep-alive
// time (15 s): a starved client (two cores, the sanitizers, sixteen
// clients and an import) can take that long over a reply, and the gateway
// then closes the idle connection as it may, so that the next request met
// a closed socket.
void runClient(int port, int client, int requests, Faults &faults, std::atomic<qint64> &bytes,
               std::atomic<int> &slowestMs, std::atomic<int> &letGo)
{
    httplib::Client http("127.0.0.1", port);
    http.set_keep_alive(true);
    http.set_read_timeout(90, 0);
    QRandomGenerator random(quint32(client) + 1);
    constexpr auto IdleAtMost = std::chrono::seconds(10);
    auto lastAnswer = std::chrono::steady_clock::now();
    for (int n = 0; n < requests; ++n) {
        const int kind = (client + n) % 14;
        std::string target;
        int status = 200;
        std::string method = "GET";
        if (kind == 0) {
            target = bigSearch;
        } else if (kind % 3 == 1) {
            const QString day = QDate(2020, 1, 1).addDays(random.bounded(340)).toString(Qt::ISODate);
            target = QStringLiteral("/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=%1"
                                    "&endDate=%1&outputFormat=quakeml1.0").arg(day).toStdString();
        } else if (kind % 3 == 2) {
            target = "/services/quake/quakeml/1.0.1/ref/soak" + std::to_string(random.bounded(BigCount));
        } else {
            const BadRequest &bad = badRequests[random.bounded(int(std::size(badRequests)))];
            method = bad.method;
            target = bad.target;
            status = bad.status;
        }
        const auto start = std::chrono::steady_clock::now();
        const int idleMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(start - lastAnswer).count());
        if (start - lastAnswer >= IdleAtMost) {
            http.stop();
            ++letGo;
        }
        httplib::Request request;
        request.method = method;
        request.path = target;
        const httplib::Result result = http.send(request);
        lastAnswer = std::chrono::steady_clock::now();
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(lastAnswer - start).count());
        for (int seen = slowestMs; ms > seen && !slowestMs.compare_exchange_weak(seen, ms);) { }
        const QString what = QStringLiteral("client %1, %2 %3").arg(client).arg(QString::fromStdString(method),
                                                                                  QString::fromStdString(target));
        if (!result) {
            faults.add(QStringLiteral("%1: %2 after %3 ms, the connection idle for %4 ms before")
                           .arg(what, QString::fromStdString(httplib::to_string(result.error())))
                           .arg(ms)
                           .arg(idleMs));
            continue;
        }
        bytes += qint64(result->body.size());
        if (result->status != status) {
            faults.add(QStringLiteral("%1: status %2").arg(what).arg(result->status));
            continue;
        }
        const std::string &body = result->body;
        if (status == 400 && (body.empty() || body.find('\n') != body.size() - 1)) {
            faults.add(QStringLiteral("%1: the reason is not one line").arg(what));
        } else if (status == 200 && target.rfind("/services/quake/search", 0) == 0) {
            int events = 0;
            const QString error = eventsIn(body, events);
            const int expected = kind == 0 ? BigCount : EventsPerDay;
            if (!error.isEmpty() || events != expected)
                faults.add(QStringLiteral("%1: %2 events of %3 %4").arg(what).arg(events).arg(expected).arg(error));
        } else if (status == 200) {
            const std::string id = target.substr(target.rfind('/') + 1);
            if (body.find(id + "<") == std::string::npos || body.rfind("</html>\n") != body.size() - 8)
                faults.add(QStringLiteral("%1: not the event's whole page").arg(what));
        }
    }
}

int connectTo(int port, int receiveBuffer)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string request = "GET " + bigSearch + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

// Reads what is left; -1 when the connection broke rather than ended.
qint64 drain(int fd, QByteArray *tail)
{
    timeval wait { 20, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[65536];
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0)
            return total;
        if (got < 0)
            return errno == ECONNRESET ? total : -1;
        total += got;
        *tail = (*tail + QByteArray(buffer, int(got))).right(32);
    }
}

bool smallSearchServed(int port, int timeoutSeconds = 5)
{
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(timeoutSeconds, 0);
    http.set_connection_timeout(timeoutSeconds, 0);
    const httplib::Result result = http.Get("/services/quake/search?magnitudeLower=0&magnitudeUpper=12"
                                            "&startDate=2020-03-01&endDate=2020-03-01&outputFormat=quakeml1.0");
    return result && result->status == 200 && result->body.rfind("</quakeml>\n") == result->body.size() - 11;
}

} // namespace

void TestGatewayLoad::initTestCase()
{
    const QString main = files.writeFile(QStringLiteral("soak.txt"),
                                         fdsnText("soak", BigCount, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)));
    sideFile = files.writeFile(QStringLiteral("side.txt"),
                               fdsnText("side", 60000, QDateTime(QDate(2019, 1, 1), QTime(0, 0), Qt::UTC)));
    const GatewayProcess::Result imported = files.run({ "import", "--catalogue", files.catalogue(), main });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
}

void TestGatewayLoad::soak()
{
    GatewayProcess gateway;
    QVERIFY(QFile::copy(files.catalogue(), gateway.catalogue()));
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue() }));
    const qint64 pid = gateway.process().processId();

    // Imports of 2019 run one after another for as long as the clients do.
    int imports = 0;
    QStringList importFaults;
    QProcess import;
    import.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList importArguments = { "import", "--catalogue", gateway.catalogue(), sideFile };
    bool clientsDone = false;
    connect(&import, &QProcess::finished, this, [&](int code, QProcess::ExitStatus status) {
        ++imports;
        if (status != QProcess::NormalExit || code != 0)
            importFaults << QString::fromUtf8(import.readAll());
        if (!clientsDone)
            import.start(QStringLiteral(HARVIX_GATEWAY), importArguments);
    });
    import.start(QStringLiteral(HARVIX_GATEWAY), importArguments);

    constexpr int Clients = 16;
#ifndef __SANITIZE_ADDRESS__
    constexpr int Requests = 42;
#else
    constexpr int Requests = 14;   // a third of the work, at a quarter of the speed
#endif
    Faults faults;
    std::atomic<qint64> bytes { 0 };
    std::atomic<int> slowestMs { 0 }, finished { 0 }, letGo { 0 };
    const int port = gateway.port();
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c) {
        clients.emplace_back([&, c] {
            runClient(port, c, Requests, faults, bytes, slowestMs, letGo);
            ++finished;
        });
    }
    // The gateway's log is read while the clients run, so that its pipe
    // never fills.
    qint64 highestKiB = 0;
    while (finished < Clients) {
        QTest::qWait(50);
        highestKiB = std::max(highestKiB, residentKiB(pid, "VmRSS:"));
    }
    for (std::thread &client : clients)
        client.join();
    const double seconds = clock.elapsed() / 1000.0;
    clientsDone = true;
    import.waitForFinished(60000);
    const qint64 peakKiB = residentKiB(pid, "VmHWM:");

    qInfo("soak: %d clients, %d requests, %.0f MB in %.1f s; slowest answer %d ms; %d connections let go after "
          "idling; %d imports of 60,000 events alongside; gateway memory: highest sample %lld MB, peak %lld MB",
          Clients, Clients * Requests, bytes / 1e6, seconds, slowestMs.load(), letGo.load(), imports,
          highestKiB / 1024, peakKiB / 1024);
    const QStringList found = faults.list();
    QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("%1 faults, first: %2").arg(found.size()).arg(found.value(0))));
    QVERIFY2(importFaults.isEmpty(), qPrintable(importFaults.value(0)));
    QVERIFY(imports > 0);
#ifndef __SANITIZE_ADDRESS__
    QVERIFY2(peakKiB < 64 * 1024, qPrintable(QStringLiteral("peak %1 KiB").arg(peakKiB)));
#endif
    QVERIFY2(gateway.stop(SIGTERM), qPrintable(gateway.log().right(2000)));
}

void TestGatewayLoad::slowAndStalledReaders()
{
    // Three workers: the slow and the stalled reader may hold one each, and
    // the third must stay free for everyone else.
    GatewayProcess gateway;
    QVERIFY(QFile::copy(files.catalogue(), gateway.catalogue()));
    constexpr int WriteTimeout = 3;
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue(), "--workers", "3", "--write-timeout",
                            QString::number(WriteTimeout) }));
    const qint64 pid = gateway.process().processId();
    const int port = gateway.port();

    // The memory of a gateway that has streamed one big reply in full.
    httplib::Client warmUp("127.0.0.1", port);
    const httplib::Result whole = warmUp.Get(bigSearch.c_str());
    QVERIFY(whole && whole->status == 200);
    const qint64 fullSize = qint64(whole->body.size());
    warmUp.stop();
    QTest::qWait(200);
    const qint64 baselineKiB = residentKiB(pid, "VmRSS:");

    const int stalled = connectTo(port, 16 * 1024);
    QVERIFY(stalled >= 0);
    std::atomic<qint64> slowBytes { 0 };
    std::atomic<bool> keepReading { true };
    const int slow = connectTo(port, 16 * 1024);
    QVERIFY(slow >= 0);
    // 100 KB a second, in tenths.
    std::thread slowReader([&] {
        char buffer[10 * 1024];
        while (keepReading) {
            for (qint64 got = 0; got < qint64(sizeof buffer);) {
                const ssize_t n = ::recv(slow, buffer + got, sizeof buffer - size_t(got), 0);
                if (n <= 0)
                    return;
                got += n;
                slowBytes += n;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    // While both hold their workers, others are served, and memory does not
    // grow. Longer than the write time-out, so that the slow reader is seen
    // to be kept as long as it reads.
    const int readingSeconds = WriteTimeout + 3;
    qint64 highestKiB = 0;
    int served = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < readingSeconds * 1000) {
        served += smallSearchServed(port);
        highestKiB = std::max(highestKiB, residentKiB(pid, "VmRSS:"));
        QTest::qWait(250);
    }
    const qint64 slowRead = slowBytes;
    keepReading = false;
    slowReader.join();

    // Now neither reads: both must be dropped after the write time-out,
    // which frees their workers for three searches at once.
    QTest::qWait((WriteTimeout + 2) * 1000);
    std::vector<std::future<bool>> three;
    for (int i = 0; i < 3; ++i)
        three.push_back(std::async(std::launch::async, [port] { return smallSearchServed(port); }));
    for (std::future<bool> &search : three)
        QVERIFY(search.get());
    QByteArray stalledTail, slowTail;
    const qint64 stalledTotal = drain(stalled, &stalledTail);
    const qint64 slowTotal = slowRead + drain(slow, &slowTail);
    ::close(stalled);
    ::close(slow);

    qInfo("slow reader: %lld KB in %.1f s before it stopped, %lld KB in all of a %lld KB reply; stalled reader: "
          "%lld KB; %d small searches served meanwhile; gateway memory %lld MB after a whole reply, at most %lld MB "
          "during",
          slowRead / 1000, readingSeconds * 1.0, slowTotal / 1000, fullSize / 1000, stalledTotal / 1000, served,
          baselineKiB / 1024, highestKiB / 1024);
    // Four searches a second were asked for; the slow reader was never cut
    // off while it read.
    QVERIFY2(served >= readingSeconds * 3, qPrintable(QString::number(served)));
    QVERIFY2(slowRead >= readingSeconds * 90000, qPrintable(QString::number(slowRead)));
    for (const qint64 total : { stalledTotal, slowTotal })
        QVERIFY2(total > 0 && total < fullSize / 4, qPrintable(QString::number(total)));
    QVERIFY(!stalledTail.endsWith("</quakeml>\n") && !slowTail.endsWith("</quakeml>\n"));
#ifndef __SANITIZE_ADDRESS__
    QVERIFY2(highestKiB < baselineKiB + 4 * 1024,
             qPrintable(QStringLiteral("%1 KiB after a whole reply, %2 KiB during").arg(baselineKiB).arg(highestKiB)));
#endif
    QVERIFY(gateway.stop(SIGTERM));
}

void TestGatewayLoad::busyKeepAliveClientsLetOthersIn()
{
    // Two workers, each held by a client that asks for big searches back to
    // back on a keep-alive connection until a third one has been served.
    GatewayProcess gateway;
    QVERIFY(QFile::copy(files.catalogue(), gateway.catalogue()));
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue(), "--workers", "2" }));
    const int port = gateway.port();
    std::atomic<bool> thirdDone { false };
    std::atomic<int> busyFailures { 0 }, busyAsking { 0 }, busyDone { 0 };
    std::vector<std::thread> busy;
    for (int c = 0; c < 2; ++c) {
        busy.emplace_back([&] {
            httplib::Client http("127.0.0.1", port);
            http.set_keep_alive(true);
            QDeadlineTimer deadline(120000);
            for (bool first = true; !thirdDone && !deadline.hasExpired(); first = false) {
                const httplib::Result result = http.Get(bigSearch.c_str());
                busyFailures += !result || result->status != 200;
                busyAsking += first;
            }
            ++busyDone;
        });
    }
    const bool bothAsking = QTest::qWaitFor([&] { return busyAsking == 2; }, 60000);
    const bool thirdServed = bothAsking && smallSearchServed(port, 120);
    const bool busyStillAsking = busyDone == 0;
    thirdDone = true;
    for (std::thread &client : busy)
        client.join();
    QVERIFY(bothAsking);
    QVERIFY(thirdServed);
    QVERIFY(busyStillAsking);
    QCOMPARE(busyFailures.load(), 0);
    QVERIFY(gateway.stop(SIGTERM));
}

QTEST_GUILESS_MAIN(TestGatewayLoad)
#include "tst_gatewayload.moc"
