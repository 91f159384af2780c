#include "app/sequencecharts.h"

#include "geo/ticks.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor ink(40, 40, 40);
const QColor dots(44, 123, 182);
const QColor curve(215, 25, 28);

// A panel's frame and title; the plot's rectangle inside.
QRectF frameOf(QPainter &painter, const QRectF &area, const QString &title, const QString &xTitle, const QString &yTitle)
{
    const QFontMetricsF metrics(painter.font());
    const QRectF plot = area.adjusted(54, metrics.height() + 10, -10, -2 * metrics.height() - 10);
    painter.setPen(ink);
    painter.drawText(QRectF(area.left(), area.top() + 2, area.width(), metrics.height()), Qt::AlignHCenter, title);
    painter.drawText(QRectF(plot.left(), plot.bottom() + metrics.height() + 6, plot.width(), metrics.height()),
                     Qt::AlignHCenter, xTitle);
    painter.save();
    painter.translate(area.left() + metrics.height() * 0.2, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.height() / 2, 0, plot.height(), metrics.height()), Qt::AlignHCenter, yTitle);
    painter.restore();
    painter.setPen(QPen(QColor(150, 150, 150), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    return plot;
}

// Decades of a logarithmic axis, labelled 10^k as 0.01, 1, 100.
std::vector<double> decades(double low, double high)
{
    std::vector<double> ticks;
    for (double k = std::floor(std::log10(low)); k <= std::ceil(std::log10(high)); ++k)
        ticks.push_back(std::pow(10.0, k));
    return ticks;
}

QString label(double value)
{
    return QString::number(value, 'g', 3);
}

} // namespace

SequenceCharts::SequenceCharts(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(180);
}

void SequenceCharts::setStudy(std::optional<SequenceStudy::Study> study)
{
    m_study = std::move(study);
    update();
}

std::vector<SequenceCharts::RatePoint> SequenceCharts::rates(const SequenceStudy::Study &study)
{
    std::vector<RatePoint> points;
    if (!study.mc)
        return points;
    const int mcBin = Statistics::binOf(*study.mc);
    std::vector<double> days;
    for (const QuakePoint &event : study.events) {
        if (std::isfinite(event.magnitude) && Statistics::binOf(event.magnitude) >= mcBin)
            days.push_back((event.time - study.start) / SequenceStudy::SecondsPerDay);
    }
    const double end = (study.end - study.start) / SequenceStudy::SecondsPerDay;
    if (days.empty() || !(end > 0))
        return points;
    // Bins of a quarter decade from the first event's time on.
    const double first = std::max(1e-4, *std::min_element(days.begin(), days.end()));
    for (double low = std::pow(10.0, std::floor(std::log10(first) * 4) / 4); low < end; low *= std::pow(10.0, 0.25)) {
        const double high = std::min(end, low * std::pow(10.0, 0.25));
        const auto count = std::count_if(days.begin(), days.end(), [&](double t) { return t >= low && t < high; });
        if (count > 0)
            points.push_back({ std::sqrt(low * high), double(count) / (high - low) });
    }
    return points;
}

void SequenceCharts::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    draw(painter, rect());
}

void SequenceCharts::draw(QPainter &painter, const QRectF &area) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);
    if (!m_study) {
        painter.restore();
        return;
    }
    const SequenceStudy::Study &study = *m_study;
    const double width = area.width() / 3;
    const QRectF panels[] = { QRectF(area.left(), area.top(), width, area.height()),
                              QRectF(area.left() + width, area.top(), width, area.height()),
                              QRectF(area.left() + 2 * width, area.top(), width, area.height()) };
    const QFontMetricsF metrics(painter.font());

    // The rate, and the fit.
    {
        const QRectF plot = frameOf(painter, panels[0], tr("Rate, M %1 or more").arg(study.mc ? label(*study.mc) : QStringLiteral("?")),
                                    tr("Days after it"), tr("Events a day"));
        const std::vector<RatePoint> points = rates(study);
        if (!points.empty()) {
            double tLow = points.front().days, tHigh = points.back().days, rLow = HUGE_VAL, rHigh = 0;
            for (const RatePoint &p : points) {
                rLow = std::min(rLow, p.perDay);
                rHigh = std::max(rHigh, p.perDay);
            }
            tLow /= 2;
            tHigh *= 2;
            rLow /= 3;
            rHigh *= 3;
            const auto x = [&](double t) { return plot.left() + plot.width() * std::log(t / tLow) / std::log(tHigh / tLow); };
            const auto y = [&](double r) { return plot.bottom() - plot.height() * std::log(r / rLow) / std::log(rHigh / rLow); };
            painter.setPen(ink);
            for (const double tick : decades(tLow, tHigh)) {
                if (tick >= tLow && tick <= tHigh)
                    painter.drawText(QPointF(x(tick) - metrics.horizontalAdvance(label(tick)) / 2, plot.bottom() + metrics.height()), label(tick));
            }
            for (const double tick : decades(rLow, rHigh)) {
                if (tick >= rLow && tick <= rHigh)
                    painter.drawText(QPointF(plot.left() - metrics.horizontalAdvance(label(tick)) - 4, y(tick) + metrics.ascent() / 2), label(tick));
            }
            painter.setClipRect(plot);
            if (study.omori) {
                QPainterPath line;
                for (int i = 0; i <= 100; ++i) {
                    const double t = tLow * std::pow(tHigh / tLow, i / 100.0);
                    const QPointF at(x(t), y(study.omori->K * std::pow(t + study.omori->c, -study.omori->p)));
                    i == 0 ? line.moveTo(at) : line.lineTo(at);
                }
                painter.setPen(QPen(curve, 2));
                painter.setBrush(Qt::NoBrush);
                painter.drawPath(line);
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(dots);
            for (const RatePoint &p : points)
                painter.drawEllipse(QPointF(x(p.days), y(p.perDay)), 3.5, 3.5);
            painter.setClipping(false);
        }
    }

    // b over time.
    {
        const QRectF plot = frameOf(painter, panels[1], tr("b over time"), tr("Days after it"), tr("b"));
        if (!study.bTime.empty()) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const auto &point : study.bTime) {
                low = std::min(low, point.value.b - point.value.sigma);
                high = std::max(high, point.value.b + point.value.sigma);
            }
            low -= 0.05;
            high += 0.05;
            const double t0 = (study.bTime.front().end - study.start) / SequenceStudy::SecondsPerDay;
            const double t1 = std::max(t0 + 1e-6, (study.bTime.back().end - study.start) / SequenceStudy::SecondsPerDay);
            const auto x = [&](double seconds) {
                return plot.left() + plot.width() * ((seconds - study.start) / SequenceStudy::SecondsPerDay - t0) / (t1 - t0);
            };
            const auto y = [&](double b) { return plot.bottom() - plot.height() * (b - low) / (high - low); };
            QPolygonF band, middle;
            for (const auto &point : study.bTime) {
                band << QPointF(x(point.end), y(point.value.b + point.value.sigma));
                middle << QPointF(x(point.end), y(point.value.b));
            }
            for (auto it = study.bTime.rbegin(); it != study.bTime.rend(); ++it)
                band << QPointF(x(it->end), y(it->value.b - it->value.sigma));
            painter.setPen(ink);
            for (const double tick : Ticks::axisTicks(low, high, 5))
                painter.drawText(QPointF(plot.left() - metrics.horizontalAdvance(label(tick)) - 4, y(tick) + metrics.ascent() / 2), label(tick));
            for (const double tick : Ticks::axisTicks(t0, t1, 4))
                painter.drawText(QPointF(plot.left() + plot.width() * (tick - t0) / (t1 - t0) - metrics.horizontalAdvance(label(tick)) / 2,
                                         plot.bottom() + metrics.height()), label(tick));
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(44, 123, 182, 60));
            painter.drawPolygon(band);
            painter.setPen(QPen(dots, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(middle);
        } else {
            painter.setPen(ink);
            painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, tr("Fewer than 150 events at or above Mc"));
        }
    }

    // The cumulative moment.
    {
        const QRectF plot = frameOf(painter, panels[2], tr("Cumulative moment"), tr("Days after it"), tr("N m"));
        std::vector<std::pair<double, double>> sums;
        double total = moment(study.mainshock.magnitude);
        sums.emplace_back(0, total);
        for (const QuakePoint &event : study.events) {
            if (!std::isfinite(event.magnitude))
                continue;
            total += moment(event.magnitude);
            sums.emplace_back((event.time - study.start) / SequenceStudy::SecondsPerDay, total);
        }
        const double t1 = std::max(1e-6, sums.back().first);
        const double low = sums.front().second, high = std::max(total, low * 1.0001);
        const auto x = [&](double t) { return plot.left() + plot.width() * t / t1; };
        const auto y = [&](double m) { return plot.bottom() - plot.height() * (m - low * 0.98) / (high - low * 0.98); };
        painter.setPen(ink);
        for (const double tick : Ticks::axisTicks(0, t1, 4))
            painter.drawText(QPointF(x(tick) - metrics.horizontalAdvance(label(tick)) / 2, plot.bottom() + metrics.height()), label(tick));
        painter.drawText(QPointF(plot.left() - 50, plot.top() + metrics.ascent()), QString::number(high, 'e', 1));
        painter.drawText(QPointF(plot.left() - 50, plot.bottom()), QString::number(low, 'e', 1));
        QPolygonF steps;
        for (std::size_t i = 0; i < sums.size(); ++i) {
            if (i > 0)
                steps << QPointF(x(sums[i].first), y(sums[i - 1].second));
            steps << QPointF(x(sums[i].first), y(sums[i].second));
        }
        painter.setPen(QPen(curve, 2));
        painter.drawPolyline(steps);
    }
    painter.restore();
}
