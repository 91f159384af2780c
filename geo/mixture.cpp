#include "geo/decluster.h"

#include <algorithm>
#include <cmath>

// Dempster, Laird and Rubin (1977): expectation and maximisation for a
// two-component Gaussian mixture.

namespace Decluster {

namespace {

double normal(double x, double mean, double sigma)
{
    const double z = (x - mean) / sigma;
    return std::exp(-z * z / 2) / (sigma * std::sqrt(2 * M_PI));
}

} // namespace

std::optional<double> mixtureThreshold(const std::vector<double> &values)
{
    if (values.size() < 2)
        return std::nullopt;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.front() == sorted.back())
        return std::nullopt;
    // From the quartiles, with the spread of the whole.
    double mean[2] = { sorted[sorted.size() / 4], sorted[sorted.size() * 3 / 4] };
    double total = 0, squares = 0;
    for (const double v : values)
        total += v;
    for (const double v : values)
        squares += (v - total / values.size()) * (v - total / values.size());
    const double spread = std::sqrt(squares / values.size());
    double sigma[2] = { spread / 2, spread / 2 };
    double weight[2] = { 0.5, 0.5 };
    if (mean[0] == mean[1]) {
        mean[0] = sorted.front();
        mean[1] = sorted.back();
    }
    double previous = -HUGE_VAL;
    std::vector<double> share(values.size());
    for (int iteration = 0; iteration < 1000; ++iteration) {
        double likelihood = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double a = weight[0] * normal(values[i], mean[0], sigma[0]);
            const double b = weight[1] * normal(values[i], mean[1], sigma[1]);
            share[i] = a + b > 0 ? a / (a + b) : 0.5;
            likelihood += std::log(std::max(a + b, 1e-300));
        }
        double sum[2] = { 0, 0 }, first[2] = { 0, 0 };
        for (std::size_t i = 0; i < values.size(); ++i) {
            sum[0] += share[i];
            sum[1] += 1 - share[i];
            first[0] += share[i] * values[i];
            first[1] += (1 - share[i]) * values[i];
        }
        for (int c = 0; c < 2; ++c) {
            if (sum[c] <= 0)
                return (mean[0] + mean[1]) / 2;
            mean[c] = first[c] / sum[c];
            weight[c] = sum[c] / values.size();
        }
        double second[2] = { 0, 0 };
        for (std::size_t i = 0; i < values.size(); ++i) {
            second[0] += share[i] * (values[i] - mean[0]) * (values[i] - mean[0]);
            second[1] += (1 - share[i]) * (values[i] - mean[1]) * (values[i] - mean[1]);
        }
        for (int c = 0; c < 2; ++c)
            sigma[c] = std::max(std::sqrt(second[c] / sum[c]), 1e-6 * spread);
        if (std::fabs(likelihood - previous) < 1e-10 * std::fabs(likelihood))
            break;
        previous = likelihood;
    }
    // Equal weighted densities: a quadratic in x, its root between the means.
    const int lo = mean[0] < mean[1] ? 0 : 1, hi = 1 - lo;
    const double a = 1 / (2 * sigma[hi] * sigma[hi]) - 1 / (2 * sigma[lo] * sigma[lo]);
    const double b = mean[lo] / (sigma[lo] * sigma[lo]) - mean[hi] / (sigma[hi] * sigma[hi]);
    const double c = mean[hi] * mean[hi] / (2 * sigma[hi] * sigma[hi]) - mean[lo] * mean[lo] / (2 * sigma[lo] * sigma[lo])
        + std::log(weight[lo] * sigma[hi] / (weight[hi] * sigma[lo]));
    std::vector<double> roots;
    if (std::fabs(a) < 1e-12) {
        if (std::fabs(b) > 0)
            roots.push_back(-c / b);
    } else if (const double d = b * b - 4 * a * c; d >= 0) {
        roots.push_back((-b + std::sqrt(d)) / (2 * a));
        roots.push_back((-b - std::sqrt(d)) / (2 * a));
    }
    for (const double root : roots) {
        if (root >= mean[lo] && root <= mean[hi])
            return root;
    }
    return (mean[0] + mean[1]) / 2;
}

} // namespace Decluster
