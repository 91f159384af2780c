#pragma once

// Writes catalogue rows as the QuakeML 1.0 that Harvix reads: one <event>
// per row with its type, one origin whose public id ends in "<id>g/1" (so
// that Harvix's reference id is the event id), and one magnitude. Times are
// UTC without a zone and without the fraction of a second; numbers are
// written in their shortest exact form; anything unknown is left out. The
// output is ASCII: other characters are written as character references.

#include "catalogue/eventrow.h"

#include <string>

namespace QuakeML10Writer {

// The comment, when there is one, says something about the whole reply.
std::string documentStart(const QString &comment = QString());
void appendEvent(std::string &out, const EventRow &row);
std::string documentEnd();

} // namespace QuakeML10Writer
