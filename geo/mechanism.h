#pragma once

// An earthquake's focal mechanism as a moment tensor solution gives it:
// the tensor, its principal axes and its nodal planes.
//
// GeoNet writes the tensor in north-east-down axes in units of 10^20
// dyne·cm; QuakeML (and the Global CMT catalogue) in up-south-east axes in
// N·m: Mrr = Mzz, Mtt = Mxx, Mpp = Myy, Mrt = Mxz, Mrp = -Myz, Mtp = -Mxy
// (Aki and Richards 2002, box 4.4). The principal axes are the tensor's
// eigenvectors: T of the largest eigenvalue, P of the smallest, N between;
// each given by its value, its plunge below the horizontal and its azimuth
// from north, pointing down.

#include <array>

namespace Mechanism {

// Dyne·cm in N·m, and the unit of GeoNet's tensor elements.
constexpr double NewtonMetresPerDyneCm = 1e-7;
constexpr double GeoNetTensorUnit = 1e20 * NewtonMetresPerDyneCm;

struct NorthEastDown
{
    double xx = 0, xy = 0, xz = 0, yy = 0, yz = 0, zz = 0;
};

struct UpSouthEast
{
    double rr = 0, tt = 0, pp = 0, rt = 0, rp = 0, tp = 0;
};

UpSouthEast toUpSouthEast(const NorthEastDown &m);

struct Axis
{
    double value = 0;     // the eigenvalue, in the tensor's units
    double plunge = 0;    // degrees below the horizontal, 0 to 90
    double azimuth = 0;   // degrees east of north, 0 to 360
};

struct PrincipalAxes
{
    Axis t, n, p;
};

// The eigenvalues and eigenvectors of the symmetric tensor, by Jacobi's
// rotations to machine precision.
PrincipalAxes principalAxes(const NorthEastDown &m);

// The scalar moment of a tensor, sqrt(sum of squares / 2) (Silver and
// Jordan 1982), and the moment magnitude of a moment in N·m (Hanks and
// Kanamori 1979).
double scalarMoment(const NorthEastDown &m);
double momentMagnitude(double newtonMetres);

} // namespace Mechanism
