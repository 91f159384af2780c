#include "geo/mechanism.h"

#include <algorithm>
#include <cmath>

namespace Mechanism {

UpSouthEast toUpSouthEast(const NorthEastDown &m)
{
    return { m.zz, m.xx, m.yy, m.xz, -m.yz, -m.xy };
}

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

// Jacobi's method: rotations that zero the largest off-diagonal element
// until none is left; a's diagonal then holds the eigenvalues and v's
// columns the eigenvectors.
void jacobi(Matrix &a, Matrix &v)
{
    v = { { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } } };
    for (int sweep = 0; sweep < 100; ++sweep) {
        int p = 0, q = 1;
        for (int i = 0; i < 3; ++i) {
            for (int j = i + 1; j < 3; ++j) {
                if (std::fabs(a[i][j]) > std::fabs(a[p][q]))
                    p = i, q = j;
            }
        }
        const double scale = std::fabs(a[0][0]) + std::fabs(a[1][1]) + std::fabs(a[2][2]);
        if (std::fabs(a[p][q]) <= 1e-15 * scale || a[p][q] == 0)
            return;
        const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
        const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < 3; ++k) {
            const double akp = a[k][p], akq = a[k][q];
            a[k][p] = c * akp - s * akq;
            a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {
            const double apk = a[p][k], aqk = a[q][k];
            a[p][k] = c * apk - s * aqk;
            a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
            const double vkp = v[k][p], vkq = v[k][q];
            v[k][p] = c * vkp - s * vkq;
            v[k][q] = s * vkp + c * vkq;
        }
    }
}

// An eigenvector (north, east, down) as an axis pointing down.
Axis axisOf(double value, double north, double east, double down)
{
    if (down < 0)
        north = -north, east = -east, down = -down;
    const double length = std::sqrt(north * north + east * east + down * down);
    Axis axis;
    axis.value = value;
    axis.plunge = std::asin(std::clamp(down / length, -1.0, 1.0)) * 180 / M_PI;
    axis.azimuth = std::fmod(std::atan2(east, north) * 180 / M_PI + 360, 360);
    return axis;
}

} // namespace

PrincipalAxes principalAxes(const NorthEastDown &m)
{
    Matrix a = { { { m.xx, m.xy, m.xz }, { m.xy, m.yy, m.yz }, { m.xz, m.yz, m.zz } } };
    Matrix v {};
    jacobi(a, v);
    std::array<int, 3> order = { 0, 1, 2 };
    std::sort(order.begin(), order.end(), [&a](int i, int j) { return a[i][i] > a[j][j]; });
    const auto axis = [&](int k) { return axisOf(a[k][k], v[0][k], v[1][k], v[2][k]); };
    return { axis(order[0]), axis(order[1]), axis(order[2]) };
}

double scalarMoment(const NorthEastDown &m)
{
    return std::sqrt((m.xx * m.xx + m.yy * m.yy + m.zz * m.zz + 2 * (m.xy * m.xy + m.xz * m.xz + m.yz * m.yz)) / 2);
}

double momentMagnitude(double newtonMetres)
{
    return (std::log10(newtonMetres) - 9.05) / 1.5;
}

} // namespace Mechanism
