#pragma once

// One event of the catalogue, as the readers yield it and the catalogue
// stores it. Anything unknown is empty: no value ever stands for "unknown".

#include <QString>

#include <cstdint>
#include <optional>

struct EventRow
{
    QString publicId;                   // GeoNet's event id, "2024p000135"
    std::int64_t originTimeUs = 0;      // UTC, microseconds since 1970
    std::optional<double> latitude;     // degrees
    std::optional<double> longitude;    // degrees
    std::optional<double> depthKm;
    std::optional<double> magnitude;
    QString magnitudeType;
    std::optional<int> magnitudeStationCount;
    QString eventType;
    QString evaluationMode;
    QString evaluationStatus;
    // Where the catalogue has it from: a file's name or an upstream's URL.
    // Read from the catalogue; the writers store the source they are given.
    QString source;
};
