#pragma once

// The shipped data that the gateway's replies and pages use, read once from
// share/harvix beside the executable: GeoNames' places and Natural Earth's
// land. Empty, with a
// warning on standard error, when the files are missing.

class LandAtlas;
class Places;

namespace GatewayData {

const Places &places();
const LandAtlas &land();

} // namespace GatewayData
