#include "import/catalogueimport.h"

#include "catalogue/catalogue.h"
#include "formats/cataloguefile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <chrono>
#include <thread>

QString ImportReport::summary() const
{
    qint64 skippedRows = 0;
    QStringList reasons;
    for (const auto &[reason, count] : skipped) {
        skippedRows += count;
        reasons << QStringLiteral("%1 %2 %3").arg(count).arg(count == 1 ? "row" : "rows", reason);
    }
    QString text = removed > 0 ? QStringLiteral("%1 removed first, ").arg(removed) : QString();
    text += QStringLiteral("%1 added, %2 updated, %3 skipped").arg(added).arg(updated).arg(skippedRows);
    if (!reasons.isEmpty())
        text += QStringLiteral(": ") + reasons.join(QStringLiteral(", "));
    return text;
}

namespace CatalogueImport {

namespace {

// One transaction of the file's rows; mayRetry says whether the database
// chose it as a deadlock's victim, so that the same again may succeed.
ImportReport importOnce(const Catalogue &catalogue, const QString &path, const Progress &progress, bool replace,
                        bool &mayRetry)
{
    mayRetry = false;
    ImportReport report;
    report.file = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return report;
    }

    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(QFileInfo(path).fileName());
    Catalogue::Writer &writer = *made;
    if (!writer.begin() || !writer.holdOtherBulkWritesOff()) {
        mayRetry = writer.mayRetry();
        report.error = QStringLiteral("%1: the catalogue cannot be written: %2").arg(path, writer.error());
        return report;
    }
    qint64 replaced = 0;
    if (replace && !writer.removeSource(&replaced)) {
        report.error = QStringLiteral("%1: the catalogue cannot be written: %2").arg(path, writer.error());
        return report;
    }
    QString writeError;
    qint64 rows = 0;
    const ReadOutcome outcome = CatalogueFile::read(file, [&](const EventRow &row) {
        if (!writeError.isEmpty())
            return;
        if (!writer.write(row))
            writeError = writer.error();
        if (progress && ++rows % 2000 == 0)
            progress(file.pos(), file.size());
    });
    report.format = outcome.format;
    report.skipped = outcome.skipped;
    if (!outcome.failed() && outcome.rows == 0 && outcome.skippedRows() > 0) {
        // Nothing usable at all is a file that is not what it seems, not an
        // import of nothing.
        QString first = outcome.firstSkippedReason;
        if (!outcome.firstSkippedValue.isEmpty())
            first += QStringLiteral(" (\"%1\")").arg(outcome.firstSkippedValue);
        writer.rollback();
        report.error = QStringLiteral("%1: all %2 %3 skipped, the first (line %4) %5")
                           .arg(path).arg(outcome.skippedRows())
                           .arg(outcome.skippedRows() == 1 ? "row was" : "rows were")
                           .arg(outcome.firstSkippedLine).arg(first);
        return report;
    }
    if (outcome.failed()) {
        writer.rollback();
        report.error = outcome.errorLine > 0
            ? QStringLiteral("%1:%2: %3").arg(path).arg(outcome.errorLine).arg(outcome.error)
            : QStringLiteral("%1: %2").arg(path, outcome.error);
        return report;
    }
    if (!writeError.isEmpty() || !writer.commit()) {
        mayRetry = writer.mayRetry();
        writer.rollback();
        report.error = QStringLiteral("%1: the catalogue cannot be written: %2")
                           .arg(path, writeError.isEmpty() ? writer.error() : writeError);
        return report;
    }
    if (progress)
        progress(file.size(), file.size());
    report.added = writer.added();
    report.updated = writer.updated();
    report.removed = replaced;
    return report;
}

} // namespace

ImportReport importFile(const Catalogue &catalogue, const QString &path, const Progress &progress, bool replace)
{
    // Imports into a shared database wait for each other
    // (holdOtherBulkWritesOff), so that two that share events never
    // deadlock; one that meets a sync's writes in another order may still
    // be chosen as a deadlock's victim, rolled back whole, and is made
    // again a moment later.
    constexpr int Attempts = 5;
    for (int attempt = 1;; ++attempt) {
        bool mayRetry = false;
        ImportReport report = importOnce(catalogue, path, progress, replace, mayRetry);
        if (!mayRetry || attempt == Attempts)
            return report;
        std::this_thread::sleep_for(std::chrono::milliseconds(250 << attempt));
    }
}

} // namespace CatalogueImport
