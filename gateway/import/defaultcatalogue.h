#pragma once

// Where the catalogue lives when none is named, and how it comes to be:
// from GeoNet's catalogue files that are installed with the gateway (or
// lie in the build tree), found relative to the executable.

#include "import/catalogueimport.h"

#include <QStringList>

namespace DefaultCatalogue {

// $XDG_DATA_HOME/harvix/catalogue.sqlite, or ~/.local/share/harvix/...
QString path();

// share/harvix/geonet beside the executable's bin folder (as installed).
QString geonetDirectory();

// GeoNet's files in the order they are imported: the moment-tensor
// solutions first, so that the MLNZ20 rows, with the network's own
// magnitude, replace them where both hold an event.
QStringList geonetFiles();

// Builds the catalogue at path from GeoNet's files, in a file beside it
// that takes its name only once complete. Reports each file as it is done.
bool create(const QString &path, const std::function<void(const ImportReport &)> &report,
            QString *error);

} // namespace DefaultCatalogue
