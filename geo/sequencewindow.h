#pragma once

// The window in space and time of an earthquake's aftershocks: Gardner and
// Knopoff's (1974), as SeismoStats and OpenQuake fit its table. A distance
// of 10^(0.1238 M + 0.983) km, and a time of 10^(0.5409 M - 0.547) days,
// or 10^(0.032 M + 2.7389) days from M 6.5.

namespace SequenceWindow {

double radiusKm(double magnitude);
double days(double magnitude);

} // namespace SequenceWindow
