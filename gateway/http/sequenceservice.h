#pragma once

// A sequence studied, and a catalogue declustered (geo/sequencestudy.h,
// geo/decluster.h), over the catalogue:
//
//   GET /sequence?eventid=ID[&days=D][&at=TIME]
//     JSON: the mainshock, its window, the count, Mc and b (b from 50
//     events at or above Mc, else `whyNoB` says why), the Omori-Utsu fit,
//     the forecast from `at` (the window's end unless asked; never before
//     the mainshock), b over time and Mc over time (`mcTime`: end, mc,
//     mcSigma).
//   GET /decluster?method=gardner-knopoff|nearest-neighbour&starttime=
//     &endtime=&minmagnitude=[&threshold=] (and the region keys of the FDSN
//     event service, whose bounds it includes as that service does)
//     (FDSN's keys that shape a reply, limit, orderby, format and the
//     like, are refused) text: "#threshold=..." for the nearest-neighbour
//     method ("#threshold=none: ..." when none can be fitted), then
//     "#EventID|Time|Magnitude|Cluster|Mainshock|Parent|LogEta", one line
//     per event with a magnitude, in time order then id.
//
// A refusal is one line: 400 for a query that cannot be answered, 404 for
// an event the catalogue does not hold. Both studies are long work: the
// replies are deferred (HttpReply::defer), so that the threads serving
// requests never wait for them.

#include "catalogue/catalogue.h"
#include "geo/sequencestudy.h"
#include "http/fdsnquery.h"
#include "http/httpreply.h"

#include <cstdint>
#include <optional>
#include <string_view>

class SequenceService
{
public:
    static constexpr const char *sequencePath = "/sequence";
    static constexpr const char *declusterPath = "/decluster";

    explicit SequenceService(const Catalogue &catalogue) : m_catalogue(catalogue) {}

    void sequence(std::string_view query, HttpReply &reply) const;
    void decluster(std::string_view query, HttpReply &reply) const;

    // The study of an event's sequence over a catalogue (it needs a
    // magnitude and a position); none, with the reason, when the catalogue
    // cannot be read or the window holds more than maxEvents events.
    static std::optional<SequenceStudy::Study> study(const Catalogue &catalogue, const EventRow &event,
                                                     std::optional<double> days, std::optional<double> at, QString *error,
                                                     std::size_t maxEvents = SIZE_MAX);

private:
    // The reply to a declustering of the events that the query selects.
    void declustered(const FdsnQuery &fdsn, bool nearest, std::optional<double> threshold, HttpReply &reply) const;

    const Catalogue &m_catalogue;
};
