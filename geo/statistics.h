#pragma once

// Catalogue statistics for the frequency-magnitude plot, on binned
// magnitudes: the completeness magnitude Mc by maximum curvature (Wiemer
// and Wyss 2000: the bin with the most events, plus a correction, +0.2 by
// Woessner and Wiemer 2005), and above Mc the b-value by Aki's (1965)
// maximum-likelihood estimate with Utsu's (1966) correction for binning,
// its uncertainty by Shi and Bolt (1982), and the a-value, so that
// log10 N(>= M) = a - b M (Gutenberg and Richter 1944). Each rule is a
// parameter with the default that the plot, the Sequence tab, the pages
// and /sequence all use.

#include <QString>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace Statistics {

struct Rules
{
    double binWidth = 0.1;            // magnitudes as catalogues write them
    double mcCorrection = 0.2;        // added to maximum curvature's Mc
    int minimumForB = 50;             // events at or above Mc for a b-value
};

// A magnitude's bin, as a whole number of bin widths (in tenths, 2.04 and
// 1.96 are 20), halves up on the value as written (1.85 is 19).
int binOf(double magnitude, double width = Rules().binWidth);
// A bin's magnitude as it is written: 24 is 2.4, not 2.4000000000000004.
double magnitudeOfBin(int bin, double width = Rules().binWidth);

struct FrequencyMagnitude
{
    int firstBin = 0;                 // the lowest bin, in bin widths
    double binWidth = Rules().binWidth;
    std::vector<int> counts;          // events in each bin, from firstBin up
    std::vector<int> cumulative;      // events in that bin or above

    double magnitudeOf(std::size_t index) const { return magnitudeOfBin(firstBin + int(index), binWidth); }
};

struct GutenbergRichter
{
    std::optional<double> mc;         // none without events
    int aboveMc = 0;                  // events of magnitude >= Mc
    std::optional<double> b;          // none with fewer than the rules' minimum above Mc
    double bUncertainty = 0;
    double a = 0;
    QString whyNoB;                   // set when b is not
};

// The magnitudes must be finite.
FrequencyMagnitude frequencyMagnitude(const std::vector<double> &magnitudes, const Rules &rules = Rules());
GutenbergRichter gutenbergRichter(const std::vector<double> &magnitudes, const Rules &rules = Rules());

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
std::optional<BValue> bValue(const std::vector<double> &magnitudes, double mc, const Rules &rules = Rules());

// b over time: windows of `window` consecutive magnitudes at or above Mc
// (in the order given, which is time's), moving by `step`; each window's
// b with the index of its last magnitude.
struct BAt
{
    std::size_t last = 0;
    BValue value;
};
std::vector<BAt> bOverTime(const std::vector<double> &magnitudes, double mc, int window = 150, int step = 15,
                           const Rules &rules = Rules());

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
std::vector<McAt> mcOverTime(const std::vector<double> &magnitudes, int window = 150, int step = 15, int resamples = 100,
                             const Rules &rules = Rules());

// The seismic moment of a moment magnitude in newton metres, by Hanks and
// Kanamori (1979): log10 M0 = 1.5 Mw + 16.05 in dyne centimetres.
inline double moment(double magnitude) { return std::pow(10.0, 1.5 * magnitude + 9.05); }

// The counts a Poisson number of this mean holds between the quantiles
// (2.5% and 97.5% by default): each term worked out from its logarithm,
// since exp(-mean) underflows to 0 from a mean of about 745.
std::pair<long, long> poissonRange(double mean, double low = 0.025, double high = 0.975);

struct DepthHistogram
{
    double binKm = 10;                // 2, 5, 10 or 25 km by the deepest event
    std::vector<int> counts;          // events in each bin from the surface down

    double deepestKm() const { return double(counts.size()) * binKm; }
};

// The depths must be finite; those above the surface count in the first bin.
DepthHistogram depthHistogram(const std::vector<double> &depthsKm);

} // namespace Statistics
