#include "geo/viewport.h"

#include <algorithm>

void Viewport::zoomAbout(const QPointF &pixel, double factor)
{
    const double scale = std::clamp(m_scale * factor, 1e-5, 1e3);
    m_offset = pixel - (pixel - m_offset) * (scale / m_scale);
    m_scale = scale;
}

double Viewport::fit(const QRectF &km, const QRectF &pixels)
{
    m_scale = std::max(1e-9, std::min(pixels.width() / km.width(), pixels.height() / km.height()));
    m_offset = pixels.center() - km.center() * m_scale;
    return m_scale;
}
