#pragma once

// The gateway's HTML pages: its home page, the page of one event and the
// page for an event that the catalogue does not hold. UTF-8, everything
// that comes from the catalogue or the request escaped.

#include "catalogue/catalogue.h"
#include "geo/sequencestudy.h"
#include "http/svgmap.h"

#include <optional>
#include <string>
#include <vector>

namespace Pages {

// GeoNet's requested acknowledgement and the licence of its data, shown
// wherever GeoNet data is.
extern const char *const acknowledgement;
extern const char *const licence;
// Natural Earth's and GeoNames' credits, under every map.
extern const char *const mapCredits;

// The home page: what the catalogue holds, and its pictures: a map of all
// of it and a magnitude-time plot, made by homePictures.
// heard: when the catalogue last heard from its upstream, in a sentence;
// empty without one.
std::string home(const QList<Catalogue::SourceSummary> &sources, const QString &searchUrl,
                 const std::string &pictures, const QString &heard = QString());
// outline: points around all the events with a position (their extent);
// count: how many events there are.
std::string homePictures(const std::vector<GeoPoint> &outline, std::int64_t count, const SvgMap::EventSource &events);
// The catalogue's events within 100 km of an event in the 30 days before
// it and after it: how many, the largest of those after it, and all of
// them for the map, given as often as asked and never held whole.
struct Neighbours
{
    static constexpr std::size_t MostListed = 20;
    struct Listed
    {
        QString publicId;
        std::int64_t timeUs = 0;
        std::optional<double> magnitude;
        double km = 0;
    };
    std::int64_t before = 0;
    std::int64_t after = 0;
    std::vector<Listed> largestAfter;   // at most MostListed, the largest first
    // The sequence of an event of SequenceMagnitude or more, said in words
    // when its window holds at least SequenceEvents events and at most
    // SequenceMostEvents (so that a page stays quick to make).
    static constexpr std::size_t SequenceEvents = 50;
    static constexpr double SequenceMagnitude = 4.0;
    static constexpr std::size_t SequenceMostEvents = 5000;
    std::optional<SequenceStudy::Study> sequence;
    SvgMap::EventSource events;
};
// The page of one event: its values, its place, a map of it among its
// neighbours, and a list of those after it (its aftershocks, if any).
std::string event(const EventRow &row, const QString &place, const Neighbours &neighbours);
std::string notFound(const QString &what);

// A forecast in words a member of the public reads: "3 to 9 events of M4
// or more are expected", from the middle 95% of a Poisson count of that
// mean ("none is expected", "1 or 2", ...).
QString expectedText(double mean, double magnitude);

// "2024-01-01 01:11:54.9 UTC" and the same moment in New Zealand time.
QString utcText(std::int64_t microseconds);
QString newZealandText(std::int64_t microseconds);

} // namespace Pages
