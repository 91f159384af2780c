#pragma once

// What a map shows: a projection (geo/projection.h) from degrees to
// kilometres, then a scale and an offset from kilometres to pixels. Zoom
// and pan change only the last two, so that nothing is projected again.
// No widget: Harvix's map and the tests use it alike.

#include "geo/projection.h"

#include <QPointF>
#include <QRectF>

class Viewport
{
public:
    const Projection &projection() const { return m_projection; }
    void setProjection(const Projection &projection) { m_projection = projection; }

    // Pixels per kilometre, and where the projection's centre is drawn.
    double scale() const { return m_scale; }
    QPointF offset() const { return m_offset; }
    void setOffset(const QPointF &offset) { m_offset = offset; }

    QPointF toScreen(const QPointF &km) const { return m_offset + km * m_scale; }
    QPointF toKm(const QPointF &pixel) const { return (pixel - m_offset) / m_scale; }

    // Zooms by the factor (within 1e-5 to 1000 pixels a km) about a pixel,
    // which stays over the same place.
    void zoomAbout(const QPointF &pixel, double factor);
    // Fits the kilometres into the pixels, centred, as large as they go
    // whole; returns the scale.
    double fit(const QRectF &km, const QRectF &pixels);

private:
    Projection m_projection;
    double m_scale = 0.1;
    QPointF m_offset;
};
