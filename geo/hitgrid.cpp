#include "geo/hitgrid.h"

#include <algorithm>
#include <cmath>

void HitGrid::clear()
{
    m_columns = m_rows = 0;
    m_cellStarts.clear();
    m_points.clear();
}

void HitGrid::build(const std::vector<std::uint32_t> &kept, const std::function<QPointF(std::uint32_t)> &pointOf)
{
    clear();
    if (kept.empty())
        return;
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    for (const std::uint32_t index : kept) {
        const QPointF at = pointOf(index);
        left = std::min(left, at.x());
        right = std::max(right, at.x());
        top = std::min(top, at.y());
        bottom = std::max(bottom, at.y());
    }
    m_bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
    // About four points a cell, in at most 256 by 256 cells.
    const double side = std::max({ m_bounds.width(), m_bounds.height(), 1.0 });
    const int across = std::clamp(int(std::sqrt(double(kept.size()) / 4)), 1, 256);
    m_cellKm = side / across;
    m_columns = int(m_bounds.width() / m_cellKm) + 1;
    m_rows = int(m_bounds.height() / m_cellKm) + 1;
    const auto cellOf = [&](const QPointF &at) {
        return int((at.y() - top) / m_cellKm) * m_columns + int((at.x() - left) / m_cellKm);
    };
    // A counting sort of the points by cell.
    m_cellStarts.assign(std::size_t(m_columns) * std::size_t(m_rows) + 1, 0);
    for (const std::uint32_t index : kept)
        ++m_cellStarts[std::size_t(cellOf(pointOf(index))) + 1];
    for (std::size_t cell = 1; cell < m_cellStarts.size(); ++cell)
        m_cellStarts[cell] += m_cellStarts[cell - 1];
    m_points.resize(kept.size());
    std::vector<std::uint32_t> filled(m_cellStarts.begin(), m_cellStarts.end() - 1);
    for (const std::uint32_t index : kept)
        m_points[filled[std::size_t(cellOf(pointOf(index)))]++] = index;
}

void HitGrid::near(const QPointF &km, double reach, const std::function<void(std::uint32_t)> &visit) const
{
    if (m_points.empty())
        return;
    const auto column = [&](double x) { return std::clamp(int(std::floor((x - m_bounds.left()) / m_cellKm)), 0, m_columns - 1); };
    const auto row = [&](double y) { return std::clamp(int(std::floor((y - m_bounds.top()) / m_cellKm)), 0, m_rows - 1); };
    if (km.x() + reach < m_bounds.left() || km.x() - reach > m_bounds.right() || km.y() + reach < m_bounds.top()
        || km.y() - reach > m_bounds.bottom())
        return;
    for (int r = row(km.y() - reach); r <= row(km.y() + reach); ++r) {
        for (int c = column(km.x() - reach); c <= column(km.x() + reach); ++c) {
            const std::size_t cell = std::size_t(r) * std::size_t(m_columns) + std::size_t(c);
            for (std::uint32_t i = m_cellStarts[cell]; i < m_cellStarts[cell + 1]; ++i)
                visit(m_points[i]);
        }
    }
}

qint64 HitGrid::bytes() const
{
    return qint64((m_cellStarts.capacity() + m_points.capacity()) * sizeof(std::uint32_t));
}
