#include "geo/decluster.h"

#include "geo/projection.h"
#include "geo/sequencewindow.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <thread>
#include <atomic>
#include <climits>

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

struct Parent
{
    int index = -1;
    double eta = HUGE_VAL;
};

// A k-d tree over the events' time and position (unit vectors), each node
// with its bounds and its least 10^-m (of its largest magnitude), so that
// a search for an event's parent passes over every node whose least
// possible eta (from the node's latest time, its box's nearest chord and
// its largest magnitude) cannot beat the best found.
class ParentTree
{
public:
    explicit ParentTree(const std::vector<QuakePoint> &events) : m_events(events), m_order(events.size())
    {
        const std::size_t n = events.size();
        m_points.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double phi = events[i].latitude * M_PI / 180, lambda = events[i].longitude * M_PI / 180;
            m_points[i] = { { std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi) },
                            std::pow(10.0, -events[i].magnitude) };
        }
        std::iota(m_order.begin(), m_order.end(), 0);
        if (n > 0)
            build(0, int(n), 0);
    }

    Parent parentOf(std::size_t child) const
    {
        Parent best;
        const QuakePoint &at = m_events[child];
        // The latest events before it give a first bound.
        for (std::size_t i = child; i-- > 0 && i + 32 >= child;)
            consider(child, int(i), best);
        if (m_nodes.empty())
            return best;
        std::vector<std::pair<int, double>> stack { { 0, 0.0 } };
        while (!stack.empty()) {
            const auto [index, bound] = stack.back();
            stack.pop_back();
            if (bound > best.eta * Slack)
                continue;
            const Node &node = m_nodes[std::size_t(index)];
            if (node.left < 0) {
                for (int k = node.begin; k < node.end; ++k) {
                    if (std::size_t(m_order[std::size_t(k)]) < child)
                        consider(child, m_order[std::size_t(k)], best);
                }
                continue;
            }
            const Node &left = m_nodes[std::size_t(node.left)], &right = m_nodes[std::size_t(node.right)];
            const double toLeft = left.first < int(child) ? leastEta(left, at, m_points[child]) : HUGE_VAL;
            const double toRight = right.first < int(child) ? leastEta(right, at, m_points[child]) : HUGE_VAL;
            // The nearer is searched first.
            const std::pair<int, double> near { toLeft <= toRight ? node.left : node.right, std::min(toLeft, toRight) };
            const std::pair<int, double> far { toLeft <= toRight ? node.right : node.left, std::max(toLeft, toRight) };
            if (far.second <= best.eta * Slack)
                stack.push_back(far);
            if (near.second <= best.eta * Slack)
                stack.push_back(near);
        }
        return best;
    }

private:
    struct Point
    {
        double xyz[3];
        double weight;   // 10^-m as a parent
    };
    struct Node
    {
        double low[3], high[3];
        double latest = 0;       // time
        double weight = HUGE_VAL;   // the least (of the largest magnitude)
        int first = 0;           // the least event index
        int begin = 0, end = 0;  // in m_order
        int left = -1, right = -1;
    };
    static constexpr int Leaf = 32;
    // A bound passes a node only when clearly above the best, so that no
    // rounding loses a parent or a tie.
    static constexpr double Slack = 1 + 1e-9;

    int build(int begin, int end, int depth)
    {
        const int index = int(m_nodes.size());
        m_nodes.emplace_back();
        Node node;
        node.begin = begin;
        node.end = end;
        node.first = INT_MAX;
        for (int c = 0; c < 3; ++c) {
            node.low[c] = HUGE_VAL;
            node.high[c] = -HUGE_VAL;
        }
        node.latest = -HUGE_VAL;
        for (int k = begin; k < end; ++k) {
            const int i = m_order[std::size_t(k)];
            const Point &p = m_points[std::size_t(i)];
            for (int c = 0; c < 3; ++c) {
                node.low[c] = std::min(node.low[c], p.xyz[c]);
                node.high[c] = std::max(node.high[c], p.xyz[c]);
            }
            node.latest = std::max(node.latest, m_events[std::size_t(i)].time);
            node.weight = std::min(node.weight, p.weight);
            node.first = std::min(node.first, i);
        }
        if (end - begin > Leaf) {
            // Time and the widest axis of space in turn.
            int axis = 3;
            if (depth % 2 == 1) {
                axis = 0;
                for (int c = 1; c < 3; ++c) {
                    if (node.high[c] - node.low[c] > node.high[axis] - node.low[axis])
                        axis = c;
                }
            }
            const int middle = begin + (end - begin) / 2;
            std::nth_element(m_order.begin() + begin, m_order.begin() + middle, m_order.begin() + end, [&](int a, int b) {
                return axis == 3 ? a < b : m_points[std::size_t(a)].xyz[axis] < m_points[std::size_t(b)].xyz[axis];
            });
            node.left = build(begin, middle, depth + 1);
            node.right = build(middle, end, depth + 1);
        }
        m_nodes[std::size_t(index)] = node;
        return index;
    }

    // No event of the node can be nearer than this (the chord is shorter
    // than the arc, the box nearer than any point in it, and no event of it
// larger than its largest).
    static double leastEta(const Node &node, const QuakePoint &child, const Point &at)
    {
        double squared = 0;
        for (int c = 0; c < 3; ++c) {
            const double outside = std::max({ node.low[c] - at.xyz[c], at.xyz[c] - node.high[c], 0.0 });
            squared += outside * outside;
        }
        const double km = std::max(LeastKm, Projection::EarthRadiusKm * std::sqrt(squared));
        const double years = std::max(child.time - node.latest, 1.0) / SecondsPerYear;
        return years * std::pow(km, FractalDimension) * node.weight;
    }

    void consider(std::size_t child, int i, Parent &best) const
    {
        const QuakePoint &at = m_events[child], &parent = m_events[std::size_t(i)];
        const double years = std::max(at.time - parent.time, 1.0) / SecondsPerYear;
        // Out of reach by the chord, which is shorter than the arc: km^1.6
        // against eta / (t 10^-m) as km^8 against its fifth power, so that
        // most events are passed over without a sine or a power.
        const Point &from = m_points[std::size_t(i)], &to = m_points[child];
        const double dx = from.xyz[0] - to.xyz[0], dy = from.xyz[1] - to.xyz[1], dz = from.xyz[2] - to.xyz[2];
        const double chordKm2 = std::max(LeastKm * LeastKm, (dx * dx + dy * dy + dz * dz) * Projection::EarthRadiusKm * Projection::EarthRadiusKm);
        const double reach = best.eta * Slack / (years * from.weight);
        const double reach2 = reach * reach;
        if (chordKm2 * chordKm2 * chordKm2 * chordKm2 > reach2 * reach2 * reach)
            return;
        const double km = std::max(LeastKm, Geo::distanceKm({ parent.latitude, parent.longitude }, { at.latitude, at.longitude }));
        const double value = years * std::pow(km, FractalDimension) * m_points[std::size_t(i)].weight;
        if (value < best.eta || (value == best.eta && i < best.index)) {
            best.eta = value;
            best.index = i;
        }
    }

    const std::vector<QuakePoint> &m_events;
    std::vector<Point> m_points;
    std::vector<int> m_order;
    std::vector<Node> m_nodes;
};

// Each event's nearest earlier neighbour by eta, on two threads for a
// large catalogue.
std::vector<Parent> parentsOf(const std::vector<QuakePoint> &events)
{
    const std::size_t n = events.size();
    std::vector<Parent> parents(n);
    const ParentTree tree(events);
    std::atomic<std::size_t> next { 0 };
    const auto work = [&] {
        constexpr std::size_t Chunk = 512;
        for (std::size_t from; (from = next.fetch_add(Chunk)) < n;) {
            for (std::size_t j = from; j < std::min(n, from + Chunk); ++j)
                parents[j] = tree.parentOf(j);
        }
    };
    if (n > 4000 && std::thread::hardware_concurrency() > 1) {
        std::thread other(work);
        work();
        other.join();
    } else {
        work();
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
    result.threshold = threshold ? threshold : mixtureThreshold(logEtas);
    // The linked events, as components; each led by its largest event.
    std::vector<int> root(n);
    std::iota(root.begin(), root.end(), 0);
    for (std::size_t j = 0; j < n; ++j) {
        if (result.threshold && parents[j].index >= 0 && std::log10(parents[j].eta) < *result.threshold)
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
