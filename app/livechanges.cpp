#include "app/livechanges.h"

#include "quakeml/quakelabels.h"

#include <unordered_map>

namespace {

// An event is the same event from one result to the next by its reference
// identifier: its store key holds its local time too, which a revision may
// change. One without a reference is known by its key.
const std::string &identityOf(const std::pair<const std::string, QuakeFieldMap> &entry)
{
    const auto reference = entry.second.find(QuakeLabels::Reference);
    return reference != entry.second.end() && !reference->second.empty() ? reference->second : entry.first;
}

} // namespace

LiveChanges LiveChanges::between(const QuakeEventStore &before, const QuakeEventStore &after)
{
    std::unordered_map<std::string, const QuakeEventStore::value_type *> earlier;
    earlier.reserve(before.size());
    for (const auto &entry : before)
        earlier.emplace(identityOf(entry), &entry);
    LiveChanges changes;
    for (const auto &entry : after) {
        const auto found = earlier.find(identityOf(entry));
        if (found == earlier.end()) {
            changes.added.push_back(entry.first);
            continue;
        }
        const QuakeFieldMap &was = found->second->second;
        QuakeFieldMap revised;
        for (const auto &[label, value] : entry.second) {
            const auto old = was.find(label);
            const std::string &previous = old == was.end() ? std::string() : old->second;
            if (previous != value)
                revised.emplace(label, previous);
        }
        if (!revised.empty())
            changes.revised.emplace(entry.first, std::move(revised));
        earlier.erase(found);
    }
    // What is left of the earlier result is gone, in its order.
    for (const auto &entry : before) {
        if (earlier.count(identityOf(entry)))
            changes.withdrawn.push_back(entry.first);
    }
    return changes;
}
