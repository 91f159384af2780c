#pragma once

// The shipped data that the gateway's replies and pages use, read once from
// share/harvix beside the executable: GeoNames' places. Empty, with a
// warning on standard error, when the files are missing.

class Places;

namespace GatewayData {

const Places &places();

} // namespace GatewayData
