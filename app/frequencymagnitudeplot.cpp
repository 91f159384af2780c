#include "app/frequencymagnitudeplot.h"

#include <QPainter>

#include <cmath>

void FrequencyMagnitudePlot::clear()
{
    m_fmd = Statistics::FrequencyMagnitude();
    m_fit = Statistics::GutenbergRichter();
}

void FrequencyMagnitudePlot::analyse(const std::vector<LocatedEvent> &located, QStringList &notes)
{
    std::vector<double> magnitudes;
    magnitudes.reserve(located.size());
    for (const LocatedEvent &event : located) {
        if (std::isfinite(event.location.magnitude))
            magnitudes.push_back(event.location.magnitude);
    }
    m_fmd = Statistics::frequencyMagnitude(magnitudes);
    m_fit = Statistics::gutenbergRichter(magnitudes);
    if (m_fit.mc)
        notes << tr("Mc = %1 (maximum curvature + %2)").arg(*m_fit.mc, 0, 'f', 1).arg(Statistics::MaximumCurvatureCorrection);
    if (m_fit.b) {
        notes << tr("b = %1 \u00B1 %2 (Aki\u2013Utsu, %3 events \u2265 Mc)")
                     .arg(*m_fit.b, 0, 'f', 2).arg(m_fit.bUncertainty, 0, 'f', 2).arg(m_fit.aboveMc);
        notes << tr("a = %1").arg(m_fit.a, 0, 'f', 2);
    } else if (!m_fit.whyNoB.isEmpty()) {
        notes << tr("No b-value: %1").arg(m_fit.whyNoB);
    }
    if (const int without = int(located.size() - magnitudes.size()); without > 0)
        notes << tr("%1 without magnitude not shown").arg(eventsText(without));
}

void FrequencyMagnitudePlot::drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const
{
    if (m_fmd.counts.empty())
        return;
    const double low = m_fmd.magnitudeOf(0) - 0.2, high = m_fmd.magnitudeOf(m_fmd.counts.size() - 1) + 0.2;
    const double top = std::ceil(std::log10(double(m_fmd.cumulative.front())) + 0.1);
    const auto x = [&](double magnitude) { return plot.left() + (magnitude - low) / (high - low) * plot.width(); };
    const auto y = [&](double count) { return plot.bottom() - std::log10(std::max(count, 1.0)) / std::max(top, 1.0) * plot.height(); };
    painter.setPen(Qt::black);
    for (int power = 0; power <= int(top); ++power) {
        painter.drawLine(QPointF(plot.left() - 4, y(std::pow(10, power))), QPointF(plot.left(), y(std::pow(10, power))));
        painter.drawText(QRectF(area.left(), y(std::pow(10, power)) - 8, plot.left() - area.left() - 6, 16),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(std::pow(10, power), 'g', 10));
    }
    for (double m = std::ceil(low); m <= high; m += 1) {
        painter.drawLine(QPointF(x(m), plot.bottom()), QPointF(x(m), plot.bottom() + 4));
        painter.drawText(QRectF(x(m) - 20, plot.bottom() + 4, 40, 16), Qt::AlignHCenter | Qt::AlignTop, QString::number(m));
    }
    painter.drawText(QRectF(plot.left(), area.bottom() - 20, plot.width(), 18), Qt::AlignCenter, tr("Magnitude (0.1 bins)"));
    drawAxisTitle(painter, area.left() + 12, plot.center().y(), -90, tr("Number of events"));
    // Per bin: grey bars; at or above M: black squares.
    for (std::size_t i = 0; i < m_fmd.counts.size(); ++i) {
        if (m_fmd.counts[i] == 0)
            continue;
        const double m = m_fmd.magnitudeOf(i);
        painter.fillRect(QRectF(QPointF(x(m - 0.04), y(m_fmd.counts[i])), QPointF(x(m + 0.04), plot.bottom())),
                         QColor(170, 190, 210));
    }
    painter.setBrush(Qt::black);
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < m_fmd.cumulative.size(); ++i)
        painter.drawRect(QRectF(x(m_fmd.magnitudeOf(i)) - 2.5, y(m_fmd.cumulative[i]) - 2.5, 5, 5));
    if (m_fit.mc) {
        painter.setPen(QPen(QColor(200, 40, 40), 1, Qt::DashLine));
        painter.drawLine(QPointF(x(*m_fit.mc), plot.top()), QPointF(x(*m_fit.mc), plot.bottom()));
    }
    if (m_fit.b) {
        // log10 N(>= M) = a - b M, from Mc to the largest event.
        const double from = *m_fit.mc, to = high - 0.2;
        painter.setPen(QPen(QColor(200, 40, 40), 2));
        painter.drawLine(QPointF(x(from), y(std::pow(10, m_fit.a - *m_fit.b * from))),
                         QPointF(x(to), y(std::pow(10, m_fit.a - *m_fit.b * to))));
    }
}
