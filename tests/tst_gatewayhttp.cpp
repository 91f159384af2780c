// The gateway's HTTP layer against clients that do not play fair, over raw
// sockets on loopback: requests beyond its limits, a flood of header lines,
// slow senders, clients that ignore Connection: close; and the access log
// line of every reply.

#include "http/accesslog.h"
#include "testsupport/gatewayprocess.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class TestGatewayHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void limits_data();
    void limits();
    void closing_data();
    void closing();
    void aThousandRequestsAConnection();
    void slowSendersHoldNoWorker();
    void studiesHoldNoWorker();
    void headerFloodCostsNoMemory();
    void accessLogLines_data();
    void accessLogLines();

private:
    GatewayProcess gateway;
};

namespace {

// A blocking socket to the gateway, with time-outs on both directions.
class RawClient
{
public:
    explicit RawClient(int port)
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval limit { 10, 0 };
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_socket); }

    bool connected() const { return m_connected; }
    int socket() const { return m_socket; }
    // False once the gateway has closed its end.
    bool send(const QByteArray &bytes)
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(m_socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }
    // Everything until the gateway closes the connection (closed is then
    // true) or sends nothing for the time-out.
    QByteArray readToEnd(bool *closed = nullptr)
    {
        QByteArray all;
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::recv(m_socket, buffer, sizeof buffer, 0)) > 0)
            all.append(buffer, n);
        if (closed)
            *closed = n == 0 || (n < 0 && errno == ECONNRESET);
        return all;
    }
    // Whether any of the reply has come yet, without waiting for it.
    bool hasReply() const
    {
        char byte = 0;
        return ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }
    void setReadTimeout(int ms)
    {
        const timeval limit { ms / 1000, (ms % 1000) * 1000 };
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }

private:
    int m_socket = -1;
    bool m_connected = false;
};

qint64 peakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression peak(QStringLiteral("VmHWM:\\s+(\\d+) kB"));
    return peak.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// The access log lines so far, without their address and time.
QStringList logLines(const QString &log)
{
    QStringList lines;
    const QRegularExpression line(QStringLiteral("^127\\.0\\.0\\.1 - - \\[[^]]+\\] (.*)$"),
                                  QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(log); match.hasNext();)
        lines << match.next().captured(1);
    return lines;
}

// The log lines once the gateway has written all it had to write: a
// request of its own is sent after every earlier one has ended, and its
// line is waited for.
QStringList settledLines(const GatewayProcess &gateway)
{
    static int marks = 0;
    const QString mark = QStringLiteral("/settled-%1").arg(++marks);
    GatewayProcess::get(gateway.url(mark));
    const QString line = QStringLiteral("\"GET %1 ").arg(mark);
    QElapsedTimer waited;
    waited.start();
    while (!gateway.log().contains(line) && waited.elapsed() < 10000)
        QTest::qWait(10);
    return logLines(gateway.log());
}

struct Reply
{
    int status = 0;
    QByteArray head;   // lower case
    QByteArray body;
};

QList<Reply> repliesIn(const QByteArray &bytes)
{
    QList<Reply> replies;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype end = bytes.indexOf("\r\n\r\n", at);
        if (end < 0)
            break;
        Reply reply;
        reply.head = bytes.mid(at, end - at).toLower();
        reply.status = reply.head.mid(9, 3).toInt();
        const QRegularExpression length(QStringLiteral("content-length: (\\d+)"));
        const qsizetype bodyLength = length.match(QString::fromLatin1(reply.head)).captured(1).toLongLong();
        reply.body = bytes.mid(end + 4, bodyLength);
        replies << reply;
        at = end + 4 + bodyLength;
    }
    return replies;
}

} // namespace

void TestGatewayHttp::initTestCase()
{
    QVERIFY(gateway.start({ "--catalogue", gateway.catalogue(), "--workers", "2" }));
}

void TestGatewayHttp::limits_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");        // the reply's body begins so
    QTest::addColumn<QString>("logged");        // the log's request line

    const QByteArray host = "Host: gateway\r\n";
    QTest::newRow("target of 10 KB") << "GET /" + QByteArray(10000, 'a') + " HTTP/1.1\r\n" + host + "\r\n" << 414
        << "the request target is 10001 bytes long; the gateway takes at most 8192" << "GET /aaaa";
    QTest::newRow("target beyond the connection's memory") << "GET /" + QByteArray(60000, 'a') + " HTTP/1.1\r\n" + host + "\r\n"
        << 414 << "<html>" << "-";
    QTest::newRow("150 header fields") << "GET / HTTP/1.1\r\n" + host + QByteArray("X-A: 1\r\n").repeated(150) + "\r\n"
        << 431 << "the request has 151 header fields in " << "GET / HTTP/1.1";
    QTest::newRow("20 KB of header fields") << "GET / HTTP/1.1\r\n" + host + "Cookie: " + QByteArray(20000, 'c') + "\r\n\r\n"
        << 431 << "the request has 2 header fields in 20025 bytes; the gateway takes at most 100 fields in 16384 bytes"
        << "GET / HTTP/1.1";
    QTest::newRow("a body on POST") << "POST / HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello" << 405
        << "method POST is not allowed: use GET or HEAD" << "POST / HTTP/1.1";
    QTest::newRow("Range on a page") << "GET / HTTP/1.1\r\n" + host + "Range: bytes=0-99\r\nConnection: close\r\n\r\n"
        << 200 << "<!DOCTYPE html>" << "GET / HTTP/1.1";
    QTest::newRow("control characters in the target") << QByteArray("GET /\"x\x01 HTTP/1.1\r\n") + host + "\r\n" << 404
        << "<!DOCTYPE html>" << "GET /\\x22x\\x01 HTTP/1.1";
}

void TestGatewayHttp::limits()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(QString, logged);
    const int before = settledLines(gateway).size();
    RawClient client(gateway.port());
    QVERIFY(client.connected());
    client.send(request);
    const QList<Reply> replies = repliesIn(client.readToEnd());
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0].status, status);
    QVERIFY2(replies[0].body.startsWith(reason.toUtf8()), replies[0].body.left(200).constData());
    // Refusals close the connection, and say so once.
    if (status == 405 || status == 414 || status == 431)
        QCOMPARE(replies[0].head.count("connection: close"), 1);
    if (replies[0].head.contains("text/plain"))
        QCOMPARE(replies[0].body.count('\n'), 1);
    QCOMPARE(replies[0].head.contains("content-range"), false);

    // Exactly one line for the reply, with its status and its own size.
    QTRY_COMPARE(logLines(gateway.log()).size(), before + 1);
    const QString line = logLines(gateway.log()).constLast();
    QVERIFY2(line.startsWith(u'"' + logged), qPrintable(line.left(200)));
    QVERIFY2(line.endsWith(QStringLiteral("\" %1 %2").arg(status).arg(replies[0].body.size())), qPrintable(line.right(200)));
}

void TestGatewayHttp::closing_data()
{
    QTest::addColumn<QByteArray>("requests");   // sent at once, without waiting
    QTest::addColumn<int>("answered");

    const QByteArray page = "GET / HTTP/1.1\r\nHost: gateway\r\n\r\n";
    // A client that ignores the gateway's Connection: close and goes on.
    QTest::newRow("the request asks to close")
        << "GET / HTTP/1.1\r\nHost: gateway\r\nConnection: close\r\n\r\n" + page.repeated(5) << 1;
    QTest::newRow("a refused method") << "DELETE / HTTP/1.1\r\nHost: gateway\r\n\r\n" + page.repeated(5) << 1;
}

void TestGatewayHttp::closing()
{
    QFETCH(QByteArray, requests);
    QFETCH(int, answered);
    RawClient client(gateway.port());
    QVERIFY(client.connected());
    client.send(requests);
    bool closed = false;
    const QList<Reply> replies = repliesIn(client.readToEnd(&closed));
    QVERIFY(closed);
    QCOMPARE(replies.size(), answered);
    for (qsizetype i = 0; i < replies.size(); ++i) {
        // Only the last says that it closes, and says it once.
        QCOMPARE(replies[i].head.count("connection: close"), i + 1 == replies.size() ? 1 : 0);
    }
}

void TestGatewayHttp::aThousandRequestsAConnection()
{
    // Asked one after another by a client that ignores Connection: close.
    RawClient client(gateway.port());
    QVERIFY(client.connected());
    const QByteArray page = "GET /nothing HTTP/1.1\r\nHost: gateway\r\n\r\n";
    int answered = 0;
    QByteArray bytes;
    while (answered < 1001 && client.send(page)) {
        bytes.clear();
        char buffer[4096];
        ssize_t n = 0;
        while (!bytes.contains("</html>") && (n = ::recv(client.socket(), buffer, sizeof buffer, 0)) > 0)
            bytes.append(buffer, n);
        if (n <= 0)
            break;
        ++answered;
        // The gateway's log comes through a pipe that must not fill up.
        QCoreApplication::processEvents();
        if (bytes.toLower().contains("connection: close"))
            break;
    }
    QCOMPARE(answered, 1000);
    bool closed = false;
    client.readToEnd(&closed);
    QVERIFY(closed);
}

void TestGatewayHttp::slowSendersHoldNoWorker()
{
    // Four clients send their request a byte every half second beside a
    // gateway of two workers; a normal client is served meanwhile, and the
    // slow ones get 408 once their 10 s are up.
    const int before = settledLines(gateway).size();
    const QByteArray request = "GET / HTTP/1.1\r\nHost: gateway\r\nUser-Agent: slow\r\n\r\n";
    std::vector<std::thread> slow;
    std::atomic<int> timedOut { 0 };
    std::atomic<int> sentBytes { 0 };
    std::atomic<bool> stop { false };
    for (int c = 0; c < 4; ++c) {
        slow.emplace_back([&] {
            RawClient client(gateway.port());
            for (qsizetype i = 0; i < request.size() && !stop; ++i) {
                if (!client.send(request.mid(i, 1)))
                    break;
                ++sentBytes;
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            client.setReadTimeout(2000);
            if (repliesIn(client.readToEnd()).value(0).status == 408)
                ++timedOut;
        });
    }
    auto joinAll = qScopeGuard([&] {
        stop = true;
        for (std::thread &thread : slow)
            thread.join();
    });
    // Every slow client well into its request before the normal ones come.
    QTRY_VERIFY_WITH_TIMEOUT(sentBytes >= 4 * 3, 10000);
    for (int i = 0; i < 3; ++i) {
        RawClient normal(gateway.port());
        QVERIFY(normal.send("GET / HTTP/1.1\r\nHost: gateway\r\nConnection: close\r\n\r\n"));
        normal.setReadTimeout(2000);
        QCOMPARE(repliesIn(normal.readToEnd()).value(0).status, 200);
    }
    // Served while the slow ones still send: none has had its 408 yet.
    QVERIFY2(!logLines(gateway.log()).mid(before).contains(QStringLiteral("\"-\" 408 51")), qPrintable(gateway.log().right(3000)));
    joinAll.dismiss();
    for (std::thread &thread : slow)
        thread.join();
    QCOMPARE(timedOut.load(), 4);
    QTRY_COMPARE(logLines(gateway.log()).mid(before).count(QStringLiteral("\"-\" 408 51")), 4);
}

void TestGatewayHttp::studiesHoldNoWorker()
{
    // A gateway of one worker over the shipped catalogue: six declusterings
    // of all of it at once, then a small FDSN query, which is answered while
    // the studies are still worked out; each study is answered in full.
    GatewayProcess own;
    QVERIFY2(own.start({ "--workers", "1" }), qPrintable(own.log()));
    const QByteArray study = "GET /decluster?method=nearest-neighbour HTTP/1.1\r\nHost: gateway\r\nConnection: close\r\n\r\n";
    std::vector<std::unique_ptr<RawClient>> studies;
    for (int i = 0; i < 6; ++i) {
        studies.push_back(std::make_unique<RawClient>(own.port()));
        QVERIFY(studies.back()->send(study));
    }
    RawClient small(own.port());
    QVERIFY(small.send("GET /fdsnws/event/1/query?starttime=2026-07-01&format=text HTTP/1.1\r\nHost: gateway\r\n"
                       "Connection: close\r\n\r\n"));
    small.setReadTimeout(120000);
    QCOMPARE(repliesIn(small.readToEnd()).value(0).status, 200);
    const auto waiting = std::count_if(studies.begin(), studies.end(), [](const auto &client) { return !client->hasReply(); });
    QVERIFY2(waiting >= 4, qPrintable(QStringLiteral("%1 of 6 studies were answered before the small query").arg(6 - waiting)));
    for (const auto &client : studies) {
        client->setReadTimeout(300000);
        const QList<Reply> replies = repliesIn(client->readToEnd());
        QCOMPARE(replies.value(0).status, 200);
        QVERIFY(replies.value(0).body.startsWith("#threshold="));
    }
}

void TestGatewayHttp::headerFloodCostsNoMemory()
{
    // 100 MB of header lines: refused once the connection's memory is full,
    // and the gateway stays small.
    const int before = settledLines(gateway).size();
    RawClient client(gateway.port());
    QVERIFY(client.send("GET / HTTP/1.1\r\nHost: gateway\r\n"));
    const QByteArray line = "X-Flood: " + QByteArray(1000, 'y') + "\r\n";
    qint64 sent = 0;
    while (sent < 100'000'000 && client.send(line.repeated(100)))
        sent += line.size() * 100;
    // What the kernel's buffers take on loopback, and no more.
    QVERIFY2(sent < 32'000'000, "the gateway read on");
    QTRY_COMPARE(logLines(gateway.log()).mid(before), QStringList(QStringLiteral("\"-\" 431 143")));
    QVERIFY2(peakKiB(gateway.process().processId()) < 64 * 1024, "the gateway grew with the flood");
}

void TestGatewayHttp::accessLogLines_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("a search") << QByteArray("GET /services/quake/search?a=1 HTTP/1.1") << 512
        << QByteArray("192.0.2.1 - - [08/Dec/2026:13:45:07 +0000] \"GET /services/quake/search?a=1 HTTP/1.1\" 200 512\n");
    QTest::newRow("a forged line") << QByteArray("GET /x\" 200 1\n10.0.0.1 - - [01/Jan/2026:00:00:00 +0000] \"GET / HTTP/1.1")
        << 0 << QByteArray("192.0.2.1 - - [08/Dec/2026:13:45:07 +0000] \"GET /x\\x22 200 1\\x0A10.0.0.1 - - "
                           "[01/Jan/2026:00:00:00 +0000] \\x22GET / HTTP/1.1\" 200 -\n");
    QTest::newRow("no request line") << QByteArray("-") << 0
                                     << QByteArray("192.0.2.1 - - [08/Dec/2026:13:45:07 +0000] \"-\" 200 -\n");
}

void TestGatewayHttp::accessLogLines()
{
    QFETCH(QByteArray, request);
    QFETCH(int, bytes);
    QFETCH(QByteArray, expected);
    const std::time_t when = QDateTime(QDate(2026, 12, 8), QTime(13, 45, 7), Qt::UTC).toSecsSinceEpoch();
    const std::string text = request == "-" ? std::string("-") : AccessLog::escaped(request.toStdString());
    QCOMPARE(QByteArray::fromStdString(AccessLog::line("192.0.2.1", text, 200, std::uint64_t(bytes), when)), expected);
}

QTEST_GUILESS_MAIN(TestGatewayHttp)
#include "tst_gatewayhttp.moc"
