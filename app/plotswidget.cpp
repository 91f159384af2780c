#include "app/plotswidget.h"

#include "app/picturefile.h"
#include "geo/eventscales.h"
#include "geo/ticks.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEngine>
#include <QTimeZone>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr double DotRadius = 2.5;

// "1 event", "312 events".
QString events(int count)
{
    return count == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events").arg(count);
}

bool has(float value)
{
    return std::isfinite(value);
}

// Round steps for a linear axis of about five ticks.
double niceStep(double span)
{
    return Ticks::stepAtLeast(span / 5);
}

// An axis title written upwards beside a plot (left of it, angle -90) or
// downwards (right of it, angle 90), centred on the plot's height.
void drawAxisTitle(QPainter &painter, double x, double centreY, int angle, const QString &title)
{
    painter.save();
    painter.translate(x, centreY);
    painter.rotate(angle);
    painter.drawText(QRectF(-100, -10, 200, 20), Qt::AlignCenter, title);
    painter.restore();
}

struct TimeTick
{
    double seconds;
    QString label;
};

// Ticks for a time axis in local time, from hours to decades.
std::vector<TimeTick> timeTicks(double first, double last)
{
    struct Step
    {
        qint64 seconds;   // for steps of fixed length
        int months;       // for steps of calendar months
        const char *format;
    };
    static const Step steps[] = {
        { 3600, 0, "HH:mm" }, { 3 * 3600, 0, "HH:mm" }, { 6 * 3600, 0, "d MMM HH:mm" }, { 12 * 3600, 0, "d MMM HH:mm" },
        { 86400, 0, "d MMM" }, { 2 * 86400, 0, "d MMM" }, { 7 * 86400, 0, "d MMM" }, { 0, 1, "MMM yyyy" },
        { 0, 3, "MMM yyyy" }, { 0, 6, "MMM yyyy" }, { 0, 12, "yyyy" }, { 0, 24, "yyyy" }, { 0, 60, "yyyy" },
        { 0, 120, "yyyy" }, { 0, 240, "yyyy" }, { 0, 600, "yyyy" },
    };
    const double span = std::max(last - first, 1.0);
    const Step *chosen = &steps[std::size(steps) - 1];
    for (const Step &step : steps) {
        const double length = step.seconds ? double(step.seconds) : step.months * 30.44 * 86400;
        if (span / length <= 7) {
            chosen = &step;
            break;
        }
    }
    std::vector<TimeTick> ticks;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(qint64(std::floor(first)), Qt::LocalTime);
    QDateTime tick;
    if (chosen->seconds) {
        // Whole hours or days of local time.
        QDateTime base = chosen->seconds < 86400 ? QDateTime(start.date(), QTime(start.time().hour(), 0), Qt::LocalTime)
                                                 : QDateTime(start.date(), QTime(0, 0), Qt::LocalTime);
        for (tick = base; tick.toSecsSinceEpoch() <= last; tick = tick.addSecs(chosen->seconds)) {
            if (tick.toSecsSinceEpoch() >= first)
                ticks.push_back({ double(tick.toSecsSinceEpoch()), QLocale::c().toString(tick, QLatin1String(chosen->format)) });
        }
    } else {
        const int months = chosen->months;
        const int startMonth = (start.date().year() * 12 + start.date().month() - 1) / months * months;
        for (int m = startMonth;; m += months) {
            tick = QDateTime(QDate(m / 12, m % 12 + 1, 1), QTime(0, 0), Qt::LocalTime);
            if (tick.toSecsSinceEpoch() > last)
                break;
            if (tick.toSecsSinceEpoch() >= first)
                ticks.push_back({ double(tick.toSecsSinceEpoch()), QLocale::c().toString(tick, QLatin1String(chosen->format)) });
        }
    }
    return ticks;
}

} // namespace

PlotsWidget::PlotsWidget(QWidget *parent)
    : QTabWidget(parent)
{
    const char *const titles[] = { "Magnitude\u2013time", "Frequency\u2013magnitude", "Depth" };
    for (int i = 0; i < 3; ++i) {
        m_plots[i] = new PlotCanvas(Plot(i), this);
        addTab(m_plots[i], QString::fromUtf8(titles[i]));
        connect(m_plots[i], &PlotCanvas::eventClicked, this, &PlotsWidget::eventClicked);
    }
}

void PlotsWidget::setEvents(const std::vector<LocatedEvent> *events)
{
    m_eventCount = events ? int(events->size()) : 0;
    for (PlotCanvas *plot : m_plots)
        plot->setData(events);
}

PlotCanvas *PlotsWidget::plot(Plot which) const
{
    return m_plots[which];
}

bool PlotsWidget::save(Plot which, const QString &path, QString *error) const
{
    const PlotCanvas *canvas = m_plots[which];
    return PictureFile::save(path, canvas->size().isEmpty() ? QSize(800, 500) : canvas->size(), tabText(which),
                             [canvas](QPainter &painter, const QRectF &area) { canvas->draw(painter, area); }, error);
}

PlotCanvas::PlotCanvas(PlotsWidget::Plot kind, QWidget *parent)
    : QWidget(parent)
    , m_kind(kind)
{
    setMinimumSize(240, 160);
    setObjectName(kind == PlotsWidget::MagnitudeTime ? QStringLiteral("magnitudeTimePlot")
                  : kind == PlotsWidget::FrequencyMagnitude ? QStringLiteral("frequencyMagnitudePlot")
                                                            : QStringLiteral("depthPlot"));
}

void PlotCanvas::setData(const std::vector<LocatedEvent> *events)
{
    m_events = events;
    analyse();
    update();
}

void PlotCanvas::analyse()
{
    m_notes.clear();
    m_order.clear();
    m_cumulative.clear();
    m_depthCounts.clear();
    m_fmd = Statistics::FrequencyMagnitude();
    m_fit = Statistics::GutenbergRichter();
    if (!m_events)
        return;
    const std::vector<LocatedEvent> &located = *m_events;
    int withoutMagnitude = 0, withoutDepth = 0, withoutTime = 0;
    for (std::size_t i = 0; i < located.size(); ++i) {
        withoutMagnitude += has(located[i].location.magnitude) ? 0 : 1;
        withoutDepth += has(located[i].location.depthKm) ? 0 : 1;
        withoutTime += std::isfinite(located[i].utcSeconds) ? 0 : 1;
    }
    switch (m_kind) {
    case PlotsWidget::MagnitudeTime: {
        for (std::size_t i = 0; i < located.size(); ++i) {
            if (has(located[i].location.magnitude) && std::isfinite(located[i].utcSeconds))
                m_order.push_back(int(i));
        }
        std::stable_sort(m_order.begin(), m_order.end(), [&located](int a, int b) { return located[std::size_t(a)].utcSeconds < located[std::size_t(b)].utcSeconds; });
        m_cumulative.resize(m_order.size());
        for (std::size_t i = 0; i < m_order.size(); ++i)
            m_cumulative[i] = int(i) + 1;
        if (!m_order.empty()) {
            m_firstTime = (*m_events)[std::size_t(m_order.front())].utcSeconds;
            m_lastTime = (*m_events)[std::size_t(m_order.back())].utcSeconds;
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
            m_notes << tr("%1 without magnitude not shown").arg(events(withoutMagnitude));
        if (withoutTime > 0)
            m_notes << tr("%1 without time not shown").arg(events(withoutTime));
        if (withoutDepth > 0)
            m_notes << tr("%1 without depth in grey").arg(events(withoutDepth));
        break;
    }
    case PlotsWidget::FrequencyMagnitude: {
        std::vector<double> magnitudes;
        magnitudes.reserve(located.size());
        for (const LocatedEvent &event : located) {
            if (has(event.location.magnitude))
                magnitudes.push_back(event.location.magnitude);
        }
        m_fmd = Statistics::frequencyMagnitude(magnitudes);
        m_fit = Statistics::gutenbergRichter(magnitudes);
        if (m_fit.mc)
            m_notes << tr("Mc = %1 (maximum curvature + %2)").arg(*m_fit.mc, 0, 'f', 1).arg(Statistics::MaximumCurvatureCorrection);
        if (m_fit.b) {
            m_notes << tr("b = %1 \u00B1 %2 (Aki\u2013Utsu, %3 events \u2265 Mc)")
                           .arg(*m_fit.b, 0, 'f', 2).arg(m_fit.bUncertainty, 0, 'f', 2).arg(m_fit.aboveMc);
            m_notes << tr("a = %1").arg(m_fit.a, 0, 'f', 2);
        } else if (!m_fit.whyNoB.isEmpty()) {
            m_notes << tr("No b-value: %1").arg(m_fit.whyNoB);
        }
        if (withoutMagnitude > 0)
            m_notes << tr("%1 without magnitude not shown").arg(events(withoutMagnitude));
        break;
    }
    case PlotsWidget::DepthHistogram: {
        double deepest = 0;
        for (const LocatedEvent &event : located) {
            if (has(event.location.depthKm))
                deepest = std::max(deepest, double(event.location.depthKm));
        }
        m_depthBin = deepest <= 50 ? 2 : deepest <= 200 ? 5 : deepest <= 400 ? 10 : 25;
        m_depthCounts.assign(std::size_t(std::floor(deepest / m_depthBin)) + 1, 0);
        for (const LocatedEvent &event : located) {
            if (has(event.location.depthKm))
                ++m_depthCounts[std::size_t(std::max(0.0, std::floor(event.location.depthKm / m_depthBin)))];
        }
        if (withoutDepth > 0)
            m_notes << tr("%1 without depth not shown").arg(events(withoutDepth));
        break;
    }
    }
}

QRectF PlotCanvas::plotArea(const QRectF &area) const
{
    return area.adjusted(58, 14, m_kind == PlotsWidget::MagnitudeTime ? -58 : -16, -44);
}

void PlotCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    draw(painter, rect());
}

void PlotCanvas::draw(QPainter &painter, const QRectF &area) const
{
    painter.fillRect(area, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plotArea(area));
    switch (m_kind) {
    case PlotsWidget::MagnitudeTime: drawMagnitudeTime(painter, area); break;
    case PlotsWidget::FrequencyMagnitude: drawFrequencyMagnitude(painter, area); break;
    case PlotsWidget::DepthHistogram: drawDepths(painter, area); break;
    }
    // Notes, top right of the plot.
    const QRectF plot = plotArea(area);
    const QFontMetricsF metrics(painter.font());
    double y = plot.top() + 4;
    for (const QString &note : m_notes) {
        const QRectF box(plot.right() - metrics.horizontalAdvance(note) - 10, y, metrics.horizontalAdvance(note) + 6, metrics.height());
        painter.fillRect(box, QColor(255, 255, 255, 220));
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, note);
        y += metrics.height();
    }
}

QPointF PlotCanvas::positionOf(int index) const
{
    const QRectF plot = plotArea(rect());
    const double time = (*m_events)[std::size_t(index)].utcSeconds;
    const float magnitude = (*m_events)[std::size_t(index)].location.magnitude;
    return QPointF(plot.left() + (time - m_firstTime) / (m_lastTime - m_firstTime) * plot.width(),
                   plot.bottom() - (magnitude - m_lowMagnitude) / (m_highMagnitude - m_lowMagnitude) * plot.height());
}

void PlotCanvas::drawMagnitudeTime(QPainter &painter, const QRectF &area) const
{
    const QRectF plot = plotArea(area);
    if (m_order.empty())
        return;
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
    for (const TimeTick &tick : timeTicks(m_firstTime, m_lastTime)) {
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
    for (int i : m_order) {
        const QuakeLocation &at = (*m_events)[std::size_t(i)].location;
        const QPointF p(x((*m_events)[std::size_t(i)].utcSeconds), y(at.magnitude));
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

    // The cumulative number on the right axis.
    const double total = double(m_cumulative.back());
    const auto yCount = [&](double count) { return plot.bottom() - count / total * plot.height(); };
    QPolygonF line;
    line.reserve(int(std::min<std::size_t>(m_order.size(), 4000)) + 2);
    const std::size_t stride = std::max<std::size_t>(1, m_order.size() / 4000);
    for (std::size_t k = 0; k < m_order.size(); k += stride)
        line << QPointF(x((*m_events)[std::size_t(m_order[k])].utcSeconds), yCount(m_cumulative[k]));
    line << QPointF(x((*m_events)[std::size_t(m_order.back())].utcSeconds), yCount(total));
    painter.setPen(QPen(QColor(30, 30, 30), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
    const double step = niceStep(total);
    for (double count = 0; count <= total; count += step) {
        painter.drawLine(QPointF(plot.right(), yCount(count)), QPointF(plot.right() + 4, yCount(count)));
        painter.drawText(QRectF(plot.right() + 6, yCount(count) - 8, area.right() - plot.right() - 6, 16),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(count, 'g', 10));
    }
    drawAxisTitle(painter, area.right() - 8, plot.center().y(), 90, tr("Cumulative number"));
}

void PlotCanvas::drawFrequencyMagnitude(QPainter &painter, const QRectF &area) const
{
    const QRectF plot = plotArea(area);
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

void PlotCanvas::drawDepths(QPainter &painter, const QRectF &area) const
{
    const QRectF plot = plotArea(area);
    if (m_depthCounts.empty())
        return;
    const int most = std::max(1, *std::max_element(m_depthCounts.begin(), m_depthCounts.end()));
    const double deepest = m_depthCounts.size() * m_depthBin;
    // Depth downwards, as in the Earth; the number of events across.
    const auto y = [&](double depth) { return plot.top() + depth / deepest * plot.height(); };
    const auto x = [&](double count) { return plot.left() + count / most * plot.width(); };
    for (std::size_t i = 0; i < m_depthCounts.size(); ++i) {
        const double depth = i * m_depthBin;
        painter.fillRect(QRectF(QPointF(plot.left(), y(depth)), QPointF(x(m_depthCounts[i]), y(depth + m_depthBin))).adjusted(0, 0.5, 0, -0.5),
                         EventScales::depthColour(depth + m_depthBin / 2));
    }
    painter.setPen(Qt::black);
    const double step = niceStep(deepest);
    for (double depth = 0; depth <= deepest; depth += step) {
        painter.drawLine(QPointF(plot.left() - 4, y(depth)), QPointF(plot.left(), y(depth)));
        painter.drawText(QRectF(area.left(), y(depth) - 8, plot.left() - area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(depth));
    }
    const double countStep = niceStep(most);
    for (double count = 0; count <= most; count += countStep) {
        painter.drawLine(QPointF(x(count), plot.bottom()), QPointF(x(count), plot.bottom() + 4));
        painter.drawText(QRectF(x(count) - 30, plot.bottom() + 4, 60, 16), Qt::AlignHCenter | Qt::AlignTop, QString::number(count));
    }
    painter.drawText(QRectF(plot.left(), area.bottom() - 20, plot.width(), 18), Qt::AlignCenter,
                     tr("Number of events in %1 km of depth").arg(m_depthBin));
    drawAxisTitle(painter, area.left() + 12, plot.center().y(), -90, tr("Depth (km)"));
}

int PlotCanvas::eventAt(const QPointF &position) const
{
    if (m_kind != PlotsWidget::MagnitudeTime || !m_events)
        return -1;
    int found = -1;
    for (int i : m_order) {
        const QPointF d = positionOf(i) - position;
        if (d.x() * d.x() + d.y() * d.y() <= (DotRadius + 1.5) * (DotRadius + 1.5))
            found = i;
    }
    return found;
}

void PlotCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    const int index = event->button() == Qt::LeftButton ? eventAt(event->position()) : -1;
    if (index >= 0)
        emit eventClicked(index);
}

bool PlotCanvas::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int index = eventAt(help->pos());
        if (index < 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        const std::string &key = *(*m_events)[std::size_t(index)].eventId;
        const QuakeLocation &at = (*m_events)[std::size_t(index)].location;
        QToolTip::showText(help->globalPos(),
                           QString::fromLatin1(key.data(), qsizetype(key.size())) + u'\n'
                               + tr("Magnitude %1, depth %2").arg(at.magnitude, 0, 'f', 1)
                                     .arg(has(at.depthKm) ? tr("%1 km").arg(at.depthKm, 0, 'f', 1) : tr("unknown")),
                           this);
        return true;
    }
    return QWidget::event(event);
}
