#pragma once

// A coarse grid over points (kilometres of a projection), so that finding
// what lies under the pointer looks at a few cells instead of every point.
// Each point is kept once, by its cell: four bytes a point.

#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <functional>
#include <vector>

class HitGrid
{
public:
    // The points numbered in kept, each where pointOf puts it.
    void build(const std::vector<std::uint32_t> &kept, const std::function<QPointF(std::uint32_t)> &pointOf);
    void clear();

    // Calls visit with every point that may lie within reach (km) of the
    // place, and some beyond it.
    void near(const QPointF &km, double reach, const std::function<void(std::uint32_t)> &visit) const;

    qint64 bytes() const;

private:
    QRectF m_bounds;
    int m_columns = 0;
    int m_rows = 0;
    double m_cellKm = 1;
    std::vector<std::uint32_t> m_cellStarts;   // where each cell's points begin in m_points
    std::vector<std::uint32_t> m_points;
};
