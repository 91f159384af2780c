#include "app/mapflashes.h"

#include "geo/eventscales.h"

#include <QPainter>

#include <algorithm>

std::vector<std::pair<quint32, double>> FlashLayer::flashing() const
{
    std::vector<std::pair<quint32, double>> found;
    if (!(m_span > 0) || m_until == HUGE_VAL || !m_events.events())
        return found;
    const std::vector<LocatedEvent> &events = *m_events.events();
    if (m_arrangement != m_events.arrangement()) {
        m_arrangement = m_events.arrangement();
        m_byTime.clear();
        for (const quint32 index : m_events.drawOrder()) {
            if (std::isfinite(events[index].utcSeconds))
                m_byTime.push_back(index);
        }
        std::sort(m_byTime.begin(), m_byTime.end(),
                  [&events](quint32 a, quint32 b) { return events[a].utcSeconds < events[b].utcSeconds; });
    }
    const auto timeOf = [&events](quint32 index) { return events[index].utcSeconds; };
    auto it = std::upper_bound(m_byTime.begin(), m_byTime.end(), m_until - m_span,
                               [&](double t, quint32 index) { return t < timeOf(index); });
    for (; it != m_byTime.end() && timeOf(*it) <= m_until; ++it)
        found.emplace_back(*it, (m_until - timeOf(*it)) / m_span);
    return found;
}

void FlashLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const std::vector<std::pair<quint32, double>> events = flashing();
    if (events.empty())
        return;
    const QRectF visible = area.adjusted(-60, -60, 60, 60);
    const double zoom = EventScales::zoomFactor(viewport.scale());
    painter.save();
    painter.setPen(Qt::NoPen);
    for (const auto &[index, settled] : events) {
        const QPointF at = viewport.toScreen(m_events.kmOf(index));
        if (!visible.contains(at))
            continue;
        // From three times its size and white to its own size and clear.
        const double fresh = 1 - settled;
        const double radius = m_events.radiusOf(index, zoom) * (1 + 2 * fresh) + 4 * fresh;
        painter.setBrush(QColor(255, 255, 255, int(235 * fresh)));
        painter.drawEllipse(at, radius, radius);
    }
    painter.restore();
}
