#include "catalogueimport.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguewriter.h"
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
    QString text = QStringLiteral("%1 added, %2 updated, %3 skipped").arg(added).arg(updated).arg(skippedRows);
    if (!reasons.isEmpty())
        text += QStringLiteral(": ") + reasons.join(QStringLiteral(", "));
    return text;
}

namespace CatalogueImport {

ImportReport importFile(const Catalogue &catalogue, const QString &path, const Progress &progress)
{
    ImportReport report;
    report.file = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return report;
    }

    CatalogueWriter writer(catalogue, QFileInfo(path).fileName());
    if (!writer.begin()) {
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
    if (outcome.failed()) {
        writer.rollback();
        report.error = QStringLiteral("%1:%2: %3").arg(path).arg(outcome.errorLine).arg(outcome.error);
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
    return report;
}

} // namespace CatalogueImport
