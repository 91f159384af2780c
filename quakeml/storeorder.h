#pragma once

// The store's order: notes made of events as they were read (locations,
// raw values, tree items) put in the order of the event store, which holds
// one entry per identifier, the last read, sorted by identifier.

#include "quakeml/quakeeventrecord.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace StoreOrder {

// Puts notes made of events as they were read (each with the identifier's
// string in the store, idOf) in the store's order, keeping the last of
// each identifier, as the store keeps it; the others go to dropped.
template <typename Note, typename IdOf, typename Dropped>
void alignToStore(std::vector<Note> &notes, const IdOf &idOf, const Dropped &dropped)
{
    std::stable_sort(notes.begin(), notes.end(), [&](const Note &a, const Note &b) { return *idOf(a) < *idOf(b); });
    auto kept = notes.begin();
    for (auto it = notes.begin(); it != notes.end(); ++it) {
        if (std::next(it) != notes.end() && idOf(*std::next(it)) == idOf(*it))
            dropped(*it);
        else
            *kept++ = *it;
    }
    notes.erase(kept, notes.end());
}

// The locations noted while reading, in the store's order.
void alignLocations(std::vector<LocatedEvent> &located);
// The raw values of the store's events, in the store's order.
std::vector<const RawEvent *> alignRaw(const std::vector<RawEvent> &raw);

} // namespace StoreOrder
