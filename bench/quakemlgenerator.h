#pragma once

// Writes QuakeML 1.0 search replies in the shape of GeoNet's quake service:
// each event with its origin, arrivals, station magnitudes, magnitude, picks
// and an amplitude, about 1.8 KB of text. Seeded, so the same arguments give
// the same bytes.

#include <QByteArray>

QByteArray generateQuakeML(int events, unsigned seed = 20091013);
