#pragma once

// What every catalogue reader must give for any input, however broken:
// rows whose values are in range, or an error. Shared by the
// fuzz targets of the gateway's readers.

#include "formats/readoutcome.h"

#include <cmath>

namespace CatalogueInvariants {

inline bool finite(const std::optional<double> &value)
{
    return !value || std::isfinite(*value);
}

inline void check(const EventRow &row)
{
    const bool sound = !row.publicId.isEmpty() && finite(row.latitude) && finite(row.longitude)
        && finite(row.depthKm) && finite(row.magnitude)
        && (!row.latitude || std::fabs(*row.latitude) <= 90)
        && (!row.longitude || std::fabs(*row.longitude) <= 360);
    if (!sound)
        __builtin_trap();
}

inline void check(const ReadOutcome &outcome, qint64 rowsSeen)
{
    if (outcome.rows != rowsSeen)
        __builtin_trap();
    if (outcome.failed() && outcome.errorLine < 0)
        __builtin_trap();
    if (!outcome.failed() && outcome.format.isEmpty())
        __builtin_trap();
}

} // namespace CatalogueInvariants
