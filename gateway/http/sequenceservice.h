#pragma once

// A sequence studied, and a catalogue declustered (geo/sequencestudy.h,
// geo/decluster.h), over the catalogue:
//
//   GET /sequence?eventid=ID[&days=D][&at=TIME]
//     JSON: the mainshock, its window, the count, Mc and b, the
//     Omori-Utsu fit, the forecast from `at` (the window's end unless
//     asked) and b over time.
//   GET /decluster?method=gardner-knopoff|nearest-neighbour&starttime=
//     &endtime=&minmagnitude=[&threshold=] (and the region keys of the FDSN
//     event service, whose bounds it includes as that service does)
//     text: "#threshold=..." for the nearest-neighbour method, then
//     "#EventID|Time|Magnitude|Cluster|Mainshock|Parent|LogEta", one line
//     per event with a magnitude, in time order then id.
//
// A refusal is one line: 400 for a query that cannot be answered, 404 for
// an event the catalogue does not hold.

#include "catalogue/catalogue.h"
#include "http/httpreply.h"

#include <string_view>

class SequenceService
{
public:
    static constexpr const char *sequencePath = "/sequence";
    static constexpr const char *declusterPath = "/decluster";

    explicit SequenceService(const Catalogue &catalogue) : m_catalogue(catalogue) {}

    void sequence(std::string_view query, HttpReply &reply) const;
    void decluster(std::string_view query, HttpReply &reply) const;

private:
    const Catalogue &m_catalogue;
};
