#include "geo/decluster.h"

#include "geo/projection.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <numeric>
#include <thread>

// Zaliapin and Ben-Zion (2013): each event's nearest earlier neighbour in
// time, space and magnitude, found over a k-d tree; the links below the
// threshold joined by union-find into clusters.

namespace Decluster {

namespace {

constexpr double SecondsPerYear = 365.25 * 86400;
constexpr double LeastKm = 0.1;

struct Parent
{
    int index = -1;
    double eta = HUGE_VAL;
};

// A k-d tree over the events' time and position (unit vectors), each node
// with its bounds and its least 10^-bm (of its largest magnitude), so that
// a search for an event's parent passes over every node whose least
// possible eta (from the node's latest time, its box's nearest chord and
// its largest magnitude) cannot beat the best found.
class ParentTree
{
public:
    ParentTree(const std::vector<QuakePoint> &events, const NearestNeighbourRules &rules)
        : m_events(events)
        , m_order(events.size())
        , m_dimension(rules.fractalDimension)
    {
        const std::size_t n = events.size();
        m_points.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double phi = events[i].latitude * M_PI / 180, lambda = events[i].longitude * M_PI / 180;
            m_points[i] = { { std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi) },
                            std::pow(10.0, -rules.b * events[i].magnitude) };
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
        double weight;   // 10^-bm as a parent
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
    double leastEta(const Node &node, const QuakePoint &child, const Point &at) const
    {
        double squared = 0;
        for (int c = 0; c < 3; ++c) {
            const double outside = std::max({ node.low[c] - at.xyz[c], at.xyz[c] - node.high[c], 0.0 });
            squared += outside * outside;
        }
        const double km = std::max(LeastKm, Projection::EarthRadiusKm * std::sqrt(squared));
        const double years = std::max(child.time - node.latest, 1.0) / SecondsPerYear;
        return years * std::pow(km, m_dimension) * node.weight;
    }

    void consider(std::size_t child, int i, Parent &best) const
    {
        const QuakePoint &at = m_events[child], &parent = m_events[std::size_t(i)];
        const double years = std::max(at.time - parent.time, 1.0) / SecondsPerYear;
        // Out of reach by the chord, which is shorter than the arc: km^d
        // against eta / (t 10^-bm); for d = 1.6, km^8 against its fifth
        // power, so that most events are passed over without a sine or a
        // power.
        const Point &from = m_points[std::size_t(i)], &to = m_points[child];
        const double dx = from.xyz[0] - to.xyz[0], dy = from.xyz[1] - to.xyz[1], dz = from.xyz[2] - to.xyz[2];
        const double chordKm2 = std::max(LeastKm * LeastKm, (dx * dx + dy * dy + dz * dz) * Projection::EarthRadiusKm * Projection::EarthRadiusKm);
        const double reach = best.eta * Slack / (years * from.weight);
        if (m_dimension == 1.6) {
            const double reach2 = reach * reach;
            if (chordKm2 * chordKm2 * chordKm2 * chordKm2 > reach2 * reach2 * reach)
                return;
        } else if (std::pow(chordKm2, m_dimension / 2) > reach) {
            return;
        }
        const double km = std::max(LeastKm, Geo::distanceKm({ parent.latitude, parent.longitude }, { at.latitude, at.longitude }));
        const double value = years * std::pow(km, m_dimension) * m_points[std::size_t(i)].weight;
        if (value < best.eta || (value == best.eta && i < best.index)) {
            best.eta = value;
            best.index = i;
        }
    }

    const std::vector<QuakePoint> &m_events;
    std::vector<Point> m_points;
    std::vector<int> m_order;
    std::vector<Node> m_nodes;
    double m_dimension;
};

// Each event's nearest earlier neighbour by eta, on two threads for a
// large catalogue.
std::vector<Parent> parentsOf(const std::vector<QuakePoint> &events, const NearestNeighbourRules &rules)
{
    const std::size_t n = events.size();
    std::vector<Parent> parents(n);
    const ParentTree tree(events, rules);
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

int findRoot(std::vector<int> &root, int i)
{
    while (root[std::size_t(i)] != i) {
        root[std::size_t(i)] = root[std::size_t(root[std::size_t(i)])];
        i = root[std::size_t(i)];
    }
    return i;
}

} // namespace

NearestNeighbours nearestNeighbours(const std::vector<QuakePoint> &events, std::optional<double> threshold,
                                    const NearestNeighbourRules &rules)
{
    NearestNeighbours result;
    const std::size_t n = events.size();
    const std::vector<Parent> parents = parentsOf(events, rules);
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
