#pragma once

// Writes catalogue rows as QuakeML 1.2 (the BED namespace), as the FDSN
// event service answers: per event one preferred origin (time to the
// microsecond, latitude, longitude, depth in metres, evaluation mode and
// status) and one preferred magnitude (value, type, station count), the
// place as its description, and a type from the schema's list. Anything
// unknown, or outside what the schema allows, is left out, so that every
// document is valid against the QuakeML 1.2 schema.

#include "catalogue/eventrow.h"

#include <string>

namespace QuakeML12Writer {

std::string documentStart();
// place: "12 km NE of Taupo", or empty.
void appendEvent(std::string &out, const EventRow &row, const QString &place);
std::string documentEnd();

// The publicID of an event, and back (an id as it is stays as it is), its
// characters escaped as QuakeML12::escapedId does, so that any id makes a
// valid resource identifier.
std::string publicIdOf(const QString &id);
QString idOf(const std::string &publicIdOrId);

} // namespace QuakeML12Writer
