#include "app/sectionplot.h"

#include "app/maplayers.h"
#include "geo/ticks.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

SectionPlot::SectionPlot(const ShownResult *shown, QWidget *parent)
    : PlotCanvas(shown, parent)
{
    connect(shown, &ShownResult::sectionChanged, this, &SectionPlot::reanalyse);
}

void SectionPlot::clear()
{
    m_placed.clear();
    m_topKm = 0;
    m_bottomKm = 10;
}

void SectionPlot::analyse(const std::vector<LocatedEvent> &located, QStringList &notes)
{
    if (!section())
        return;
    int withoutDepth = 0;
    bool anyLocated = false;
    for (std::size_t i = 0; i < located.size(); ++i) {
        const QuakeLocation &at = located[i].location;
        if (!isShown(i) || !std::isfinite(at.latitude) || !std::isfinite(at.longitude))
            continue;
        const CrossSection::Offset offset = section()->offsetOf({ at.latitude, at.longitude });
        if (!section()->holds(offset))
            continue;
        if (!std::isfinite(at.depthKm)) {
            ++withoutDepth;
            continue;
        }
        const bool fixed = shown()->fixedDepths().count(located[i].eventId) > 0;
        m_placed.push_back({ int(i), offset.alongKm, at.depthKm, fixed });
        anyLocated = anyLocated || !fixed;
    }
    // The depths span the located events: a depth the agency fixed (often
    // a round one far below) does not squash them.
    for (const Placed &placed : m_placed) {
        if (placed.fixedDepth && anyLocated)
            continue;
        m_topKm = std::min(m_topKm, placed.depthKm);
        m_bottomKm = std::max(m_bottomKm, placed.depthKm);
    }
    const auto outside = std::remove_if(m_placed.begin(), m_placed.end(), [this](const Placed &placed) {
        return placed.depthKm < m_topKm || placed.depthKm > m_bottomKm;
    });
    const int fixedOutside = int(m_placed.end() - outside);
    m_placed.erase(outside, m_placed.end());
    const int fixedShown = int(std::count_if(m_placed.begin(), m_placed.end(), [](const Placed &p) { return p.fixedDepth; }));
    // Larger over smaller, as on the map.
    const auto magnitude = [&located](const Placed &placed) {
        const float value = located[std::size_t(placed.index)].location.magnitude;
        return std::isfinite(value) ? value : -1e9f;
    };
    std::stable_sort(m_placed.begin(), m_placed.end(),
                     [&](const Placed &a, const Placed &b) { return magnitude(a) < magnitude(b); });
    notes << tr("%1 within %2 km of A\u2013A\u2032").arg(eventsText(int(m_placed.size() + std::size_t(fixedOutside))))
                 .arg(section()->halfWidthKm());
    if (fixedShown > 0)
        notes << tr("%1 at a depth the agency fixed, barred").arg(eventsText(fixedShown));
    if (fixedOutside > 0)
        notes << tr("%1 at a fixed depth beyond the located ones not shown").arg(eventsText(fixedOutside));
    if (withoutDepth > 0)
        notes << tr("%1 without depth not shown").arg(eventsText(withoutDepth));
}

SectionPlot::Scale SectionPlot::scaleIn(const QRectF &room) const
{
    const double length = std::max(1.0, section() ? section()->lengthKm() : 1.0);
    const double across = room.width() / length, down = room.height() / (m_bottomKm - m_topKm);
    // A short, deep section keeps the depth's scale and leaves room on the right.
    if (down <= across)
        return { down, down, 1 };
    // Else the largest round factor that keeps every depth in the frame.
    int factor = 1;
    for (int round : { 2, 3, 4, 5, 10, 20, 50, 100, 200, 500, 1000 })
        if (round <= down / across)
            factor = round;
    return { across, across * factor, factor };
}

QRectF SectionPlot::plotArea(const QRectF &area) const
{
    const QRectF room = PlotCanvas::plotArea(area);
    if (!section())
        return room;
    const Scale scale = scaleIn(room);
    const double length = std::max(1.0, section()->lengthKm());
    return QRectF(room.topLeft(), QSizeF(std::min(room.width(), length * scale.across),
                                         std::min(room.height(), (m_bottomKm - m_topKm) * scale.down)));
}

QPointF SectionPlot::positionIn(const QRectF &plot, const Scale &scale, const Placed &placed) const
{
    return { plot.left() + placed.alongKm * scale.across, plot.top() + (placed.depthKm - m_topKm) * scale.down };
}

QPointF SectionPlot::positionOf(int index) const
{
    for (const Placed &placed : m_placed)
        if (placed.index == index)
            return positionIn(plotArea(rect()), scaleIn(PlotCanvas::plotArea(rect())), placed);
    return QPointF();
}

int SectionPlot::eventAt(const QPointF &position) const
{
    // The one drawn on top.
    const QRectF plot = plotArea(rect());
    const Scale scale = scaleIn(PlotCanvas::plotArea(rect()));
    for (auto placed = m_placed.rbegin(); placed != m_placed.rend(); ++placed) {
        const QPointF d = positionIn(plot, scale, *placed) - position;
        const double reach = EventSymbol::radius((*events())[std::size_t(placed->index)].location) + 1.5;
        if (d.x() * d.x() + d.y() * d.y() <= reach * reach)
            return placed->index;
    }
    return -1;
}

void SectionPlot::drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const
{
    painter.setPen(Qt::black);
    if (!section()) {
        painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap,
                         tr("Choose View \u2192 Draw Section, then drag on the map from A to A\u2032."));
        return;
    }
    const Scale scale = scaleIn(PlotCanvas::plotArea(area));
    const double spanKm = plot.width() / scale.across, deepestKm = m_topKm + plot.height() / scale.down;
    const auto x = [&](double km) { return plot.left() + km * scale.across; };
    const auto y = [&](double km) { return plot.top() + (km - m_topKm) * scale.down; };

    // Depth down the left, distance from A below; A and A′ over the frame.
    for (const double depth : Ticks::axisTicks(m_topKm, deepestKm, 6)) {
        painter.drawLine(QPointF(plot.left() - 4, y(depth)), QPointF(plot.left(), y(depth)));
        painter.drawText(QRectF(area.left(), y(depth) - 8, plot.left() - area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(depth));
    }
    for (const double km : Ticks::axisTicks(0, spanKm, 7)) {
        painter.drawLine(QPointF(x(km), plot.bottom()), QPointF(x(km), plot.bottom() + 4));
        painter.drawText(QRectF(x(km) - 30, plot.bottom() + 4, 60, 16), Qt::AlignHCenter | Qt::AlignTop, QString::number(km));
    }
    const QRectF room = PlotCanvas::plotArea(area);
    painter.drawText(QRectF(room.left(), area.bottom() - 20, room.width(), 18), Qt::AlignCenter,
                     scale.factor == 1
                         ? tr("Distance from A (km), true scale")
                         : tr("Distance from A (km), depth exaggerated %1\u00D7").arg(scale.factor));
    drawAxisTitle(painter, area.left() + 12, plot.center().y(), -90, tr("Depth (km)"));
    QFont bold = painter.font();
    bold.setWeight(QFont::Bold);
    painter.setFont(bold);
    const double end = x(section()->lengthKm());
    painter.drawText(QRectF(x(0), area.top(), 40, plot.top() - area.top()), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("A"));
    painter.drawText(QRectF(end - 40, area.top(), 40, plot.top() - area.top()), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("A\u2032"));
    if (end < plot.right() - 1) {
        painter.setPen(QPen(QColor(120, 120, 120), 1, Qt::DashLine));
        painter.drawLine(QPointF(end, plot.top()), QPointF(end, plot.bottom()));
    }
    if (m_topKm < 0) {
        painter.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
        painter.drawLine(QPointF(plot.left(), y(0)), QPointF(plot.right(), y(0)));
    }

    // The events, as the map draws them; hollow without a magnitude.
    painter.save();
    painter.setClipRect(plot);
    for (const Placed &placed : m_placed) {
        const QuakeLocation &at = (*events())[std::size_t(placed.index)].location;
        const QPointF centre = positionIn(plot, scale, placed);
        const double radius = EventSymbol::radius(at);
        EventSymbol::draw(painter, centre, at, radius);
        if (placed.fixedDepth) {
            // A bar across: held at that depth, not found there.
            painter.setPen(QPen(Qt::black, 2));
            painter.drawLine(centre - QPointF(radius + 4, 0), centre + QPointF(radius + 4, 0));
        }
    }
    painter.restore();
}
