#pragma once

// The fixed scales of the map's symbols, the same for every search so that
// two searches can be compared: circle size by magnitude, colour by depth.

#include <QColor>

#include <optional>

namespace EventScales {

// The radius in pixels of an event's circle: its area grows tenfold every
// 3.3 magnitudes (M2 4 px, M4 8 px, M6 16 px); never below 1.5 px.
double radius(double magnitude);

// How much the map's circles shrink at a scale (pixels per km): whole from
// 1 px/km (about 500 km across a map), in proportion below, down to 0.15
// of their size (a country in a small pane), so that the land shows
// between a year's events; in steps of 0.05, so that the sprites of one
// step serve every scale in it.
double zoomFactor(double pixelsPerKm);

// The magnitudes whose circles the legends show, Harvix's and the pages'.
constexpr double LegendMagnitudes[] = { 2, 4, 6 };

// The depth ramp, 0 km to 300 km and deeper: red, orange, yellow, green,
// blue, purple, as USGS and GeoNet colour depth.
QColor depthColour(double depthKm);
// The depths that the pages' legend shows, a square of colour each
// (Harvix's legend draws the ramp whole and names 0, 100, 200 and 300+).
constexpr double LegendDepths[] = { 0, 15, 40, 100, 200, 300 };

// Events without a depth: grey.
QColor noDepthColour();
// The radius of events without a magnitude.
constexpr double NoMagnitudeRadius = 3.0;

// An event's colour and radius, whatever it lacks: the map's, the plots'
// and the pages' alike.
QColor colourOf(std::optional<double> depthKm);
double radiusOf(std::optional<double> magnitude);

} // namespace EventScales
