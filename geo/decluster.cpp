#include "geo/decluster.h"

#include "geo/projection.h"
#include "geo/sequencewindow.h"

#include <algorithm>
#include <cmath>

namespace Decluster {

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

Window gardnerKnopoffWindow()
{
    return { SequenceWindow::radiusKm, SequenceWindow::days };
}

Window uhrhammerWindow()
{
    return { [](double m) { return std::exp(-1.024 + 0.804 * m); }, [](double m) { return std::exp(-2.87 + 1.235 * m); } };
}

std::vector<Membership> gardnerKnopoff(const std::vector<QuakePoint> &events, const Window &window)
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
        const double radius = window.radiusKm(from.magnitude);
        const double until = from.time + window.days(from.magnitude) * SequenceStudy::SecondsPerDay;
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
