#include "app/magnitudetimeplot.h"

#include "geo/eventscales.h"
#include "geo/ticks.h"

#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QPaintEngine>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr double DotRadius = 2.5;

bool has(float value)
{
    return std::isfinite(value);
}

} // namespace

void MagnitudeTimePlot::clear()
{
    m_order.clear();
    m_steps.clear();
}

void MagnitudeTimePlot::analyse(const std::vector<LocatedEvent> &located, QStringList &notes)
{
    int withoutMagnitude = 0, withoutDepth = 0, withoutTime = 0;
    for (std::size_t i = 0; i < located.size(); ++i) {
        if (!isKept(i))
            continue;
        const bool magnitude = has(located[i].location.magnitude), time = std::isfinite(located[i].utcSeconds);
        withoutMagnitude += magnitude ? 0 : 1;
        withoutDepth += has(located[i].location.depthKm) ? 0 : 1;
        withoutTime += time ? 0 : 1;
        if (magnitude && time)
            m_order.push_back(int(i));
    }
    std::stable_sort(m_order.begin(), m_order.end(),
                     [&located](int a, int b) { return located[std::size_t(a)].utcSeconds < located[std::size_t(b)].utcSeconds; });
    std::vector<double> times;
    times.reserve(m_order.size());
    for (int i : m_order)
        times.push_back(located[std::size_t(i)].utcSeconds);
    m_steps = cumulativeSteps(times);
    if (!m_order.empty()) {
        m_firstTime = located[std::size_t(m_order.front())].utcSeconds;
        m_lastTime = located[std::size_t(m_order.back())].utcSeconds;
        if (m_lastTime - m_firstTime < 3600) {
            m_firstTime -= 1800;
            m_lastTime += 1800;
        }
        m_lowMagnitude = 1e9;
        m_highMagnitude = -1e9;
        for (int i : m_order) {
            m_lowMagnitude = std::min(m_lowMagnitude, double(located[std::size_t(i)].location.magnitude));
            m_highMagnitude = std::max(m_highMagnitude, double(located[std::size_t(i)].location.magnitude));
        }
        m_lowMagnitude = std::floor(m_lowMagnitude) - 0.5;
        m_highMagnitude = std::ceil(m_highMagnitude) + 0.5;
    }
    if (withoutMagnitude > 0)
        notes << tr("%1 without magnitude not shown").arg(eventsText(withoutMagnitude));
    if (withoutTime > 0)
        notes << tr("%1 without time not shown").arg(eventsText(withoutTime));
    if (withoutDepth > 0)
        notes << tr("%1 without depth in grey").arg(eventsText(withoutDepth));
}

std::vector<QPointF> MagnitudeTimePlot::cumulativeSteps(const std::vector<double> &seconds, std::size_t most)
{
    std::vector<QPointF> steps;
    if (seconds.empty())
        return steps;
    const std::size_t stride = std::max<std::size_t>(1, seconds.size() / std::max<std::size_t>(1, most));
    steps.reserve(2 * std::min(seconds.size(), most + 1) + 1);
    steps.emplace_back(seconds.front(), 0);
    std::size_t counted = 0;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        // Up once all the events of a time are counted, every stride events.
        const bool lastOfItsTime = i + 1 == seconds.size() || seconds[i + 1] != seconds[i];
        if (!lastOfItsTime || (i + 1 - counted < stride && i + 1 != seconds.size()))
            continue;
        if (steps.back() != QPointF(seconds[i], double(counted)))
            steps.emplace_back(seconds[i], double(counted));
        counted = i + 1;
        steps.emplace_back(seconds[i], double(counted));
    }
    return steps;
}

QPointF MagnitudeTimePlot::positionIn(const QRectF &plot, int index) const
{
    const LocatedEvent &event = (*events())[std::size_t(index)];
    return QPointF(plot.left() + (event.utcSeconds - m_firstTime) / (m_lastTime - m_firstTime) * plot.width(),
                   plot.bottom() - (event.location.magnitude - m_lowMagnitude) / (m_highMagnitude - m_lowMagnitude) * plot.height());
}

QPointF MagnitudeTimePlot::positionOf(int index) const
{
    if (index < 0 || !events() || std::size_t(index) >= events()->size() || !isShown(std::size_t(index))
        || !std::isfinite((*events())[std::size_t(index)].utcSeconds))
        return QPointF();
    return positionIn(plotArea(rect()), index);
}

int MagnitudeTimePlot::eventAt(const QPointF &position) const
{
    const QRectF plot = plotArea(rect());
    int found = -1;
    for (int i : m_order) {
        if (!isShown(std::size_t(i)))
            continue;
        const QPointF d = positionIn(plot, i) - position;
        if (d.x() * d.x() + d.y() * d.y() <= (DotRadius + 1.5) * (DotRadius + 1.5))
            found = i;
    }
    return found;
}

void MagnitudeTimePlot::drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const
{
    if (m_order.empty())
        return;
    const std::vector<LocatedEvent> &located = *events();
    const auto x = [&](double seconds) { return plot.left() + (seconds - m_firstTime) / (m_lastTime - m_firstTime) * plot.width(); };
    const auto y = [&](double magnitude) {
        return plot.bottom() - (magnitude - m_lowMagnitude) / (m_highMagnitude - m_lowMagnitude) * plot.height();
    };
    // Axes: magnitude on the left, time below in local time, the count on the right.
    painter.setPen(Qt::black);
    for (double m = std::ceil(m_lowMagnitude); m <= m_highMagnitude; m += 1) {
        painter.drawLine(QPointF(plot.left() - 4, y(m)), QPointF(plot.left(), y(m)));
        painter.drawText(QRectF(area.left(), y(m) - 8, plot.left() - area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(m));
    }
    for (const Ticks::TimeTick &tick : Ticks::localTimeTicks(m_firstTime, m_lastTime)) {
        painter.drawLine(QPointF(x(tick.seconds), plot.bottom()), QPointF(x(tick.seconds), plot.bottom() + 4));
        painter.drawText(QRectF(x(tick.seconds) - 50, plot.bottom() + 4, 100, 16), Qt::AlignHCenter | Qt::AlignTop, tick.label);
    }
    const QDateTime middle = QDateTime::fromSecsSinceEpoch(qint64((m_firstTime + m_lastTime) / 2), Qt::LocalTime);
    painter.drawText(QRectF(plot.left(), area.bottom() - 20, plot.width(), 18), Qt::AlignCenter,
                     tr("Local time (%1, %2)").arg(QString::fromUtf8(middle.timeZone().id()), middle.timeZoneAbbreviation()));
    drawAxisTitle(painter, area.left() + 14, plot.center().y(), -90, tr("Magnitude"));

    // Dots, coloured by depth; events without a depth in grey.
    const bool raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    QImage dots[2][61];
    // Up to the time shown (the events are in time order).
    const auto shownEnd = until() == HUGE_VAL ? m_order.end()
        : std::upper_bound(m_order.begin(), m_order.end(), until(),
                           [&located](double t, int i) { return t < located[std::size_t(i)].utcSeconds; });
    for (auto it = m_order.begin(); it != shownEnd; ++it) {
        const int i = *it;
        const QuakeLocation &at = located[std::size_t(i)].location;
        const QPointF p(x(located[std::size_t(i)].utcSeconds), y(at.magnitude));
        const int colourStep = has(at.depthKm) ? int(std::clamp(at.depthKm, 0.0f, 300.0f) / 5) : 0;
        const QColor colour = has(at.depthKm) ? EventScales::depthColour(colourStep * 5.0) : EventScales::noDepthColour();
        if (!raster) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawEllipse(p, DotRadius, DotRadius);
            continue;
        }
        QImage &dot = dots[has(at.depthKm) ? 1 : 0][colourStep];
        if (dot.isNull()) {
            dot = QImage(7, 7, QImage::Format_ARGB32_Premultiplied);
            dot.fill(Qt::transparent);
            QPainter dotPainter(&dot);
            dotPainter.setRenderHint(QPainter::Antialiasing, true);
            dotPainter.setPen(Qt::NoPen);
            dotPainter.setBrush(colour);
            dotPainter.drawEllipse(QPointF(3.5, 3.5), DotRadius, DotRadius);
        }
        painter.drawImage(QPointF(std::round(p.x()) - 3, std::round(p.y()) - 3), dot);
    }

    // The cumulative number on the right axis: the k-th event in time is
    // the k-th counted.
    const double total = double(m_order.size());
    const auto yCount = [&](double count) { return plot.bottom() - count / total * plot.height(); };
    QPolygonF line;
    for (const QPointF &step : m_steps) {
        if (step.x() > until())
            break;
        line << QPointF(x(step.x()), yCount(step.y()));
    }
    const double lineEnd = until() == HUGE_VAL ? plot.right() : std::clamp(x(until()), plot.left(), plot.right());
    line << QPointF(lineEnd, yCount(double(shownEnd - m_order.begin())));
    painter.setPen(QPen(QColor(30, 30, 30), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
    // The time shown, as a line across the plot.
    if (until() != HUGE_VAL) {
        painter.save();
        painter.setPen(QPen(QColor(215, 25, 28), 2));
        painter.drawLine(QPointF(lineEnd, plot.top()), QPointF(lineEnd, plot.bottom()));
        painter.restore();
    }
    for (const double count : Ticks::axisTicks(0, total, 5)) {
        painter.drawLine(QPointF(plot.right(), yCount(count)), QPointF(plot.right() + 4, yCount(count)));
        painter.drawText(QRectF(plot.right() + 6, yCount(count) - 8, area.right() - plot.right() - 6, 16),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(count, 'g', 10));
    }
    drawAxisTitle(painter, area.right() - 8, plot.center().y(), 90, tr("Cumulative number"));
}
