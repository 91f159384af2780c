#include "quakeml/quakemlreader.h"
#include "testsupport/replyinvariants.h"

#include <QDir>
#include <QtTest>

// Replays every input that the fuzzer once found troublesome, and the
// fixtures, through the same path as a reply (decoding, the document walk and
// the records), and checks what the fuzz target checks.
class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
};

void TestFuzzRegressions::replay_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(HARVIX_TEST_DATA_DIR "/fuzz"));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
    // Always at least the hand-written fixtures, so the replay path itself runs.
    const QDir fixtures(QStringLiteral(HARVIX_TEST_DATA_DIR));
    for (const QString &name : fixtures.entryList({ QStringLiteral("*.xml") }, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << fixtures.filePath(name);
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray body = file.readAll();
    QuakeEventStore store;
    const QuakeMLError error = QuakeMLReader::readDocument(QuakeMLReader::decodeReply(body), store);
    const char *broken = brokenReplyInvariant(error, store);
    QVERIFY2(!broken, broken);
    const char *differs = readFromBytesDiffers(body, error, store);
    QVERIFY2(!differs, differs);
}

QTEST_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
