#pragma once

// Reads GeoNet's CSV catalogues: the quake search service's 21 named
// columns, the MLNZ20 rapid-event files (#ID, OT, Lat, ...) and the
// moment-tensor solutions (PublicID, Date, ...). The header names the
// dialect; a file without a known header is refused at line 1.

#include "formats/readoutcome.h"

#include <QStringList>

class QIODevice;

namespace CsvCatalogueReader {

// True when the first line is the header of one of the dialects.
bool recognises(const QString &firstLine);

ReadOutcome read(QIODevice &in, const RowSink &sink);

// One line split at commas outside double quotes, quotes removed.
QStringList splitLine(QStringView line);

} // namespace CsvCatalogueReader
