#pragma once

// Declustering: which events of a catalogue are mainshocks, and which
// belong to another's cluster.
//
// A window (Gardner and Knopoff 1974): events in order of decreasing
// magnitude (the earlier first among equals); each event not yet in a
// cluster starts one and takes every event not yet in a cluster within its
// window's distance and with a time in (t, t + T]. The window is a choice:
// Gardner and Knopoff's own (geo/sequencewindow.h), which the Sequence tab
// uses too, or Uhrhammer's (1986).
//
// Nearest neighbours (Zaliapin and Ben-Zion 2013, after Baiesi and
// Paczuski 2004): each event's parent is the earlier event that minimises
// eta = t r^d 10^(-b m(parent)), t in years of 365.25 days (a second at
// least), r the epicentral distance in km (0.1 at least), d the epicentres'
// fractal dimension (1.6) and b the catalogue's (1); a link holds when
// log10 eta is below a threshold, by default where the weighted densities
// of a two-component Gaussian mixture fitted to every log10 eta by EM are
// equal between their means. Clusters are the linked events, each led by
// its largest event (the earliest of equals).

#include "geo/sequencestudy.h"

#include <optional>
#include <vector>

namespace Decluster {

struct Membership
{
    int cluster = 0;       // from 1, in the order of the clusters' mainshocks' times
    int mainshock = -1;    // the index of the cluster's mainshock (itself for a mainshock)
    int parent = -1;       // the event it was linked to; -1 for a mainshock
    double logEta = 0;     // nearest-neighbour only: log10 of the distance to its parent; NaN for none
};

// A mainshock's reach, by its magnitude: km and days.
struct Window
{
    double (*radiusKm)(double magnitude);
    double (*days)(double magnitude);
};
Window gardnerKnopoffWindow();
// r = e^(-1.024 + 0.804 M) km, T = e^(-2.87 + 1.235 M) days.
Window uhrhammerWindow();

// The events in time order then id, each with a magnitude.
std::vector<Membership> gardnerKnopoff(const std::vector<QuakePoint> &events, const Window &window = gardnerKnopoffWindow());

struct NearestNeighbourRules
{
    double b = 1;                     // of the parent's magnitude's weight
    double fractalDimension = 1.6;    // of the epicentres
};

struct NearestNeighbours
{
    std::vector<Membership> memberships;
    // Of log10 eta; none when no mixture could be fitted (fewer than two
    // distinct values), and then no event is linked to another.
    std::optional<double> threshold;
};
// The events in time order then id, each with a magnitude and position; the
// threshold as given, or fitted.
NearestNeighbours nearestNeighbours(const std::vector<QuakePoint> &events, std::optional<double> threshold = std::nullopt,
                                    const NearestNeighbourRules &rules = NearestNeighbourRules());

// Where two weighted normal densities fitted by EM to the values are equal
// between their means (their means' middle when they never are); none for
// fewer than two distinct values.
std::optional<double> mixtureThreshold(const std::vector<double> &values);

// Numbers the clusters from 1 in the order of their mainshocks' times.
void numberClusters(std::vector<Membership> &memberships);

// How many clusters and mainshocks (clusters of one event count as both).
int clusterCount(const std::vector<Membership> &memberships);

} // namespace Decluster
