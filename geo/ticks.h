#pragma once

// Round numbers for axes and scale bars: 1, 2 or 5 times a power of ten
// (and 2.5 for an axis's step), the same in Harvix's plots and the
// gateway's pictures; and the ticks of a time axis.

#include <QString>

#include <vector>

namespace Ticks {

// The smallest round step at least rough: an axis's ticks.
double stepAtLeast(double rough);
// The ticks of an axis from low to high: the multiples of the round step
// at least (high - low) / about that lie between them. None for an empty
// or broken range.
std::vector<double> axisTicks(double low, double high, double about);
// The largest round length at most rough: a scale bar's.
double lengthAtMost(double rough);

struct TimeTick
{
    double seconds;   // since 1970
    QString label;
};
// About five to seven ticks between two times (seconds since 1970) in
// local time, from whole hours to decades, each labelled as fits its step.
std::vector<TimeTick> localTimeTicks(double first, double last);

} // namespace Ticks
