#pragma once

// Catalogue statistics for the frequency-magnitude plot, on magnitudes in
// bins of 0.1: the completeness magnitude Mc by maximum curvature (the bin
// with the most events, plus the usual correction of +0.2), and above Mc
// the b-value by Aki and Utsu's maximum-likelihood estimate with the
// correction for binning, its uncertainty by Shi and Bolt (1982), and the
// a-value, so that log10 N(>= M) = a - b M.

#include <QString>

#include <optional>
#include <vector>

namespace Statistics {

constexpr double BinWidth = 0.1;
constexpr double MaximumCurvatureCorrection = 0.2;
constexpr int MinimumEventsForB = 50;

// A magnitude's bin, as a whole number of tenths (2.04 and 1.96 are 20),
// halves up on the value as written (1.85 is 19).
int binOf(double magnitude);
// A bin's magnitude as it is written: 24 is 2.4, not 2.4000000000000004.
inline double magnitudeOfBin(int bin) { return bin / 10.0; }

struct FrequencyMagnitude
{
    int firstBin = 0;                 // tenths of the lowest bin
    std::vector<int> counts;          // events in each bin, from firstBin up
    std::vector<int> cumulative;      // events in that bin or above

    double magnitudeOf(std::size_t index) const { return magnitudeOfBin(firstBin + int(index)); }
};

struct GutenbergRichter
{
    std::optional<double> mc;         // none without events
    int aboveMc = 0;                  // events of magnitude >= Mc
    std::optional<double> b;          // none with fewer than MinimumEventsForB above Mc
    double bUncertainty = 0;
    double a = 0;
    QString whyNoB;                   // set when b is not
};

// The magnitudes must be finite.
FrequencyMagnitude frequencyMagnitude(const std::vector<double> &magnitudes);
GutenbergRichter gutenbergRichter(const std::vector<double> &magnitudes);

// Aki and Utsu's b of the magnitudes at or above Mc (binned), with Shi and
// Bolt's uncertainty and the a-value; none for fewer than two events there
// or all of one magnitude.
struct BValue
{
    double b = 0;
    double sigma = 0;
    double a = 0;
    int n = 0;
};
std::optional<BValue> bValue(const std::vector<double> &magnitudes, double mc);

// b over time: windows of `window` consecutive magnitudes at or above Mc
// (in the order given, which is time's), moving by `step`; each window's
// b with the index of its last magnitude.
struct BAt
{
    std::size_t last = 0;
    BValue value;
};
std::vector<BAt> bOverTime(const std::vector<double> &magnitudes, double mc, int window = 150, int step = 15);

// Mc over time: windows of `window` consecutive magnitudes (in the order
// given), moving by `step`; each window's Mc by maximum curvature with the
// index of its last magnitude, and its spread over `resamples` bootstrap
// samples of the window (Woessner and Wiemer 2005; seeded, so that the same
// magnitudes give the same spread).
struct McAt
{
    std::size_t last = 0;
    double mc = 0;
    double sigma = 0;
};
std::vector<McAt> mcOverTime(const std::vector<double> &magnitudes, int window = 150, int step = 15, int resamples = 100);

struct DepthHistogram
{
    double binKm = 10;                // 2, 5, 10 or 25 km by the deepest event
    std::vector<int> counts;          // events in each bin from the surface down

    double deepestKm() const { return double(counts.size()) * binKm; }
};

// The depths must be finite; those above the surface count in the first bin.
DepthHistogram depthHistogram(const std::vector<double> &depthsKm);

} // namespace Statistics
