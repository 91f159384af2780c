#include "geo/omori.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace Omori {

namespace {

// The integral of e^(a u) over [u0, u1], steady as a goes to 0.
double exponentialIntegral(double a, double u0, double u1)
{
    const double x = a * (u1 - u0);
    const double ratio = std::fabs(x) < 1e-12 ? 1.0 : std::expm1(x) / x;
    return std::exp(a * u0) * (u1 - u0) * ratio;
}

// The integral of u^k e^(a u) over [u0, u1] (k = 1, 2), by Gauss-Legendre
// on panels: smooth in u = ln(t + c) for every p.
double momentIntegral(int k, double a, double u0, double u1)
{
    static const std::array<double, 8> nodes = { 0.1834346424956498, 0.5255324099163290, 0.7966664774136267,
                                                 0.9602898564975363, -0.1834346424956498, -0.5255324099163290,
                                                 -0.7966664774136267, -0.9602898564975363 };
    static const std::array<double, 8> weights = { 0.3626837833783620, 0.3137066458778873, 0.2223810344533745,
                                                   0.1012285362903763, 0.3626837833783620, 0.3137066458778873,
                                                   0.2223810344533745, 0.1012285362903763 };
    constexpr int Panels = 64;
    const double width = (u1 - u0) / Panels;
    double sum = 0;
    for (int panel = 0; panel < Panels; ++panel) {
        const double middle = u0 + (panel + 0.5) * width;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const double u = middle + nodes[i] * width / 2;
            sum += weights[i] * std::pow(u, k) * std::exp(a * u);
        }
    }
    return sum * width / 2;
}

// The integral A of (t + c)^-p over (0, D] and its derivatives by c and p.
struct Integrals
{
    double A, Ac, Ap, Acc, Acp, App;
};

Integrals integralsOf(double c, double p, double days)
{
    const double u0 = std::log(c), u1 = std::log(days + c), a = 1 - p;
    Integrals in {};
    in.A = exponentialIntegral(a, u0, u1);
    in.Ac = std::pow(days + c, -p) - std::pow(c, -p);
    in.Acc = p * (std::pow(c, -p - 1) - std::pow(days + c, -p - 1));
    in.Acp = -u1 * std::pow(days + c, -p) + u0 * std::pow(c, -p);
    in.Ap = -momentIntegral(1, a, u0, u1);
    in.App = momentIntegral(2, a, u0, u1);
    return in;
}

// Nelder and Mead's simplex, minimising f over two variables.
std::array<double, 2> minimise(const std::function<double(const std::array<double, 2> &)> &f, std::array<double, 2> start,
                               std::array<double, 2> step)
{
    std::array<std::array<double, 2>, 3> simplex = { start, start, start };
    simplex[1][0] += step[0];
    simplex[2][1] += step[1];
    std::array<double, 3> values = { f(simplex[0]), f(simplex[1]), f(simplex[2]) };
    for (int iteration = 0; iteration < 2000; ++iteration) {
        std::array<int, 3> order = { 0, 1, 2 };
        std::sort(order.begin(), order.end(), [&](int a, int b) { return values[std::size_t(a)] < values[std::size_t(b)]; });
        const auto &best = simplex[std::size_t(order[0])];
        const auto worst = std::size_t(order[2]), middle = std::size_t(order[1]);
        if (std::fabs(values[worst] - values[std::size_t(order[0])]) < 1e-12
            && std::fabs(simplex[worst][0] - best[0]) + std::fabs(simplex[worst][1] - best[1]) < 1e-10)
            break;
        const std::array<double, 2> centre = { (best[0] + simplex[middle][0]) / 2, (best[1] + simplex[middle][1]) / 2 };
        const auto towards = [&](double t) {
            return std::array<double, 2> { centre[0] + t * (simplex[worst][0] - centre[0]),
                                           centre[1] + t * (simplex[worst][1] - centre[1]) };
        };
        const std::array<double, 2> reflected = towards(-1);
        const double reflectedValue = f(reflected);
        if (reflectedValue < values[std::size_t(order[0])]) {
            const std::array<double, 2> expanded = towards(-2);
            const double expandedValue = f(expanded);
            simplex[worst] = expandedValue < reflectedValue ? expanded : reflected;
            values[worst] = std::min(expandedValue, reflectedValue);
        } else if (reflectedValue < values[middle]) {
            simplex[worst] = reflected;
            values[worst] = reflectedValue;
        } else {
            const std::array<double, 2> contracted = towards(0.5);
            const double contractedValue = f(contracted);
            if (contractedValue < values[worst]) {
                simplex[worst] = contracted;
                values[worst] = contractedValue;
            } else {
                // Shrink towards the best.
                for (const std::size_t i : { middle, worst }) {
                    simplex[i] = { (simplex[i][0] + best[0]) / 2, (simplex[i][1] + best[1]) / 2 };
                    values[i] = f(simplex[i]);
                }
            }
        }
    }
    return simplex[std::size_t(std::min_element(values.begin(), values.end()) - values.begin())];
}

// The inverse of a symmetric 3 by 3 matrix; false when it is singular.
bool invert(const std::array<std::array<double, 3>, 3> &m, std::array<std::array<double, 3>, 3> &inverse)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
        + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!(std::fabs(det) > 0) || !std::isfinite(det))
        return false;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inverse[std::size_t(i)][std::size_t(j)]
                = (m[std::size_t(r0)][std::size_t(c0)] * m[std::size_t(r1)][std::size_t(c1)]
                   - m[std::size_t(r0)][std::size_t(c1)] * m[std::size_t(r1)][std::size_t(c0)])
                / det;
        }
    }
    return true;
}

} // namespace

double integral(double c, double p, double t1, double t2)
{
    return exponentialIntegral(1 - p, std::log(t1 + c), std::log(t2 + c));
}

double logLikelihood(double K, double c, double p, const std::vector<double> &times, double days)
{
    double sum = 0;
    int n = 0;
    for (const double t : times) {
        if (t > 0 && t <= days) {
            sum += std::log(t + c);
            ++n;
        }
    }
    return n * std::log(K) - p * sum - K * integral(c, p, 0, days);
}

std::optional<Fit> fit(const std::vector<double> &all, double days)
{
    std::vector<double> times;
    for (const double t : all) {
        if (t > 0 && t <= days)
            times.push_back(t);
    }
    const int n = int(times.size());
    if (n < MinimumEvents || !(days > 0))
        return std::nullopt;
    // K at its best for each c and p is n / A, which leaves c (as ln c) and p.
    const auto profile = [&](const std::array<double, 2> &x) {
        const double c = std::exp(x[0]), p = x[1];
        if (!(c > 1e-9 && c < 10 * days) || !(p > 0.05 && p < 5))
            return HUGE_VAL;
        double sum = 0;
        for (const double t : times)
            sum += std::log(t + c);
        const double A = integral(c, p, 0, days);
        return -(n * std::log(n / A) - n - p * sum);
    };
    std::array<double, 2> best = { std::log(0.01), 1.0 };
    double bestValue = HUGE_VAL;
    for (const double c : { 0.003, 0.1 }) {
        for (const double p : { 0.8, 1.2 }) {
            const std::array<double, 2> found = minimise(profile, { std::log(c), p }, { 0.5, 0.1 });
            if (const double value = profile(found); value < bestValue) {
                bestValue = value;
                best = found;
            }
        }
    }
    // A fresh simplex from the best, against a collapse of the first.
    best = minimise(profile, best, { 0.05, 0.01 });
    bestValue = profile(best);
    // At the bounds the events do not decay as aftershocks do (a swarm, or
    // the background alone): no decay is fitted.
    if (!std::isfinite(bestValue) || best[1] < MinimumP || std::exp(best[0]) > days)
        return std::nullopt;
    Fit result;
    result.c = std::exp(best[0]);
    result.p = best[1];
    result.n = n;
    const Integrals in = integralsOf(result.c, result.p, days);
    result.K = n / in.A;
    result.logLikelihood = logLikelihood(result.K, result.c, result.p, times, days);

    // The observed information: minus the second derivatives of the
    // log-likelihood in K, c and p.
    double inverse = 0, inverseSquares = 0;
    for (const double t : times) {
        inverse += 1 / (t + result.c);
        inverseSquares += 1 / ((t + result.c) * (t + result.c));
    }
    const double K = result.K, p = result.p;
    const std::array<std::array<double, 3>, 3> information = { {
        { n / (K * K), in.Ac, in.Ap },
        { in.Ac, -(p * inverseSquares - K * in.Acc), inverse + K * in.Acp },
        { in.Ap, inverse + K * in.Acp, K * in.App },
    } };
    std::array<std::array<double, 3>, 3> covariance {};
    if (invert(information, covariance)) {
        result.sigmaK = std::sqrt(std::max(0.0, covariance[0][0]));
        result.sigmaC = std::sqrt(std::max(0.0, covariance[1][1]));
        result.sigmaP = std::sqrt(std::max(0.0, covariance[2][2]));
    }
    return result;
}

Forecast forecast(const Fit &fit, double b, double mc, double magnitude, double from, double to)
{
    Forecast f;
    f.from = from;
    f.to = to;
    f.magnitude = magnitude;
    f.expected = fit.K * std::pow(10.0, -b * (magnitude - mc)) * integral(fit.c, fit.p, from, to);
    f.probability = -std::expm1(-f.expected);
    return f;
}

} // namespace Omori
