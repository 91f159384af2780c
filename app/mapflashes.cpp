#include "app/mapflashes.h"

#include "geo/eventscales.h"

#include <QPainter>

#include <algorithm>

std::vector<std::pair<quint32, double>> FlashLayer::flashing() const
{
    std::vector<std::pair<quint32, double>> found;
    if (!isPlaying() || !m_events.events())
        return found;
    const std::vector<LocatedEvent> &events = *m_events.events();
    const double until = m_shown.until(), span = m_shown.flashSpan();
    const auto [from, to] = m_events.timesBetween(until - span, until);
    for (const quint32 *it = from; it != to; ++it)
        found.emplace_back(*it, (until - events[*it].utcSeconds) / span);
    return found;
}

void FlashLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const std::vector<std::pair<quint32, double>> events = flashing();
    if (events.empty())
        return;
    const QRectF visible = area.adjusted(-60, -60, 60, 60);
    const double zoom = EventScales::zoomFactor(viewport.scale());
    for (const auto &[index, settled] : events) {
        const QPointF at = viewport.toScreen(m_events.kmOf(index));
        if (!visible.contains(at))
            continue;
        // From three times its size and white to its own size and clear.
        const double fresh = 1 - settled;
        const double radius = std::min(60.0, m_events.radiusOf(index, zoom) * (1 + 2 * fresh) + 4 * fresh);
        // Quarter pixels below 8 px, whole ones above, where a quarter does not show.
        const quint32 quarters = radius < 8 ? quint32(std::lround(radius * 4)) : quint32(std::lround(radius)) * 4;
        const quint32 strength = quint32(std::lround(fresh * 16));
        if (strength == 0)
            continue;
        if (m_sprites.size() > MostSprites)
            m_sprites.clear();
        QImage &sprite = m_sprites[quarters << 5 | strength];
        if (sprite.isNull()) {
            const int side = int(std::ceil(quarters / 2.0)) + 3;
            sprite = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
            sprite.fill(Qt::transparent);
            QPainter disc(&sprite);
            disc.setRenderHint(QPainter::Antialiasing, true);
            // A grey edge, so that a flash reads on pale land too.
            disc.setPen(QPen(QColor(70, 70, 70, int(160 * strength / 16.0)), 1));
            disc.setBrush(QColor(255, 255, 255, int(235 * strength / 16.0)));
            disc.drawEllipse(QPointF(side / 2.0, side / 2.0), quarters / 4.0, quarters / 4.0);
        }
        painter.drawImage(QPointF(std::round(at.x() - sprite.width() / 2.0), std::round(at.y() - sprite.height() / 2.0)), sprite);
    }
}

void PlayedLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const double until = m_events.until();
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize size = (area.size() * ratio).toSize();
    const bool same = !m_image.isNull() && m_image.size() == size && m_image.devicePixelRatioF() == ratio && m_scale == viewport.scale() && m_offset == viewport.offset()
        && m_arrangement == m_events.arrangement() && until >= m_until;
    if (!same) {
        m_image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_image.setDevicePixelRatio(ratio);
        m_scale = viewport.scale();
        m_offset = viewport.offset();
        m_arrangement = m_events.arrangement();
        QPainter fresh(&m_image);
        fresh.setRenderHint(QPainter::Antialiasing, true);
        fresh.translate(-area.topLeft());
        m_land.render(fresh, area, viewport);
        m_events.render(fresh, area, viewport);
    } else if (until > m_until) {
        QPainter added(&m_image);
        added.setRenderHint(QPainter::Antialiasing, true);
        added.translate(-area.topLeft());
        m_events.renderTimes(added, area, viewport, m_until, until);
    }
    m_until = until;
    painter.drawImage(area.topLeft(), m_image);
}
