#pragma once

// Declustering: which events of a catalogue are mainshocks, and which
// belong to another's cluster.
//
// Gardner and Knopoff (1974): events in order of decreasing magnitude
// (the earlier first among equals); each event not yet in a cluster starts
// one and takes every event not yet in a cluster within its window's
// distance (geo/sequencewindow.h) and with a time in (t, t + T].

#include "geo/sequencestudy.h"

#include <vector>

namespace Decluster {

struct Membership
{
    int cluster = 0;       // from 1, in the order of the clusters' mainshocks' times
    int mainshock = -1;    // the index of the cluster's mainshock (itself for a mainshock)
    int parent = -1;       // the event it was linked to; -1 for a mainshock
    double logEta = 0;     // nearest-neighbour only: log10 of the distance to its parent; NaN for none
};

// The events in time order then id, each with a magnitude.
std::vector<Membership> gardnerKnopoff(const std::vector<QuakePoint> &events);

// How many clusters and mainshocks (clusters of one event count as both).
int clusterCount(const std::vector<Membership> &memberships);

} // namespace Decluster
