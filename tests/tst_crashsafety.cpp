#include "catalogue/sqlitecatalogue.h"

#include "testsupport/gatewayprocess.h"
#include "testsupport/upstreamstandin.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <httplib.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

// The catalogue through crashes and bad disks: the gateway killed with
// SIGKILL at random moments of an import and of a sync (more kills under
// CI=true), a file-size limit during an import, and catalogues that it
// must not touch.
class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killsDuringImport();
    void killsDuringSync();
    void killsDuringImportUnderLoad();
    void fullDiskDuringImport();
    void unusableCatalogues_data();
    void unusableCatalogues();

private:
    int kills = 0;
    QRandomGenerator random { 20261208 };
};

namespace {

const QByteArray fdsnHeader = "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID"
                              "|MagType|Magnitude|MagAuthor|EventLocationName|EventType\n";

QByteArray events(const QByteArray &prefix, int count)
{
    QByteArray text = fdsnHeader;
    for (int i = 0; i < count; ++i)
        text += prefix + QByteArray::number(i) + "|2024-01-01T00:00:00Z|-41|174|10|||||ML|3|||earthquake\n";
    return text;
}

qint64 count(const SqliteCatalogue &catalogue, const QString &where)
{
    QSqlQuery query(catalogue.connection());
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM event WHERE ") + where) && query.next()
        ? query.value(0).toLongLong() : -1;
}

bool sound(const SqliteCatalogue &catalogue)
{
    QSqlQuery query(catalogue.connection());
    return query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next()
        && query.value(0).toString() == QLatin1String("ok");
}

int rounds()
{
    return qEnvironmentVariable("CI") == QLatin1String("true") ? 30 : 5;
}

// HARVIX_KILL_ROUNDS asks for a longer run (500 and more, by hand).
int roundsUnderLoad()
{
    bool given = false;
    const int asked = qEnvironmentVariableIntValue("HARVIX_KILL_ROUNDS", &given);
    return given && asked > 0 ? asked : qEnvironmentVariable("CI") == QLatin1String("true") ? 40 : 10;
}

// Starts the gateway, kills it after the delay, and returns all it printed.
QByteArray killAfter(const QStringList &arguments, int delayMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(HARVIX_GATEWAY), arguments);
    process.waitForStarted();
    QTest::qWait(delayMs);
    // A pid of 0 would be this test's own process group.
    if (process.state() == QProcess::Running && process.processId() > 0)
        ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished();
    return process.readAll();
}

QByteArray hashOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

void TestCrashSafety::initTestCase()
{
    qInfo("%d rounds of each kind of kill", rounds());
}

void TestCrashSafety::killsDuringImport()
{
    GatewayProcess files;
    QStringList paths;
    for (int f = 0; f < 4; ++f)
        paths << files.writeFile(QStringLiteral("file%1.txt").arg(f), events("f" + QByteArray::number(f) + "e", 15000));

    for (int round = 0; round < rounds(); ++round) {
        const QString path = files.path(QStringLiteral("round%1.sqlite").arg(round));
        const int delay = 20 + int(random.bounded(900));
        const QString output = QString::fromUtf8(killAfter(QStringList { "import", "--catalogue", path } + paths, delay));
        ++kills;

        SqliteCatalogue catalogue(path);
        QString error;
        if (!QFile::exists(path))
            continue;   // killed before the catalogue was made
        QVERIFY2(catalogue.open(&error), qPrintable(error));
        QVERIFY2(sound(catalogue), qPrintable(path));
        for (int f = 0; f < 4; ++f) {
            const qint64 n = count(catalogue, QStringLiteral("source = 'file%1.txt'").arg(f));
            const bool reported = output.contains(QStringLiteral("file%1.txt: 15000 added").arg(f));
            // Reported files are whole; others whole (killed before the report) or absent.
            QVERIFY2(reported ? n == 15000 : (n == 0 || n == 15000),
                     qPrintable(QStringLiteral("round %1, %2 ms: file%3 has %4 events").arg(round).arg(delay).arg(f).arg(n)));
        }
        const GatewayProcess::Result second = files.run(QStringList { "import", "--catalogue", path } + paths);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(count(catalogue, QStringLiteral("1 = 1")), qint64(60000));
    }
}

void TestCrashSafety::killsDuringSync()
{
    // 2,000 events over 70 days: ten week-long windows of 30 ms each.
    UpstreamStandIn server(UpstreamStandIn::Protocol::Fdsn);
    EventRow row;
    row.latitude = -40;
    row.longitude = 175;
    row.magnitude = 3;
    const qint64 start = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() * 1000;
    const qint64 step = qint64(70) * 86400 * 1000000 / 2000;
    for (int i = 0; i < 2000; ++i) {
        row.publicId = QStringLiteral("s%1").arg(i);
        row.originTimeUs = start + i * step;
        server.addEvent(row);
    }
    server.setFault([](const httplib::Request &, httplib::Response &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return false;
    });
    QVERIFY(server.start());

    GatewayProcess files;
    for (int round = 0; round < rounds(); ++round) {
        const QString path = files.path(QStringLiteral("sync%1.sqlite").arg(round));
        const QStringList sync = { "sync", "--catalogue", path, "--upstream", server.url(), "--from", "2024-01-01",
                                   "--to", "2024-03-10" };
        const QString output = QString::fromUtf8(killAfter(sync, 20 + int(random.bounded(500))));
        ++kills;
        if (!QFile::exists(path))
            continue;
        SqliteCatalogue catalogue(path);
        QString error;
        QVERIFY2(catalogue.open(&error), qPrintable(error));
        QVERIFY(sound(catalogue));
        // Every week is whole or absent, and those reported done are whole.
        for (int week = 0; week < 10; ++week) {
            const qint64 from = start + qint64(week) * 7 * 86400 * 1000000;
            const qint64 to = from + qint64(7) * 86400 * 1000000;
            const qint64 whole = (to - 1 - start) / step - (from - 1 - start) / step + (week == 0 ? 1 : 0);
            const qint64 n = count(catalogue, QStringLiteral("origin_time >= %1 AND origin_time < %2").arg(from).arg(to));
            const bool reported = output.contains(QStringLiteral("%1 of 10 windows done").arg(week + 1));
            QVERIFY2(reported ? n == whole : (n == 0 || n == whole),
                     qPrintable(QStringLiteral("round %1, week %2: %3 of %4 events").arg(round).arg(week).arg(n).arg(whole)));
        }
        const GatewayProcess::Result second = files.run(sync);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(count(catalogue, QStringLiteral("1 = 1")), qint64(2000));
    }
    qInfo("%d kills in all", kills);
}

// Imports killed at random moments into a catalogue that a gateway serves
// meanwhile, while two clients search it without pause and two threads keep
// the cores busy: after every kill the catalogue is sound and each file's
// events are all there or none of them.
void TestCrashSafety::killsDuringImportUnderLoad()
{
    GatewayProcess served;
    QStringList paths;
    for (int f = 0; f < 4; ++f)
        paths << served.writeFile(QStringLiteral("load%1.txt").arg(f), events("l" + QByteArray::number(f) + "e", 3000));
    const QString path = served.catalogue();
    QCOMPARE(served.run({ "import", "--catalogue", path, served.writeFile(QStringLiteral("seed.txt"), events("seed", 10)) }).exitCode,
             0);
    QVERIFY2(served.start({ "--catalogue", path }), qPrintable(served.log()));
    std::atomic<bool> stop { false };
    std::atomic<int> searched { 0 };
    std::vector<std::thread> load;
    for (int c = 0; c < 2; ++c) {
        load.emplace_back([&] {
            httplib::Client http("127.0.0.1", served.port());
            while (!stop) {
                if (const auto reply = http.Get("/fdsnws/event/1/query?format=text&minmagnitude=2"); reply && reply->status < 300)
                    ++searched;
            }
        });
        load.emplace_back([&] {
            volatile double sum = 0;
            while (!stop) {
                for (int i = 0; i < 100000; ++i)
                    sum = sum + std::sqrt(double(i));
            }
        });
    }
    auto joinAll = qScopeGuard([&] {
        stop = true;
        for (std::thread &thread : load)
            thread.join();
    });
    const int rounds = roundsUnderLoad();
    for (int round = 0; round < rounds; ++round) {
        const int delay = 20 + int(random.bounded(600));
        const QString output = QString::fromUtf8(killAfter(QStringList { "import", "--catalogue", path } + paths, delay));
        ++kills;
        SqliteCatalogue catalogue(path);
        QString error;
        QVERIFY2(catalogue.open(&error), qPrintable(error));
        QVERIFY2(sound(catalogue), qPrintable(QStringLiteral("round %1, killed after %2 ms").arg(round).arg(delay)));
        for (int f = 0; f < 4; ++f) {
            const qint64 n = count(catalogue, QStringLiteral("source = 'load%1.txt'").arg(f));
            const bool reported = output.contains(QStringLiteral("load%1.txt: ").arg(f));
            QVERIFY2(reported ? n == 3000 : (n == 0 || n == 3000),
                     qPrintable(QStringLiteral("round %1, %2 ms: load%3 has %4 events").arg(round).arg(delay).arg(f).arg(n)));
        }
    }
    joinAll.dismiss();
    stop = true;
    for (std::thread &thread : load)
        thread.join();
    // Searched all the while, and whole after one import that is not killed.
    QVERIFY(searched > 0);
    QCOMPARE(served.run(QStringList { "import", "--catalogue", path } + paths).exitCode, 0);
    SqliteCatalogue catalogue(path);
    QString error;
    QVERIFY2(catalogue.open(&error), qPrintable(error));
    QVERIFY(sound(catalogue));
    QCOMPARE(count(catalogue, QStringLiteral("source LIKE 'load%'")), qint64(12000));
    qInfo("%d imports killed under load, %d searches answered meanwhile", rounds, searched.load());
}

void TestCrashSafety::fullDiskDuringImport()
{
    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, gateway.writeFile("small.txt", events("small", 100)) }).exitCode, 0);
    const QString big = gateway.writeFile("big.txt", events("big", 200000));
    const QByteArray before = hashOf(catalogue);
    const QByteArray walBefore = hashOf(catalogue + QStringLiteral("-wal"));

    // No file may grow past 2 MB: the catalogue's log fills up mid-import.
    gateway.setChildSetup([] {
        const rlimit limit { 2 * 1024 * 1024, 2 * 1024 * 1024 };
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    const GatewayProcess::Result full = gateway.run({ "import", "--catalogue", catalogue, big });
    QCOMPARE(full.exitCode, 1);
    QVERIFY2(full.output.contains(big + QStringLiteral(": the catalogue cannot be written: ")), qPrintable(full.output));
    QVERIFY2(full.output.contains(QLatin1String("; nothing of it was imported")), qPrintable(full.output));
    gateway.setChildSetup(nullptr);

    QCOMPARE(hashOf(catalogue), before);
    QVERIFY(gateway.start({ "--catalogue", catalogue }));
    const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(QStringLiteral(
        "/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=2024-01-01&endDate=2024-01-01"
        "&outputFormat=quakeml1.0")));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body.count("<event "), qsizetype(100));
}

void TestCrashSafety::unusableCatalogues_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("serveError");    // empty when serve must answer
    QTest::addColumn<QString>("importError");
    QTest::newRow("not SQLite") << "garbage" << "not a Harvix catalogue: the file is not an SQLite database"
                                << "not a Harvix catalogue: the file is not an SQLite database";
    QTest::newRow("another program's SQLite") << "foreign"
        << "not a Harvix catalogue: an SQLite database of another program (tables places); it was left as it is"
        << "not a Harvix catalogue: an SQLite database of another program";
    QTest::newRow("another program's SQLite, left with its WAL") << "foreign-wal"
        << "not a Harvix catalogue: an SQLite database of another program (tables places); it was left as it is"
        << "not a Harvix catalogue: an SQLite database of another program";
    QTest::newRow("another program's SQLite, by its id") << "foreign-id"
        << "not a Harvix catalogue: an SQLite database of another program (application id 1234)"
        << "(application id 1234); it was left as it is";
    QTest::newRow("newer schema") << "newer"
                                  << QStringLiteral("written by a newer harvix-gateway (schema 99; this one reads schema %1)")
                                         .arg(SqliteCatalogue::SchemaVersion)
                                  << "written by a newer harvix-gateway";
    QTest::newRow("read-only") << "readonly" << QString() << "is read-only: nothing can be imported into it";
    QTest::newRow("read-only, in a read-only folder") << "readonly-folder" << QString()
                                                      << "is read-only: nothing can be imported into it";
}

void TestCrashSafety::unusableCatalogues()
{
    QFETCH(QString, kind);
    QFETCH(QString, serveError);
    QFETCH(QString, importError);

    GatewayProcess gateway;
    const QString catalogue = gateway.catalogue();
    const QString more = gateway.writeFile("more.txt", events("more", 10));
    if (kind == QLatin1String("garbage")) {
        gateway.writeFile("catalogue.sqlite", QByteArray("these are not the events you are looking for\n").repeated(100));
    } else if (kind.startsWith(QLatin1String("foreign"))) {
        // Another program's database, in rollback-journal mode as most are,
        // or in WAL mode as that program left it when it stopped.
        const bool wal = kind == QLatin1String("foreign-wal");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kind);
        db.setDatabaseName(wal ? gateway.path(QStringLiteral("other.sqlite")) : catalogue);
        QVERIFY(db.open());
        QSqlQuery query(db);
        if (wal)
            QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE places (name TEXT, latitude REAL)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO places VALUES ('Wellington', -41.29)")));
        if (kind == QLatin1String("foreign-id"))
            QVERIFY(query.exec(QStringLiteral("PRAGMA application_id = 1234")));
        query.finish();
        if (wal) {
            for (const char *suffix : { "", "-wal" })
                QVERIFY(QFile::copy(db.databaseName() + QLatin1String(suffix), catalogue + QLatin1String(suffix)));
        }
        db.close();
    } else {
        QCOMPARE(gateway.run({ "import", "--catalogue", catalogue, gateway.writeFile("one.txt", events("one", 3)) }).exitCode, 0);
        if (kind == QLatin1String("newer")) {
            SqliteCatalogue newer(catalogue);
            QString error;
            QVERIFY(newer.open(&error));
            QSqlQuery query(newer.connection());
            QVERIFY(query.exec(QStringLiteral("UPDATE catalogue_info SET value = '99' WHERE name = 'schema_version'")));
        } else {
            QFile::setPermissions(catalogue, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            const QFile::Permissions folder = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                | (kind == QLatin1String("readonly") ? QFile::WriteOwner | QFile::WriteOther : QFile::Permissions());
            QFile::setPermissions(QFileInfo(catalogue).absolutePath(), folder);
            // Root writes any file: the gateway runs as nobody to meet the permissions.
            if (geteuid() == 0) {
                QVERIFY(gateway.useCopyOfProgram());
                gateway.setChildSetup([] {
                    if (setgid(65534) != 0 || setuid(65534) != 0)
                        _exit(99);
                });
            }
        }
    }
    const QByteArray before = hashOf(catalogue);
    const QByteArray walBefore = hashOf(catalogue + QStringLiteral("-wal"));

    const GatewayProcess::Result imported = gateway.run({ "import", "--catalogue", catalogue, more });
    QCOMPARE(imported.exitCode, 1);
    QVERIFY2(imported.output.contains(importError), qPrintable(imported.output));
    QCOMPARE(imported.output.count(u'\n'), 1);

    if (serveError.isEmpty()) {
        QVERIFY2(gateway.start({ "--catalogue", catalogue }), qPrintable(gateway.log()));
        const GatewayProcess::Reply reply = GatewayProcess::get(gateway.url(QStringLiteral(
            "/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=2024-01-01&endDate=2024-01-01"
            "&outputFormat=quakeml1.0")));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body.count("<event "), qsizetype(3));
        QVERIFY(gateway.stop(SIGTERM));
    } else {
        const GatewayProcess::Result served = gateway.run({ "serve", "--catalogue", catalogue, "--listen", "127.0.0.1:0" });
        QCOMPARE(served.exitCode, 1);
        QVERIFY2(served.output.contains(catalogue + QStringLiteral(": ") + serveError), qPrintable(served.output));
        QCOMPARE(served.output.count(u'\n'), 1);
    }
    QFile::setPermissions(QFileInfo(catalogue).absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(hashOf(catalogue), before);
    if (kind.startsWith(QLatin1String("foreign")))
        QCOMPARE(hashOf(catalogue + QStringLiteral("-wal")), walBefore);
}

QTEST_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
