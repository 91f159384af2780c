#pragma once

// The gateway's HTML pages: its home page, the page of one event and the
// page for an event that the catalogue does not hold. UTF-8, everything
// that comes from the catalogue or the request escaped.

#include "catalogue/catalogue.h"

#include <string>

namespace Pages {

// GeoNet's requested acknowledgement and the licence of its data, shown
// wherever GeoNet data is.
extern const char *const acknowledgement;
extern const char *const licence;

std::string home(const QList<Catalogue::SourceSummary> &sources, const QString &searchUrl);
std::string event(const EventRow &row);
std::string notFound(const QString &what);

// "2024-01-01 01:11:54.9 UTC" and the same moment in New Zealand time.
QString utcText(std::int64_t microseconds);
QString newZealandText(std::int64_t microseconds);

} // namespace Pages
