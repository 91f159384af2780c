#pragma once

// Reads one catalogue file of any known format, told apart by its content:
// XML is QuakeML 1.2, a "#EventID|..." header is FDSN text, and a header
// of named columns is one of GeoNet's CSV dialects.

#include "formats/readoutcome.h"

class QIODevice;

namespace CatalogueFile {

ReadOutcome read(QIODevice &in, const RowSink &sink);

} // namespace CatalogueFile
