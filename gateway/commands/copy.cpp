// harvix-gateway copy FROM TO: a whole catalogue into an empty one, SQLite
// or PostgreSQL either way, with its fetched windows and claims, in one
// transaction: all of it or, after a failure, nothing.

#include "commands/commandline.h"

#include "catalogue/catalogue.h"
#include "catalogue/postgrescatalogue.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace CommandLine {

int copy(const Options &options)
{
    if (options.files.size() != 2)
        return usageError(QStringLiteral("copy needs two catalogues: FROM and TO"));
    // A source that is not there is a mistake, not an empty catalogue.
    if (!PostgresCatalogue::isDatabaseUri(options.files[0]) && !QFileInfo::exists(options.files[0]))
        return usageError(QStringLiteral("no such catalogue: %1").arg(options.files[0]));
    const std::unique_ptr<Catalogue> from = openCatalogueNamed(options.files[0], false);
    if (!from)
        return 1;
    const std::unique_ptr<Catalogue> to = openCatalogueNamed(options.files[1], false, "copied");
    if (!to)
        return 1;
    const std::optional<qint64> held = to->eventCount();
    if (!held) {
        say(QStringLiteral("%1 cannot be read: copy fills an empty catalogue only").arg(to->name()));
        return 1;
    }
    if (*held > 0) {
        say(QStringLiteral("%1 holds %2 events already: copy fills an empty catalogue only").arg(to->name()).arg(*held));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    const std::unique_ptr<Catalogue::Writer> writer = to->writer(QStringLiteral("copy"));
    QString error;
    bool copied = writer->begin();
    QStringList counts;
    for (const Catalogue::Table &table : Catalogue::tables()) {
        qint64 rows = 0;
        copied = copied && from->readTable(table, [&](const QVariantList &values) {
            ++rows;
            return writer->insertRow(table.name, table.columns, values);
        }, &error);
        counts << QStringLiteral("%1 %2").arg(rows).arg(table.name);
    }
    if (!copied || !writer->commit()) {
        writer->rollback();
        say(QStringLiteral("nothing was copied: %1").arg(error.isEmpty() ? writer->error() : error));
        return 1;
    }
    say(QStringLiteral("copied %1 events from %2 to %3 (rows: %4) in %5 s")
            .arg(writer->added())
            .arg(from->name(), to->name(), counts.join(QStringLiteral(", ")))
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    return 0;
}

} // namespace CommandLine
