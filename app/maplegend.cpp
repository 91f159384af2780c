// The map's legend and credits (app/maplayers.h), apart from the layers
// that draw the map itself.

#include "app/maplayers.h"

#include "geo/eventscales.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

QStringList LegendLayer::counts() const
{
    QStringList counts;
    if (m_events.withoutDepth() > 0)
        counts << tr("%1 without depth").arg(m_events.withoutDepth());
    if (m_events.withoutMagnitude() > 0)
        counts << tr("%1 without magnitude").arg(m_events.withoutMagnitude());
    if (m_events.withoutPosition() > 0)
        counts << tr("%1 without position (not shown)").arg(m_events.withoutPosition());
    if (m_events.hiddenCount() > 0)
        counts << tr("%1 in clusters (mainshocks shown)").arg(m_events.hiddenCount());
    return counts;
}

QString LegendLayer::foldedText()
{
    return tr("Legend \u25B8");
}

QRectF LegendLayer::box(const QRectF &area, const QFontMetricsF &metrics) const
{
    const double line = metrics.height();
    if (m_folded)
        return QRectF(area.left() + 8, area.top() + 8, metrics.horizontalAdvance(foldedText()) + 16, line + 8);
    const double magnitudesHeight = 2 * EventScales::radius(6) + 4;
    const QStringList counts = this->counts();
    const double height = line * 2 + magnitudesHeight + 14 + line + counts.size() * line + 16;
    // As wide as its longest count, never cut.
    double width = 190;
    for (const QString &text : counts)
        width = std::max(width, std::ceil(metrics.horizontalAdvance(text)) + 18);
    return QRectF(area.left() + 8, area.top() + 8, width, height);
}

void LegendLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    const QStringList counts = this->counts();
    const double magnitudesHeight = 2 * EventScales::radius(6) + 4;
    const QRectF box = this->box(area, metrics);
    const double width = box.width();
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::white);   // opaque: the legend reads the same over any map
    painter.drawRoundedRect(box, 4, 4);

    painter.setPen(Qt::black);
    if (m_folded) {
        // Folded, the box says only what it unfolds to.
        painter.drawText(box, Qt::AlignCenter, foldedText());
        return;
    }
    double y = box.top() + 4;
    painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, tr("Magnitude"));
    y += line;
    // Reference circles on the map's own scale, at its zoom, grey.
    double x = box.left() + 10;
    const double middle = y + magnitudesHeight / 2;
    const double zoom = EventScales::zoomFactor(viewport.scale());
    for (const double magnitude : EventScales::LegendMagnitudes) {
        QuakeLocation grey { 0, 0, std::nanf(""), float(magnitude) };
        const double radius = EventSymbol::mapRadius(grey, zoom);
        EventSymbol::drawOnMap(painter, QPointF(x + radius, middle), grey, radius);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(x + 2 * radius + 3, middle + metrics.ascent() / 2 - 1), QStringLiteral("M%1").arg(magnitude));
        x += 2 * radius + 3 + metrics.horizontalAdvance(QStringLiteral("M6")) + 10;
    }
    y += magnitudesHeight;
    painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, tr("Depth (km)"));
    y += line;
    // The depth ramp, 0 to 300 km and deeper.
    const QRectF ramp(box.left() + 10, y, width - 26, 10);
    QLinearGradient gradient(ramp.topLeft(), ramp.topRight());
    for (double depth = 0; depth <= 300; depth += 10)
        gradient.setColorAt(depth / 300, EventScales::depthColour(depth));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRect(ramp);
    y += 12;
    painter.setPen(Qt::black);
    for (const double depth : { 0.0, 100.0, 200.0, 300.0 }) {
        const QString label = depth >= 300 ? QStringLiteral("300+") : QString::number(depth);
        const double at = ramp.left() + ramp.width() * depth / 300 - metrics.horizontalAdvance(label) / 2;
        painter.drawText(QPointF(std::max(ramp.left(), std::min(at, ramp.right() - metrics.horizontalAdvance(label))),
                                 y + metrics.ascent()),
                         label);
    }
    y += line + 2;
    for (const QString &text : counts) {
        painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, text);
        y += line;
    }
}

void CreditsLayer::render(QPainter &painter, const QRectF &area, const Viewport &) const
{
    const QString credits = tr("Land: Natural Earth \u00B7 Places: GeoNames");
    painter.save();
    QFont small = painter.font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    const QRectF creditBox = painter.boundingRect(area.adjusted(0, 0, -6, -4), Qt::AlignRight | Qt::AlignBottom, credits);
    painter.fillRect(creditBox.adjusted(-3, -1, 3, 1), QColor(255, 255, 255, 190));
    painter.setPen(QColor(60, 60, 60));
    painter.drawText(creditBox, Qt::AlignRight | Qt::AlignBottom, credits);
    painter.restore();
}
