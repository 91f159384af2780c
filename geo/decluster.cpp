#include "geo/decluster.h"

#include "geo/projection.h"
#include "geo/sequencewindow.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <thread>
#include <unordered_map>

namespace Decluster {

namespace {

// Clusters numbered in the order of their mainshocks' times.
void numberClusters(std::vector<Membership> &memberships)
{
    std::vector<int> number(memberships.size(), 0);
    int next = 0;
    for (std::size_t i = 0; i < memberships.size(); ++i) {
        if (memberships[i].mainshock == int(i))
            number[i] = ++next;
    }
    for (Membership &membership : memberships)
        membership.cluster = number[std::size_t(membership.mainshock)];
}

} // namespace

std::vector<Membership> gardnerKnopoff(const std::vector<QuakePoint> &events)
{
    const std::size_t n = events.size();
    std::vector<Membership> memberships(n);
    for (Membership &membership : memberships)
        membership.logEta = std::nan("");
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    // Largest first; among equals the earlier (the events are in time order).
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return events[std::size_t(a)].magnitude > events[std::size_t(b)].magnitude; });
    constexpr double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    for (const int leader : order) {
        Membership &own = memberships[std::size_t(leader)];
        if (own.mainshock >= 0)
            continue;
        own.mainshock = leader;
        const QuakePoint &from = events[std::size_t(leader)];
        const double radius = SequenceWindow::radiusKm(from.magnitude);
        const double until = from.time + SequenceWindow::days(from.magnitude) * SequenceStudy::SecondsPerDay;
        const GeoPoint centre { from.latitude, from.longitude };
        // The events after it in time, up to its window's end.
        auto j = std::upper_bound(events.begin(), events.end(), from.time,
                                  [](double time, const QuakePoint &e) { return time < e.time; });
        for (; j != events.end() && j->time <= until; ++j) {
            Membership &other = memberships[std::size_t(j - events.begin())];
            if (other.mainshock >= 0 || std::fabs(j->latitude - from.latitude) * kmPerDegree > radius)
                continue;
            if (Geo::distanceKm(centre, { j->latitude, j->longitude }) <= radius) {
                other.mainshock = leader;
                other.parent = leader;
            }
        }
    }
    numberClusters(memberships);
    return memberships;
}

int clusterCount(const std::vector<Membership> &memberships)
{
    return int(std::count_if(memberships.begin(), memberships.end(), [&](const Membership &m) {
        return m.mainshock == int(&m - memberships.data());
    }));
}

} // namespace Decluster

namespace Decluster {

namespace {

constexpr double SecondsPerYear = 365.25 * 86400;
constexpr double FractalDimension = 1.6;
constexpr double LeastKm = 0.1;

// Cells of a degree, for every magnitude class (finer and coarser cells
// were slower on the shipped catalogue).
struct DegreeCells
{
    static constexpr double degrees = 1.0;
    static constexpr int rows = 180, columns = 360;
    static int rowOf(double latitude) { return std::clamp(int(std::floor(latitude + 90)), 0, rows - 1); }
    static int columnOf(double longitude)
    {
        return ((int(std::floor(Geo::periodicLongitude(longitude) + 180)) % columns) + columns) % columns;
    }
};

struct Parent
{
    int index = -1;
    double eta = HUGE_VAL;
};

// The nearest neighbour of each event by eta, for each whole magnitude
// class of parents in turn (a parent below M at t years and r km cannot
// beat eta* once t r^1.6 10^-M does). A class of few events is scanned back
// in time; a larger one from cells of a degree, ring by ring outwards from
// the event's: a cell at
// least d km away is scanned back only as long as t d^1.6 10^-M can beat
// eta*, and the rings end where even the class's latest event before the
// child could not.
std::vector<Parent> parentsOf(const std::vector<QuakePoint> &events)
{
    const std::size_t n = events.size();
    std::vector<Parent> parents(n);
    int lowest = 0, highest = 0;
    for (const QuakePoint &e : events) {
        lowest = std::min(lowest, int(std::floor(e.magnitude)));
        highest = std::max(highest, int(std::floor(e.magnitude)));
    }
    constexpr double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    constexpr int SmallClass = 64;
    const DegreeCells grid;
    const auto cellKey = [](int k, int row, int column) { return (std::int64_t(k) * 4000 + row) * 8000 + column; };
    // Each class's events in time order, and by cell.
    std::vector<std::vector<int>> classes(std::size_t(highest - lowest + 1));
    std::unordered_map<std::int64_t, std::vector<int>> cells;
    for (std::size_t i = 0; i < n; ++i) {
        const int k = int(std::floor(events[i].magnitude)) - lowest;
        classes[std::size_t(k)].push_back(int(i));
        cells[cellKey(k, grid.rowOf(events[i].latitude), grid.columnOf(events[i].longitude))].push_back(int(i));
    }
    std::vector<double> weight(n);   // 10^-m of each event as a parent
    for (std::size_t i = 0; i < n; ++i)
        weight[i] = std::pow(10.0, -events[i].magnitude);

    const auto find = [&](std::size_t from, std::size_t to) {
        for (std::size_t j = from; j < to; ++j) {
            const QuakePoint &child = events[j];
            Parent &best = parents[j];
            const GeoPoint at { child.latitude, child.longitude };
            const auto consider = [&](int i) {
                const QuakePoint &parent = events[std::size_t(i)];
                const double years = std::max(child.time - parent.time, 1.0) / SecondsPerYear;
                const double km = std::max(LeastKm, Geo::distanceKm({ parent.latitude, parent.longitude }, at));
                const double value = years * std::pow(km, FractalDimension) * weight[std::size_t(i)];
                if (value < best.eta || (value == best.eta && i < best.index)) {
                    best.eta = value;
                    best.index = i;
                }
            };
            // The latest events before it give a first eta*.
            for (int i = int(j) - 1; i >= 0 && i >= int(j) - 32; --i)
                consider(i);
            // How far back in time a parent of the class at d km may lie.
            const auto reachSeconds = [&](double upper, double km) {
                return best.eta * upper / std::pow(std::max(km, LeastKm), FractalDimension) * SecondsPerYear;
            };
            const double cosine = std::cos(child.latitude * M_PI / 180);
            // At least this far beyond so many degrees of latitude or longitude.
            const auto kmBeyond = [&](double degrees) {
                return std::min(degrees * kmPerDegree,
                                Projection::EarthRadiusKm * std::asin(cosine * std::sin(std::min(90.0, degrees) * M_PI / 180)));
            };
            for (std::size_t k = 0; k < classes.size(); ++k) {
                const std::vector<int> &members = classes[k];
                const double upper = std::pow(10.0, lowest + int(k) + 1);
                const auto before = std::lower_bound(members.begin(), members.end(), int(j));
                if (before == members.begin())
                    continue;
                if (members.size() <= std::size_t(SmallClass)) {
                    for (auto it = std::make_reverse_iterator(before); it != members.rend(); ++it) {
                        if (child.time - events[std::size_t(*it)].time >= reachSeconds(upper, LeastKm))
                            break;
                        consider(*it);
                    }
                    continue;
                }
                const double latestGap = child.time - events[std::size_t(*std::prev(before))].time;
                const int row = grid.rowOf(child.latitude), column = grid.columnOf(child.longitude);
                const int half = grid.columns / 2;
                for (int ring = 0; ring <= std::max(grid.rows, half); ++ring) {
                    if (ring >= 2 && latestGap >= reachSeconds(upper, kmBeyond((ring - 1) * grid.degrees)))
                        break;
                    const int wide = std::min(ring, half);
                    for (int r = std::max(0, row - ring); r <= std::min(grid.rows - 1, row + ring); ++r) {
                        const bool edge = std::abs(r - row) == ring;
                        for (int dc = -wide; dc <= wide; ++dc) {
                            if ((!edge && std::abs(dc) != ring) || (dc == wide && wide == half && wide != 0))
                                continue;
                            const auto cell = cells.find(cellKey(int(k), r, ((column + dc) % grid.columns + grid.columns) % grid.columns));
                            if (cell == cells.end())
                                continue;
                            const double km = kmBeyond(std::max(0, std::max(std::abs(r - row), std::abs(dc)) - 1) * grid.degrees);
                            const std::vector<int> &list = cell->second;
                            const auto end = std::lower_bound(list.begin(), list.end(), int(j));
                            for (auto it = std::make_reverse_iterator(end); it != list.rend(); ++it) {
                                if (child.time - events[std::size_t(*it)].time >= reachSeconds(upper, km))
                                    break;
                                consider(*it);
                            }
                        }
                    }
                }
            }
        }
    };
    if (n > 4000 && std::thread::hardware_concurrency() > 1) {
        const std::size_t split = n / 2;
        std::thread other(find, split, n);
        find(0, split);
        other.join();
    } else {
        find(0, n);
    }
    return parents;
}

double normal(double x, double mean, double sigma)
{
    const double z = (x - mean) / sigma;
    return std::exp(-z * z / 2) / (sigma * std::sqrt(2 * M_PI));
}

int findRoot(std::vector<int> &root, int i)
{
    while (root[std::size_t(i)] != i) {
        root[std::size_t(i)] = root[std::size_t(root[std::size_t(i)])];
        i = root[std::size_t(i)];
    }
    return i;
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

NearestNeighbours nearestNeighbours(const std::vector<QuakePoint> &events, std::optional<double> threshold)
{
    NearestNeighbours result;
    const std::size_t n = events.size();
    const std::vector<Parent> parents = parentsOf(events);
    std::vector<double> logEtas;
    for (const Parent &parent : parents) {
        if (parent.index >= 0)
            logEtas.push_back(std::log10(parent.eta));
    }
    result.threshold = threshold ? *threshold : mixtureThreshold(logEtas).value_or(0);
    // The linked events, as components; each led by its largest event.
    std::vector<int> root(n);
    std::iota(root.begin(), root.end(), 0);
    for (std::size_t j = 0; j < n; ++j) {
        if (parents[j].index >= 0 && std::log10(parents[j].eta) < result.threshold)
            root[std::size_t(findRoot(root, int(j)))] = findRoot(root, parents[j].index);
    }
    std::vector<int> leader(n, -1);
    for (std::size_t i = 0; i < n; ++i) {
        int &lead = leader[std::size_t(findRoot(root, int(i)))];
        if (lead < 0 || events[i].magnitude > events[std::size_t(lead)].magnitude)
            lead = int(i);   // in time order: the earliest of equals stays
    }
    result.memberships.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        Membership &m = result.memberships[i];
        m.mainshock = leader[std::size_t(findRoot(root, int(i)))];
        m.parent = parents[i].index;
        m.logEta = parents[i].index >= 0 ? std::log10(parents[i].eta) : std::nan("");
    }
    numberClusters(result.memberships);
    return result;
}

} // namespace Decluster
