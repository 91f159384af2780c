#pragma once

// Reads one catalogue file of any known format, told apart by its content:
// XML (UTF-8 or UTF-16) is QuakeML 1.2, a "#EventID|..." header (after
// any comment lines) is FDSN text, and a header of named columns is one of
// GeoNet's CSV dialects. Gzip-compressed data, known by its magic bytes, is
// read as what it holds.

#include "formats/readoutcome.h"

class QIODevice;

namespace CatalogueFile {

ReadOutcome read(QIODevice &in, const RowSink &sink);

} // namespace CatalogueFile
