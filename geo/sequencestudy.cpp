#include "geo/sequencestudy.h"

#include "geo/projection.h"
#include "geo/sequencewindow.h"

#include <algorithm>
#include <cmath>

namespace SequenceStudy {

void sortByTime(std::vector<QuakePoint> &events)
{
    std::sort(events.begin(), events.end(), [](const QuakePoint &a, const QuakePoint &b) {
        return a.time != b.time ? a.time < b.time : a.id < b.id;
    });
}

namespace {

// The days after the window's start of its events at or above Mc (binned),
// which the fit and the rates take.
std::vector<double> daysAtOrAboveMc(const Study &study)
{
    const int mcBin = Statistics::binOf(*study.mc);
    std::vector<double> days;
    for (const QuakePoint &event : study.events) {
        if (std::isfinite(event.magnitude) && Statistics::binOf(event.magnitude) >= mcBin)
            days.push_back((event.time - study.start) / SecondsPerDay);
    }
    return days;
}

} // namespace

Study study(const QuakePoint &mainshock, const std::vector<QuakePoint> &catalogue, std::optional<double> days,
            std::optional<double> at, double latest)
{
    Study result;
    result.mainshock = mainshock;
    result.radiusKm = SequenceWindow::radiusKm(mainshock.magnitude);
    const double duration = days.value_or(SequenceWindow::days(mainshock.magnitude)) * SecondsPerDay;
    result.start = mainshock.time;
    result.end = std::min(mainshock.time + duration, std::max(latest, mainshock.time));
    const GeoPoint centre { mainshock.latitude, mainshock.longitude };
    for (const QuakePoint &event : catalogue) {
        if (event.id == mainshock.id || !(event.time > result.start && event.time <= result.end))
            continue;
        if (Geo::distanceKm(centre, { event.latitude, event.longitude }) <= result.radiusKm)
            result.events.push_back(event);
    }
    sortByTime(result.events);

    std::vector<double> magnitudes;
    for (const QuakePoint &event : result.events) {
        if (std::isfinite(event.magnitude))
            magnitudes.push_back(event.magnitude);
    }
    const Statistics::GutenbergRichter gr = Statistics::gutenbergRichter(magnitudes);
    result.mc = gr.mc;
    result.aboveMc = gr.aboveMc;
    result.whyNoB = gr.whyNoB;
    if (!result.mc)
        return result;
    if (gr.b)
        result.b = Statistics::BValue { *gr.b, gr.bUncertainty, gr.a, gr.aboveMc };
    const std::vector<double> times = daysAtOrAboveMc(result);
    const double windowDays = (result.end - result.start) / SecondsPerDay;
    result.omori = Omori::fit(times, windowDays);
    result.forecastFrom = at.value_or(result.end);
    if (result.omori && result.b) {
        const double from = (result.forecastFrom - result.start) / SecondsPerDay;
        for (const double horizon : ForecastDays) {
            for (const double magnitude : ForecastMagnitudes)
                result.forecast.cells.push_back(Omori::forecast(*result.omori, result.b->b, *result.mc, magnitude, from, from + horizon));
        }
    }

    // b and Mc over time, in the sequence's order.
    std::vector<double> timeOf;
    magnitudes.clear();
    for (const QuakePoint &event : result.events) {
        if (std::isfinite(event.magnitude)) {
            magnitudes.push_back(event.magnitude);
            timeOf.push_back(event.time);
        }
    }
    for (const Statistics::BAt &point : Statistics::bOverTime(magnitudes, *result.mc))
        result.bTime.push_back({ timeOf[point.last], point.value });
    for (const Statistics::McAt &point : Statistics::mcOverTime(magnitudes))
        result.mcTime.push_back({ timeOf[point.last], point.mc, point.sigma });
    return result;
}

std::vector<RatePoint> rates(const Study &study)
{
    std::vector<RatePoint> points;
    if (!study.mc)
        return points;
    const std::vector<double> days = daysAtOrAboveMc(study);
    const double end = (study.end - study.start) / SecondsPerDay;
    if (days.empty() || !(end > 0))
        return points;
    // Bins of a quarter decade from the first event's time on.
    const double first = std::max(1e-4, *std::min_element(days.begin(), days.end()));
    for (double low = std::pow(10.0, std::floor(std::log10(first) * 4) / 4); low < end; low *= std::pow(10.0, 0.25)) {
        const double high = std::min(end, low * std::pow(10.0, 0.25));
        const auto count = std::count_if(days.begin(), days.end(), [&](double t) { return t >= low && t < high; });
        if (count > 0)
            points.push_back({ std::sqrt(low * high), double(count) / (high - low) });
    }
    return points;
}

std::vector<std::pair<double, double>> cumulativeMoment(const Study &study)
{
    std::vector<std::pair<double, double>> sums { { 0.0, 0.0 } };
    double total = 0;
    for (const QuakePoint &event : study.events) {
        if (!std::isfinite(event.magnitude))
            continue;
        total += Statistics::moment(event.magnitude);
        sums.emplace_back((event.time - study.start) / SecondsPerDay, total);
    }
    return sums;
}

} // namespace SequenceStudy
