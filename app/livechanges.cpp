#include "app/livechanges.h"

LiveChanges LiveChanges::between(const QuakeEventStore &before, const QuakeEventStore &after)
{
    // Both are ordered by identifier: one walk through the two.
    LiveChanges changes;
    auto old = before.begin();
    auto now = after.begin();
    while (old != before.end() || now != after.end()) {
        if (now == after.end() || (old != before.end() && old->first < now->first)) {
            changes.withdrawn.push_back(old++->first);
        } else if (old == before.end() || now->first < old->first) {
            changes.added.push_back(now++->first);
        } else {
            QuakeFieldMap earlier;
            for (const auto &[label, value] : now->second) {
                const auto was = old->second.find(label);
                const std::string &previous = was == old->second.end() ? std::string() : was->second;
                if (previous != value)
                    earlier.emplace(label, previous);
            }
            if (!earlier.empty())
                changes.revised.emplace(now->first, std::move(earlier));
            ++old;
            ++now;
        }
    }
    return changes;
}
