#pragma once

// Round numbers for axes and scale bars: 1, 2 or 5 times a power of ten
// (and 2.5 for an axis's step), the same in Harvix's plots and the
// gateway's pictures.

namespace Ticks {

// The smallest round step at least rough: an axis's ticks.
double stepAtLeast(double rough);
// The largest round length at most rough: a scale bar's.
double lengthAtMost(double rough);

} // namespace Ticks
