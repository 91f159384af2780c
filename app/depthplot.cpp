#include "app/depthplot.h"

#include "geo/eventscales.h"
#include "geo/ticks.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

void DepthPlot::clear()
{
    m_histogram = Statistics::DepthHistogram();
}

void DepthPlot::analyse(const std::vector<LocatedEvent> &located, QStringList &notes)
{
    std::vector<double> depths;
    depths.reserve(located.size());
    for (std::size_t i = 0; i < located.size(); ++i) {
        if (isShown(i) && std::isfinite(located[i].location.depthKm))
            depths.push_back(located[i].location.depthKm);
    }
    m_histogram = Statistics::depthHistogram(depths);
    if (const int without = shownCount() - int(depths.size()); without > 0)
        notes << tr("%1 without depth not shown").arg(eventsText(without));
}

void DepthPlot::drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const
{
    const std::vector<int> &counts = m_histogram.counts;
    if (counts.empty())
        return;
    const double bin = m_histogram.binKm;
    const int most = std::max(1, *std::max_element(counts.begin(), counts.end()));
    const double deepest = m_histogram.deepestKm();
    // Depth downwards, as in the Earth; the number of events across.
    const auto y = [&](double depth) { return plot.top() + depth / deepest * plot.height(); };
    const auto x = [&](double count) { return plot.left() + count / most * plot.width(); };
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double depth = i * bin;
        painter.fillRect(QRectF(QPointF(plot.left(), y(depth)), QPointF(x(counts[i]), y(depth + bin))).adjusted(0, 0.5, 0, -0.5),
                         EventScales::depthColour(depth + bin / 2));
    }
    painter.setPen(Qt::black);
    for (const double depth : Ticks::axisTicks(0, deepest, 5)) {
        painter.drawLine(QPointF(plot.left() - 4, y(depth)), QPointF(plot.left(), y(depth)));
        painter.drawText(QRectF(area.left(), y(depth) - 8, plot.left() - area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(depth));
    }
    for (const double count : Ticks::axisTicks(0, most, 5)) {
        painter.drawLine(QPointF(x(count), plot.bottom()), QPointF(x(count), plot.bottom() + 4));
        painter.drawText(QRectF(x(count) - 30, plot.bottom() + 4, 60, 16), Qt::AlignHCenter | Qt::AlignTop, QString::number(count));
    }
    painter.drawText(QRectF(plot.left(), area.bottom() - 20, plot.width(), 18), Qt::AlignCenter,
                     tr("Number of events in %1 km of depth").arg(bin));
    drawAxisTitle(painter, area.left() + 12, plot.center().y(), -90, tr("Depth (km)"));
}
