#pragma once

// A focal mechanism drawn as a beachball: the lower hemisphere of the
// focal sphere in Lambert's equal-area projection, north up and east to
// the right; the quadrants where the P wave's first motion is compressional
// (the tensor's radiation γᵀMγ positive along the ray γ) filled in a colour,
// the dilatational ones white, and the circle outlined.

#include "geo/mechanism.h"

#include <QColor>
#include <QImage>

namespace Beachball {

// A ball of this diameter in pixels, on a transparent ground.
QImage draw(const Mechanism::NorthEastDown &tensor, int diameter, const QColor &fill);

// Whether the ray that leaves the source towards the ball's point (x to
// the east, y to the north; the unit circle is the horizon) starts
// compressional.
bool isCompressional(const Mechanism::NorthEastDown &tensor, double x, double y);

} // namespace Beachball
