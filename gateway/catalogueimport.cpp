#include "catalogueimport.h"

#include "catalogue/catalogue.h"
#include "formats/cataloguefile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

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

ImportReport importFile(const Catalogue &catalogue, const QString &path, const Progress &progress, bool replace)
{
    ImportReport report;
    report.file = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return report;
    }

    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(QFileInfo(path).fileName());
    Catalogue::Writer &writer = *made;
    if (!writer.begin()) {
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

} // namespace CatalogueImport
