// One catalogue for many under lag, copies and failover: a throw-away
// primary and a hot standby of it kept by streaming replication, both on
// loopback, with gateways that read the standby.
//
// The cases share the primary, the standby and the reading gateway, and run
// in the order declared: anAbsentStandbyIsReadThroughThePrimary stops the
// standby and starts it again, and aPromotedStandbyIsNotRead promotes it,
// so they come after the cases that need it replaying, the promotion last.

#include "testsupport/fixtures.h"
#include "testsupport/gatewayprocess.h"
#include "testsupport/pgcluster.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QtTest>

class TestStandby : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aPollMissesNothingTheStandbyReplaysLate();
    void aPollAfterAQuietTimeGetsOnlyWhatChangedSince();
    void aCopyIsAChangeSeenByPolls();
    void importsInOppositeOrdersBothSucceed();
    void anAbsentStandbyIsReadThroughThePrimary();
    void theDatabaseBackIsAnsweredWithinRetryAfter();
    void theServersWordsGoThroughTheLog();
    void aPromotedStandbyIsNotRead();

private:
    // Waits until the standby has replayed all the primary has written.
    void waitForReplay();
    int psqlStandby(const QString &sql, QString *output) { return standby.psql(QStringLiteral("harvix"), sql, output); }

    PgCluster primary;
    PgCluster standby;
    QString uri;
    QString standbyUri;
    GatewayProcess reader;   // reads the standby, writes the primary
};

namespace {

// Events named prefix0, prefix1... in minutes from a time.
QByteArray events(const QByteArray &prefix, int count, const QDateTime &from, bool descending = false)
{
    QByteArray lines;
    for (int k = 0; k < count; ++k) {
        const int i = descending ? count - 1 - k : k;
        lines += prefix + QByteArray::number(i) + '|' + from.addSecs(qint64(i) * 60).toString(Qt::ISODate).toLatin1()
            + "|-41.2|174.8|12|||||ML|3.1|||earthquake\n";
    }
    return fdsnText(lines);
}

// The ids of an FDSN text reply.
QSet<QString> idsOf(const QByteArray &text)
{
    QSet<QString> ids;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            ids.insert(QString::fromLatin1(line.left(line.indexOf('|'))));
    }
    return ids;
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).chopped(1);
}

QString poll(const QString &after)
{
    return QStringLiteral("/fdsnws/event/1/query?format=text&updatedafter=%1").arg(after);
}

} // namespace

void TestStandby::initTestCase()
{
    QString error;
    QVERIFY2(primary.start(&error), qPrintable(error));
    uri = primary.createDatabase(QStringLiteral("harvix"), &error);
    QVERIFY2(!uri.isEmpty(), qPrintable(error));
    const GatewayProcess::Result made = reader.run(
        { "import", "--catalogue", uri,
          reader.writeFile(QStringLiteral("first.txt"), events("first", 5, QDateTime(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC))) });
    QVERIFY2(made.exitCode == 0, qPrintable(made.output));
    QVERIFY2(standby.startStandbyOf(primary, &error), qPrintable(error));
    standbyUri = standby.uri(QStringLiteral("harvix"));
    QVERIFY2(reader.start({ "--catalogue", uri, "--catalogue-read", standbyUri }), qPrintable(reader.log()));
    // The first line names both databases.
    QVERIFY2(reader.log().contains(QStringLiteral("from %1 (reading %2)").arg(uri, standbyUri)), qPrintable(reader.log()));
}

void TestStandby::waitForReplay()
{
    QString lsn;
    QCOMPARE(primary.psql(QStringLiteral("harvix"), QStringLiteral("SELECT pg_current_wal_lsn()"), &lsn), 0);
    const QString replayed = QStringLiteral("SELECT pg_last_wal_replay_lsn() >= '%1'::pg_lsn").arg(lsn);
    QString output;
    QTRY_VERIFY_WITH_TIMEOUT(psqlStandby(replayed, &output) == 0 && output == QLatin1String("t"), 30000);
}

// Replay paused on the standby while 50 events are imported: a poll made
// then gets none of them, and the next poll, for what changed after the
// time of that one, gets them all once the standby has replayed them.
void TestStandby::aPollMissesNothingTheStandbyReplaysLate()
{
    QString output;
    QCOMPARE(GatewayProcess::get(reader.url(QStringLiteral("/fdsnws/event/1/query?format=text"))).status, 200);
    QCOMPARE(psqlStandby(QStringLiteral("SELECT pg_wal_replay_pause()"), &output), 0);
    const GatewayProcess::Result imported = reader.run(
        { "import", "--catalogue", uri,
          reader.writeFile(QStringLiteral("late.txt"), events("late", 50, QDateTime(QDate(2026, 11, 20), QTime(0, 0), Qt::UTC))) });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));

    const QString firstPoll = now();
    const GatewayProcess::Reply before = GatewayProcess::get(reader.url(poll(QStringLiteral("2026-01-01T00:00:00"))));
    QVERIFY(!idsOf(before.body).contains(QStringLiteral("late0")));
    QCOMPARE(psqlStandby(QStringLiteral("SELECT pg_wal_replay_resume()"), &output), 0);
    waitForReplay();

    const GatewayProcess::Reply after = GatewayProcess::get(reader.url(poll(firstPoll)));
    QCOMPARE(after.status, 200);
    const QSet<QString> got = idsOf(after.body);
    for (int i = 0; i < 50; ++i)
        QVERIFY2(got.contains(QStringLiteral("late%1").arg(i)), qPrintable(QStringLiteral("late%1 missing").arg(i)));
}

// 100 events imported and replayed, then a quiet gateway: a poll for what
// changed after a time past the import is sent none of them once the
// gateway has seen that time, rather than all that changed since its last
// query before the quiet.
void TestStandby::aPollAfterAQuietTimeGetsOnlyWhatChangedSince()
{
    const GatewayProcess::Result imported = reader.run(
        { "import", "--catalogue", uri,
          reader.writeFile(QStringLiteral("quiet.txt"), events("quiet", 100, QDateTime(QDate(2026, 11, 25), QTime(0, 0), Qt::UTC))) });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    waitForReplay();
    // A time a few seconds on; the gateway is left quiet until it is past.
    const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(4);
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTimeUtc() > later.addSecs(2), 20000);
    QCOMPARE(GatewayProcess::get(reader.url(poll(later.toString(Qt::ISODateWithMs).chopped(1)))).status, 204);
    // A poll from before the import still gets them.
    const QSet<QString> got = idsOf(GatewayProcess::get(reader.url(poll(QStringLiteral("2026-01-01T00:00:00")))).body);
    QVERIFY(got.contains(QStringLiteral("quiet0")) && got.contains(QStringLiteral("quiet99")));
}

// A whole catalogue copied into a served, empty database is a change: a
// poll from before the copy gets every event of it.
void TestStandby::aCopyIsAChangeSeenByPolls()
{
    QString error;
    const QString target = primary.createDatabase(QStringLiteral("copied"), &error);
    QVERIFY2(!target.isEmpty(), qPrintable(error));
    GatewayProcess served;
    QVERIFY2(served.start({ "--catalogue", target }), qPrintable(served.log()));
    const QString file = served.catalogue();
    QCOMPARE(served.run({ "import", "--catalogue", file,
                          served.writeFile(QStringLiteral("old.txt"), events("old", 40, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC))) })
                 .exitCode,
             0);
    const QString beforeCopy = now();
    QCOMPARE(GatewayProcess::get(served.url(poll(beforeCopy))).status, 204);
    const GatewayProcess::Result copied = served.run({ "copy", file, target });
    QVERIFY2(copied.exitCode == 0 && copied.output.contains(QLatin1String("copied 40 events")), qPrintable(copied.output));
    const GatewayProcess::Reply reply = GatewayProcess::get(served.url(poll(beforeCopy)));
    QCOMPARE(reply.status, 200);
    QCOMPARE(idsOf(reply.body).size(), 40);
}

// Two files of the same ids, one in ascending order and one descending,
// imported at once: whichever the database makes a deadlock's victim is
// made again, and both succeed.
void TestStandby::importsInOppositeOrdersBothSucceed()
{
    const QDateTime from(QDate(2019, 1, 1), QTime(0, 0), Qt::UTC);
    const QString up = reader.writeFile(QStringLiteral("up.txt"), events("both", 30000, from));
    const QString down = reader.writeFile(QStringLiteral("down.txt"), events("both", 30000, from, true));
    QProcess first, second;
    for (auto [process, file] : { std::pair { &first, up }, std::pair { &second, down } }) {
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QStringLiteral(HARVIX_GATEWAY), { "import", "--catalogue", uri, file });
    }
    for (QProcess *process : { &first, &second }) {
        QVERIFY(process->waitForFinished(120000));
        QVERIFY2(process->exitCode() == 0, process->readAll().constData());
    }
    QString count;
    QCOMPARE(primary.psql(QStringLiteral("harvix"), QStringLiteral("SELECT count(*) FROM event WHERE public_id LIKE 'both%'"), &count),
             0);
    QCOMPARE(count, QStringLiteral("30000"));
}

// The standby away and the primary up: reads go to the primary, said once,
// and to the standby again once it is back, said once.
void TestStandby::anAbsentStandbyIsReadThroughThePrimary()
{
    const QString path = QStringLiteral("/fdsnws/event/1/query?eventid=first1&format=text");
    QCOMPARE(GatewayProcess::get(reader.url(path)).status, 200);
    standby.stop();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(GatewayProcess::get(reader.url(path)).status, 200);
    QCOMPARE(reader.log().count(QLatin1String("reading from the primary while the standby cannot be read")), 1);
    QString error;
    QVERIFY2(standby.restart(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT((GatewayProcess::get(reader.url(path)), reader.log().contains(QLatin1String("reading from the standby"))),
                             20000);
    QCOMPARE(reader.log().count(QLatin1String("reading from the standby")), 1);
    QCOMPARE(reader.log().count(QLatin1String("reading from the primary while")), 1);
}

// A gateway of the primary alone, the primary away for several seconds:
// once it is back, the gateway answers within the Retry-After its 503s gave.
void TestStandby::theDatabaseBackIsAnsweredWithinRetryAfter()
{
    GatewayProcess gateway;
    QVERIFY2(gateway.start({ "--catalogue", uri }), qPrintable(gateway.log()));
    const QString path = QStringLiteral("/fdsnws/event/1/query?eventid=first1&format=text");
    QCOMPARE(GatewayProcess::get(gateway.url(path)).status, 200);
    primary.stop();
    // Asked again and again, as clients do, for long enough that a wait
    // doubling without bound would outgrow the promise.
    QByteArray retryAfter;
    QElapsedTimer away;
    away.start();
    while (away.elapsed() < 8000) {
        const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(path));
        QCOMPARE(reply.status, 503);
        retryAfter = reply.headers.value("retry-after");
        QTest::qWait(50);
    }
    QCOMPARE(retryAfter, QByteArray("5"));
    QString error;
    QVERIFY2(primary.restart(&error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(GatewayProcess::get(gateway.url(path)).status, 200, retryAfter.toInt() * 1000);
    waitForReplay();
}

// What the server says to a connection outside a reply (its listener's,
// terminated by an administrator) reaches the log through the gateway,
// with its prefix.
void TestStandby::theServersWordsGoThroughTheLog()
{
    GatewayProcess listening;
    QVERIFY2(listening.start({ "--catalogue", uri }), qPrintable(listening.log()));
    QString output;
    // The listener, once it has read the change log after its LISTEN.
    const QString listener = QStringLiteral("FROM pg_stat_activity WHERE application_name = 'harvix-gateway'"
                                            " AND query LIKE '%MAX(stamp)%'");
    QTRY_VERIFY_WITH_TIMEOUT(primary.psql(QStringLiteral("harvix"), QStringLiteral("SELECT count(*) ") + listener, &output) == 0
                                 && output.toInt() > 0,
                             20000);
    QCOMPARE(primary.psql(QStringLiteral("harvix"), QStringLiteral("SELECT count(pg_terminate_backend(pid)) ") + listener, &output),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(listening.log().contains(QLatin1String("terminating connection")), 20000);
    for (const QString &line : listening.log().split(u'\n')) {
        if (line.contains(QLatin1String("terminating connection")))
            QVERIFY2(line.startsWith(QLatin1String("harvix-gateway: ")), qPrintable(line));
    }
}

// The standby promoted: a running gateway stops reading it (it no longer
// hears of the primary's writes) and reads the primary, and a gateway
// started with it as its read server is refused with one line.
void TestStandby::aPromotedStandbyIsNotRead()
{
    QString output;
    QCOMPARE(standby.runTool(QStringLiteral("pg_ctl"), { "-D", standby.dataDirectory(), "-w", "promote" }, &output), 0);
    const GatewayProcess::Result imported = reader.run(
        { "import", "--catalogue", uri,
          reader.writeFile(QStringLiteral("after.txt"), events("promoted", 1, QDateTime(QDate(2026, 11, 25), QTime(0, 0), Qt::UTC))) });
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    const QString path = QStringLiteral("/fdsnws/event/1/query?eventid=promoted0&format=text");
    QTRY_COMPARE_WITH_TIMEOUT(GatewayProcess::get(reader.url(path)).status, 200, 20000);
    QVERIFY2(reader.log().contains(QLatin1String("is not a standby")), qPrintable(reader.log()));

    GatewayProcess refused;
    const GatewayProcess::Result started = refused.run({ "serve", "--catalogue", uri, "--catalogue-read", standbyUri });
    QCOMPARE(started.exitCode, 1);
    QVERIFY2(started.output.contains(QLatin1String("is not a standby")) && started.output.count(u'\n') == 1,
             qPrintable(started.output));
}

QTEST_MAIN(TestStandby)
#include "tst_standby.moc"
