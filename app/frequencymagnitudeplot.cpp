#include "app/frequencymagnitudeplot.h"

#include <QPainter>

#include <algorithm>
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
    for (std::size_t i = 0; i < located.size(); ++i) {
        if (isShown(i) && std::isfinite(located[i].location.magnitude))
            magnitudes.push_back(located[i].location.magnitude);
    }
    m_fmd = Statistics::frequencyMagnitude(magnitudes);
    m_fit = Statistics::gutenbergRichter(magnitudes);
    if (m_fit.mc)
        notes << tr("Mc = %1 (maximum curvature + %2)").arg(*m_fit.mc, 0, 'f', 1).arg(Statistics::Rules().mcCorrection);
    if (m_fit.b) {
        notes << tr("%1 (Aki\u2013Utsu, %2 events \u2265 Mc)").arg(bValueText(*m_fit.b, m_fit.bUncertainty)).arg(m_fit.aboveMc);
        notes << tr("a = %1").arg(m_fit.a, 0, 'f', 2);
    } else if (!m_fit.whyNoB.isEmpty()) {
        notes << tr("No b-value: %1").arg(m_fit.whyNoB);
    }
    if (const int without = shownCount() - int(magnitudes.size()); without > 0)
        notes << tr("%1 without magnitude not shown").arg(eventsText(without));
}

QString FrequencyMagnitudePlot::bValueText(double b, double uncertainty)
{
    const int decimals = uncertainty > 0 && std::isfinite(uncertainty)
        ? std::clamp(1 - int(std::floor(std::log10(uncertainty))), 0, 6)
        : 2;
    return tr("b = %1 \u00B1 %2").arg(b, 0, 'f', decimals).arg(uncertainty, 0, 'f', decimals);
}

namespace {
const QColor BinColour(170, 190, 210);
const QColor FitColour(200, 40, 40);
} // namespace

QList<PlotCanvas::KeyEntry> FrequencyMagnitudePlot::key() const
{
    if (m_fmd.counts.empty())
        return {};
    QList<KeyEntry> entries = {
        { tr("events of M or more"), [](QPainter &painter, const QRectF &r) {
             painter.fillRect(QRectF(r.center() - QPointF(2.5, 2.5), QSizeF(5, 5)), Qt::black);
         } },
        { tr("events in the 0.1 bin of M"), [](QPainter &painter, const QRectF &r) {
             painter.fillRect(r.adjusted(r.width() * 0.25, 0, -r.width() * 0.25, 0), BinColour);
         } },
    };
    if (m_fit.b) {
        entries.push_back({ tr("Gutenberg\u2013Richter fit; Mc dashed"), [](QPainter &painter, const QRectF &r) {
                               painter.setPen(QPen(FitColour, 2));
                               painter.drawLine(r.bottomLeft(), r.topRight());
                           } });
    }
    return entries;
}

void FrequencyMagnitudePlot::drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const
{
    if (m_fmd.counts.empty())
        return;
    const double low = m_fmd.magnitudeOf(0) - 0.2, high = m_fmd.magnitudeOf(m_fmd.counts.size() - 1) + 0.2;
    const double top = std::max(1.0, std::ceil(std::log10(double(m_fmd.cumulative.front())) + 0.1));
    // The count axis starts at half an event, so that a bin or a tail of
    // one event stands above it.
    const double bottom = std::log10(0.5);
    const auto x = [&](double magnitude) { return plot.left() + (magnitude - low) / (high - low) * plot.width(); };
    const auto y = [&](double count) {
        return plot.bottom() - (std::log10(std::max(count, 0.5)) - bottom) / (top - bottom) * plot.height();
    };
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
                         BinColour);
    }
    painter.setBrush(Qt::black);
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < m_fmd.cumulative.size(); ++i)
        painter.drawRect(QRectF(x(m_fmd.magnitudeOf(i)) - 2.5, y(m_fmd.cumulative[i]) - 2.5, 5, 5));
    if (m_fit.mc) {
        // Up to the count at Mc, leaving the room above it free.
        const auto bin = std::clamp<long>(std::lround(*m_fit.mc / m_fmd.binWidth) - m_fmd.firstBin, 0,
                                          long(m_fmd.cumulative.size()) - 1);
        painter.setPen(QPen(FitColour, 1, Qt::DashLine));
        painter.drawLine(QPointF(x(*m_fit.mc), y(m_fmd.cumulative[std::size_t(bin)])), QPointF(x(*m_fit.mc), plot.bottom()));
    }
    if (m_fit.b) {
        // log10 N(>= M) = a - b M, from Mc to the largest event.
        const double from = *m_fit.mc, to = high - 0.2;
        painter.setPen(QPen(FitColour, 2));
        painter.drawLine(QPointF(x(from), y(std::pow(10, m_fit.a - *m_fit.b * from))),
                         QPointF(x(to), y(std::pow(10, m_fit.a - *m_fit.b * to))));
    }
}
