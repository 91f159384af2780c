#include "geo/statistics.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace Statistics {

int binOf(double magnitude, double width)
{
    // Halves up, on the value as written: 1.85 is 1.9 and -0.15 is -0.1.
    // Magnitudes are written to a few decimals, so a value within 1e-5 of a
    // half is that half, whichever side of it its nearest double or float
    // lies (1.85 as a float is 1.8499999).
    return int(std::floor(magnitude / width + 0.5 + 1e-4));
}

double magnitudeOfBin(int bin, double width)
{
    // Divided by the bins in a unit where they are whole, so that the
    // magnitude is the decimal written.
    const double perUnit = 1 / width;
    return std::fabs(perUnit - std::round(perUnit)) < 1e-9 ? bin / std::round(perUnit) : bin * width;
}

FrequencyMagnitude frequencyMagnitude(const std::vector<double> &magnitudes, const Rules &rules)
{
    FrequencyMagnitude fmd;
    fmd.binWidth = rules.binWidth;
    const auto binOf = [&rules](double magnitude) { return Statistics::binOf(magnitude, rules.binWidth); };
    if (magnitudes.empty())
        return fmd;
    int low = binOf(magnitudes.front()), high = low;
    for (const double magnitude : magnitudes) {
        low = std::min(low, binOf(magnitude));
        high = std::max(high, binOf(magnitude));
    }
    fmd.firstBin = low;
    fmd.counts.assign(std::size_t(high - low + 1), 0);
    for (const double magnitude : magnitudes)
        ++fmd.counts[std::size_t(binOf(magnitude) - low)];
    fmd.cumulative.assign(fmd.counts.size(), 0);
    int above = 0;
    for (std::size_t i = fmd.counts.size(); i-- > 0;) {
        above += fmd.counts[i];
        fmd.cumulative[i] = above;
    }
    return fmd;
}

GutenbergRichter gutenbergRichter(const std::vector<double> &magnitudes, const Rules &rules)
{
    GutenbergRichter result;
    const FrequencyMagnitude fmd = frequencyMagnitude(magnitudes, rules);
    if (fmd.counts.empty()) {
        result.whyNoB = QStringLiteral("no events with a magnitude");
        return result;
    }
    // Maximum curvature: the bin with the most events (the lowest of equals).
    const std::size_t peak = std::size_t(std::max_element(fmd.counts.begin(), fmd.counts.end()) - fmd.counts.begin());
    const int mcBin = fmd.firstBin + int(peak) + int(std::lround(rules.mcCorrection / rules.binWidth));
    result.mc = magnitudeOfBin(mcBin, rules.binWidth);

    // Aki-Utsu on the binned magnitudes at or above Mc, with the half-bin
    // correction; Shi and Bolt's uncertainty.
    int n = 0;
    for (const double magnitude : magnitudes)
        n += binOf(magnitude, rules.binWidth) >= mcBin ? 1 : 0;
    result.aboveMc = n;
    if (n < rules.minimumForB) {
        result.whyNoB = QStringLiteral("%1 at or above Mc: at least %2 are needed for a b-value")
                            .arg(n == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events").arg(n))
                            .arg(rules.minimumForB);
        return result;
    }
    const std::optional<BValue> fit = bValue(magnitudes, *result.mc, rules);
    if (!fit) {
        result.whyNoB = QStringLiteral("every event above Mc has the same magnitude");
        return result;
    }
    result.b = fit->b;
    result.bUncertainty = fit->sigma;
    result.a = fit->a;
    return result;
}

namespace {

// From the mean of n binned magnitudes at or above Mc and the sum of their
// squares about it.
std::optional<BValue> bOf(double mean, double squares, int n, double mc, double width)
{
    if (n < 2)
        return std::nullopt;
    const double lowerEdge = mc - width / 2;
    if (mean <= lowerEdge + 1e-12)
        return std::nullopt;
    BValue value;
    value.n = n;
    value.b = std::log10(std::exp(1.0)) / (mean - lowerEdge);
    value.sigma = 2.3 * value.b * value.b * std::sqrt(squares / (double(n) * (n - 1)));
    value.a = std::log10(double(n)) + value.b * mc;
    return value;
}

} // namespace

std::optional<BValue> bValue(const std::vector<double> &magnitudes, double mc, const Rules &rules)
{
    const double BinWidth = rules.binWidth;
    const auto binOf = [BinWidth](double magnitude) { return Statistics::binOf(magnitude, BinWidth); };
    const int mcBin = binOf(mc);
    double sum = 0;
    int n = 0;
    for (const double magnitude : magnitudes) {
        const int bin = binOf(magnitude);
        if (bin >= mcBin) {
            sum += bin * BinWidth;
            ++n;
        }
    }
    if (n < 2)
        return std::nullopt;
    // The squares about the mean, summed apart: no cancellation.
    const double mean = sum / n;
    double squares = 0;
    for (const double magnitude : magnitudes) {
        const int bin = binOf(magnitude);
        if (bin >= mcBin)
            squares += (bin * BinWidth - mean) * (bin * BinWidth - mean);
    }
    return bOf(mean, squares, n, mcBin * BinWidth, BinWidth);
}

std::vector<BAt> bOverTime(const std::vector<double> &magnitudes, double mc, int window, int step, const Rules &rules)
{
    const double BinWidth = rules.binWidth;
    const auto binOf = [BinWidth](double magnitude) { return Statistics::binOf(magnitude, BinWidth); };
    const int mcBin = binOf(mc);
    std::vector<double> above;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < magnitudes.size(); ++i) {
        const int bin = binOf(magnitudes[i]);
        if (bin >= mcBin) {
            above.push_back(bin * BinWidth);
            at.push_back(i);
        }
    }
    std::vector<BAt> series;
    if (window < 2 || step < 1 || int(above.size()) < window)
        return series;
    for (std::size_t first = 0; first + std::size_t(window) <= above.size(); first += std::size_t(step)) {
        double sum = 0;
        for (std::size_t i = first; i < first + std::size_t(window); ++i)
            sum += above[i];
        const double mean = sum / window;
        double squares = 0;
        for (std::size_t i = first; i < first + std::size_t(window); ++i)
            squares += (above[i] - mean) * (above[i] - mean);
        if (const std::optional<BValue> value = bOf(mean, squares, window, mcBin * BinWidth, BinWidth))
            series.push_back({ at[first + std::size_t(window) - 1], *value });
    }
    return series;
}

namespace {

// The bin holding the most (the lowest of equals) of counts from firstBin.
int modeOf(const std::vector<int> &counts, int firstBin)
{
    return firstBin + int(std::max_element(counts.begin(), counts.end()) - counts.begin());
}

} // namespace

std::vector<McAt> mcOverTime(const std::vector<double> &magnitudes, int window, int step, int resamples, const Rules &rules)
{
    const double BinWidth = rules.binWidth;
    std::vector<McAt> series;
    if (window < 1 || step < 1 || int(magnitudes.size()) < window)
        return series;
    std::vector<int> bins(magnitudes.size());
    for (std::size_t i = 0; i < magnitudes.size(); ++i)
        bins[i] = binOf(magnitudes[i], BinWidth);
    std::mt19937 random(20050101);
    std::uniform_int_distribution<int> pick(0, window - 1);
    std::vector<int> counts;
    for (std::size_t first = 0; first + std::size_t(window) <= bins.size(); first += std::size_t(step)) {
        const auto begin = bins.begin() + std::ptrdiff_t(first), end = begin + window;
        const auto [lowest, highest] = std::minmax_element(begin, end);
        const int low = *lowest;
        counts.assign(std::size_t(*highest - low + 1), 0);
        for (auto it = begin; it != end; ++it)
            ++counts[std::size_t(*it - low)];
        McAt at;
        at.last = first + std::size_t(window) - 1;
        at.mc = magnitudeOfBin(modeOf(counts, low) + int(std::lround(rules.mcCorrection / BinWidth)), BinWidth);
        double sum = 0, squares = 0;
        for (int sample = 0; sample < resamples; ++sample) {
            std::fill(counts.begin(), counts.end(), 0);
            for (int k = 0; k < window; ++k)
                ++counts[std::size_t(*(begin + pick(random)) - low)];
            const double mc = modeOf(counts, low) * BinWidth;
            sum += mc;
            squares += mc * mc;
        }
        if (resamples > 1)
            at.sigma = std::sqrt(std::max(0.0, (squares - sum * sum / resamples) / (resamples - 1)));
        series.push_back(at);
    }
    return series;
}

std::pair<long, long> poissonRange(double mean, double low, double high)
{
    const double logMean = std::log(mean);
    const auto quantile = [mean, logMean](double p) {
        if (!(mean > 0))
            return 0L;
        const long last = long(mean + 40 * std::sqrt(mean) + 100);
        double sum = 0;
        long k = 0;
        for (; k < last; ++k) {
            sum += std::exp(k * logMean - mean - std::lgamma(double(k) + 1));
            if (sum >= p)
                break;
        }
        return k;
    };
    return { quantile(low), quantile(high) };
}

DepthHistogram depthHistogram(const std::vector<double> &depthsKm)
{
    double deepest = 0;
    for (const double depth : depthsKm)
        deepest = std::max(deepest, depth);
    DepthHistogram histogram;
    histogram.binKm = deepest <= 50 ? 2 : deepest <= 200 ? 5 : deepest <= 400 ? 10 : 25;
    histogram.counts.assign(std::size_t(std::floor(deepest / histogram.binKm)) + 1, 0);
    for (const double depth : depthsKm)
        ++histogram.counts[std::size_t(std::max(0.0, std::floor(depth / histogram.binKm)))];
    return histogram;
}

} // namespace Statistics
