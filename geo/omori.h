#pragma once

// The decay of an aftershock sequence: the modified Omori law (Utsu 1961), a
// rate of K (t + c)^-p events a day at t days after the mainshock, fitted
// by maximum likelihood (Ogata 1983) to the times of the events at or
// above the completeness magnitude over (0, D]; the uncertainties of K, c
// and p from the inverse of the observed information at the maximum. And
// Reasenberg and Jones's (1989) forecast from that fit: the expected number of
// events of magnitude m or more between t1 and t2,
// K 10^(-b (m - Mc)) times the integral of (t + c)^-p, and the chance of
// at least one, 1 - exp(-N).

#include <optional>
#include <vector>

namespace Omori {

struct Fit
{
    double K = 0, c = 0, p = 0;
    double sigmaK = 0, sigmaC = 0, sigmaP = 0;
    int n = 0;                  // events fitted
    double logLikelihood = 0;   // at K, c and p
};

// The integral of (t + c)^-p from t1 to t2 (days), p = 1 included.
double integral(double c, double p, double t1, double t2);

// The log-likelihood of K, c and p for these times (days after the
// mainshock, each in (0, days]).
double logLikelihood(double K, double c, double p, const std::vector<double> &times, double days);

// None for fewer than MinimumEvents times, or for times that do not decay
// (the best p below MinimumP, or c longer than the window); the times are
// days after the mainshock, those outside (0, days] left out.
constexpr int MinimumEvents = 50;
constexpr double MinimumP = 0.1;
std::optional<Fit> fit(const std::vector<double> &times, double days);

struct Forecast
{
    double from = 0, to = 0;    // days after the mainshock
    double magnitude = 0;
    double expected = 0;
    double probability = 0;
};

// The forecast from a fit, with the b-value and Mc of the same events.
Forecast forecast(const Fit &fit, double b, double mc, double magnitude, double from, double to);

} // namespace Omori
