// libFuzzer target for the search protocol's query parser: any query gives
// bounds in order, or a one-line reason.

#include "http/searchquery.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Parsed<SearchQuery> parsed = SearchQuery::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!parsed.value) {
        if (parsed.error.isEmpty() || parsed.error.contains(u'\n'))
            __builtin_trap();
        return 0;
    }
    const SearchQuery &query = *parsed.value;
    if (query.startUs >= query.endUs || (query.magnitudeLower && *query.magnitudeLower > query.magnitudeUpper))
        __builtin_trap();
    if (query.bindings().size() != (query.magnitudeLower ? 4 : 3))
        __builtin_trap();
    return 0;
}
