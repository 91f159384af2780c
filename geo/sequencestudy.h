#pragma once

// What a sequence is doing, from a catalogue: the events of a mainshock's
// window (Gardner and Knopoff's, geo/sequencewindow.h: every other event
// within its distance, great circle on the 6371 km sphere, with a time in
// (t0, t0 + D], D its days unless asked, never past the catalogue's last
// event), their completeness and b (geo/statistics.h), the Omori-Utsu fit
// and its forecast (geo/omori.h), and b and Mc over time. One engine, for Harvix
// and the gateway alike.

#include "geo/omori.h"
#include "geo/statistics.h"

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An event as the studies take it: time in seconds since 1970 (UTC),
// degrees, a magnitude (NaN for none).
struct QuakePoint
{
    double time = 0;
    double latitude = 0;
    double longitude = 0;
    double magnitude = 0;
    std::string id;
};

namespace SequenceStudy {

constexpr double SecondsPerDay = 86400;

// The horizons of the forecast: a day, a week, a month, a year.
constexpr double ForecastDays[] = { 1, 7, 30, 365 };
constexpr double ForecastMagnitudes[] = { 4, 5, 6 };

// The forecast's table: a row a horizon, a column a magnitude, in the
// orders above; empty without a fit.
struct ForecastGrid
{
    std::vector<Omori::Forecast> cells;   // row by row

    static constexpr std::size_t Columns = std::size(ForecastMagnitudes);
    const Omori::Forecast &at(std::size_t horizon, std::size_t magnitude) const { return cells[horizon * Columns + magnitude]; }
    bool empty() const { return cells.empty(); }
    std::size_t size() const { return cells.size(); }
    const Omori::Forecast &operator[](std::size_t i) const { return cells[i]; }
    auto begin() const { return cells.begin(); }
    auto end() const { return cells.end(); }
};

struct Study
{
    QuakePoint mainshock;
    double radiusKm = 0;
    double start = 0, end = 0;             // the window's times (seconds)
    std::vector<QuakePoint> events;        // the sequence, in time order then id
    std::optional<double> mc;              // none without magnitudes
    int aboveMc = 0;                       // events at or above Mc
    // At or above Mc; none with fewer than Statistics::Rules' minimum
    // there, as the frequency-magnitude plot has it, and then why not.
    std::optional<Statistics::BValue> b;
    QString whyNoB;
    std::optional<Omori::Fit> omori;       // none with too few events at or above Mc
    double forecastFrom = 0;               // seconds
    ForecastGrid forecast;                 // days after the mainshock
    struct BTime
    {
        double end;                        // the window's last event (seconds)
        Statistics::BValue value;
    };
    std::vector<BTime> bTime;
    struct McTime
    {
        double end;                        // the window's last event (seconds)
        double mc, sigma;
    };
    std::vector<McTime> mcTime;            // windows of every event with a magnitude
};

// The mainshock needs a magnitude; `days` and `at` (seconds) as asked, or
// none. `latest` is the catalogue's last event's time.
Study study(const QuakePoint &mainshock, const std::vector<QuakePoint> &catalogue, std::optional<double> days,
            std::optional<double> at, double latest);

// Orders events by time, then id, as every study does.
void sortByTime(std::vector<QuakePoint> &events);

// The rate of the events at or above Mc: days after the mainshock and
// events a day, in logarithmic bins (four a decade) from the first event
// on; empty without Mc.
struct RatePoint
{
    double days;
    double perDay;
};
std::vector<RatePoint> rates(const Study &study);

// The seismic moment of the events after the mainshock, summed in time
// order from none: days after it, newton metres.
std::vector<std::pair<double, double>> cumulativeMoment(const Study &study);

} // namespace SequenceStudy
