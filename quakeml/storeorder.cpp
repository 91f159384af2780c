#include "quakeml/storeorder.h"

void StoreOrder::alignLocations(std::vector<LocatedEvent> &located)
{
    alignToStore(located, [](const LocatedEvent &event) { return event.eventId; }, [](const LocatedEvent &) {});
    located.shrink_to_fit();
}

std::vector<const RawEvent *> StoreOrder::alignRaw(const std::vector<RawEvent> &raw)
{
    std::vector<const RawEvent *> aligned;
    aligned.reserve(raw.size());
    for (const RawEvent &event : raw)
        aligned.push_back(&event);
    alignToStore(aligned, [](const RawEvent *event) { return event->eventId; }, [](const RawEvent *) {});
    return aligned;
}
