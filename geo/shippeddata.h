#pragma once

// The data that ship with Harvix and the gateway, in share/harvix beside
// the executable's folder (the build tree mirrors that): GeoNames' places,
// Natural Earth's land and GeoNet's catalogues. Places and land are read
// once, on first use; when their files are missing they are empty, with a
// warning on standard error, and a map still shows its events.

#include <QString>

class LandAtlas;
class Places;

namespace ShippedData {

QString folder();
const Places &places();
const LandAtlas &land();
// What of the shipped data could not be read, in words ("place names and
// land"; standard error has why); empty when all was.
QString missing();

} // namespace ShippedData
