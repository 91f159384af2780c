#pragma once

// Writes catalogue rows as FDSN event text: a header line and one line an
// event of FDSN's 13 columns, with EventType after them as
// GeoNet and USGS add it. Times are UTC to the microsecond; unknown values
// are empty; a '|' or a line break within a value becomes a blank.

#include "catalogue/eventrow.h"

#include <string>

namespace FdsnTextWriter {

std::string header();
// catalog: where the catalogue has the event from; contributor: its agency.
void appendEvent(std::string &out, const EventRow &row, const QString &catalog, const QString &contributor,
                 const QString &place);

} // namespace FdsnTextWriter
