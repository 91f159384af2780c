// libFuzzer target for the FDSN event service's query parser: any query
// gives a selection whose SQL has a value for every placeholder and whose
// bounds are in order, or a one-line reason.

#include "catalogue/eventrow.h"
#include "http/fdsnquery.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Parsed<FdsnQuery> parsed = FdsnQuery::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!parsed.value) {
        if (parsed.error.isEmpty() || parsed.error.contains(u'\n'))
            __builtin_trap();
        return 0;
    }
    const FdsnQuery &query = *parsed.value;
    const EventQuery &selection = query.selection;
    if (selection.whereClause().count(u'?') != selection.bindings().size())
        __builtin_trap();
    if (query.offset < 1 || (query.limit && *query.limit < 1))
        __builtin_trap();
    if (selection.startUs && selection.endUs && *selection.startUs > *selection.endUs)
        __builtin_trap();
    if (query.circle && query.circle->minRadius > query.circle->maxRadius)
        __builtin_trap();
    EventRow row;
    row.latitude = -41;
    row.longitude = 179.9;
    query.matches(row);
    return 0;
}
