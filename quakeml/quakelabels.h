#pragma once

// The labels of an event's rows, as the tree shows them and the field map
// keys them (Latin-1).

#include <string>

namespace QuakeLabels {

inline const std::string Time = "Universal Time:";
inline const std::string Depth = "Focal Depth:";
inline const std::string Latitude = "Latitude:";
inline const std::string Longitude = "Longitude:";
inline const std::string Mode = "Origin evaluation mode:";
inline const std::string Status = "Origin evaluation status:";
inline const std::string Reference = "Reference ID:";
inline const std::string Magnitude = "Richter Magnitude:";
inline const std::string StationCount = "Station Count (Magnitude):";

} // namespace QuakeLabels
