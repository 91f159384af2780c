#pragma once

// Imports catalogue files: each file is read by the reader its content
// calls for and written as one transaction, so that a file that cannot be
// read leaves the catalogue as it was.

#include <QString>

#include <functional>
#include <map>

class Catalogue;

struct ImportReport
{
    QString file;
    QString format;
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;                  // by replace, before reading
    std::map<QString, qint64> skipped;   // reason to count
    QString error;                       // "FILE:LINE: reason", empty on success

    bool failed() const { return !error.isEmpty(); }
    // "21450 added, 1640 updated, 3 skipped: 3 rows without a usable time"
    QString summary() const;
};

namespace CatalogueImport {

// Called now and then with the bytes read so far and the file's size.
using Progress = std::function<void(qint64 done, qint64 total)>;

// With replace, what earlier imports of a file of the same name stored is
// removed first, in the same transaction.
ImportReport importFile(const Catalogue &catalogue, const QString &path,
                        const Progress &progress = Progress(), bool replace = false);

} // namespace CatalogueImport
