#pragma once

// What changed between two results of one search followed live: events
// that are new, events whose values were revised (with the values they had
// before), and events that are gone, each by its key in its own result; an
// event is the same event in both by its reference identifier. No
// widgets: the window marks them.

#include "quakeml/quakeeventrecord.h"

#include <map>
#include <string>
#include <vector>

struct LiveChanges
{
    std::vector<std::string> added;
    // By event: each row whose value changed, with the value it had before
    // (empty for a row the event did not have).
    std::map<std::string, QuakeFieldMap> revised;
    std::vector<std::string> withdrawn;

    static LiveChanges between(const QuakeEventStore &before, const QuakeEventStore &after);
};
