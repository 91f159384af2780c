#pragma once

// Reads the FDSN event text format: a header line "#EventID|Time|Latitude|
// ..." naming the columns, then one event a line, fields split at '|' with
// or without blanks around it. Lines starting with '#' are comments, also
// above the header.

#include "formats/readoutcome.h"

class QIODevice;

namespace FdsnTextReader {

bool recognises(const QString &firstLine);

ReadOutcome read(QIODevice &in, const RowSink &sink);

} // namespace FdsnTextReader
