#include "app/sequencecharts.h"

#include "geo/ticks.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

const QColor ink(40, 40, 40);
const QColor dots(44, 123, 182);
const QColor curve(215, 25, 28);
const QColor completeness(230, 120, 30);

// A panel's frame and title; the plot's rectangle inside.
QRectF frameOf(QPainter &painter, const QRectF &area, const QString &title, const QString &xTitle, const QString &yTitle,
               double right = 10)
{
    const QFontMetricsF metrics(painter.font());
    const QRectF plot = area.adjusted(54, metrics.height() + 10, -right, -2 * metrics.height() - 10);
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

QStringList SequenceCharts::tickLabels(const std::vector<double> &ticks)
{
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
    int decimals = 0;
    while (decimals < 6) {
        const double scale = std::pow(10.0, decimals);
        if (std::all_of(ticks.begin(), ticks.end(),
                        [&](double t) { return std::fabs(std::round(t * scale) / scale - t) < step * 1e-6; }))
            break;
        ++decimals;
    }
    QStringList labels;
    for (const double tick : ticks)
        labels << QString::number(std::fabs(tick) < step * 1e-9 ? 0.0 : tick, 'f', decimals);
    return labels;
}

namespace {

// Labels under a horizontal axis, as many as fit its width apart.
void drawTimeTicks(QPainter &painter, const QRectF &plot, double low, double high)
{
    const QFontMetricsF metrics(painter.font());
    const std::vector<double> ticks = Ticks::axisTicks(low, high, std::max(2.0, plot.width() / (metrics.averageCharWidth() * 9)));
    const QStringList labels = SequenceCharts::tickLabels(ticks);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const double x = plot.left() + plot.width() * (ticks[i] - low) / (high - low);
        painter.drawText(QPointF(x - metrics.horizontalAdvance(labels[int(i)]) / 2, plot.bottom() + metrics.height()), labels[int(i)]);
    }
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
        const QRectF plot = frameOf(painter, panels[0],
                                    study.mc ? tr("Rate, M%1 or more").arg(QString::number(*study.mc, 'f', 1)) : tr("Rate"),
                                    tr("Days after it"), tr("Events a day"));
        const std::vector<SequenceStudy::RatePoint> points = SequenceStudy::rates(study);
        if (points.empty()) {
            painter.setPen(ink);
            painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, tr("No events at or above Mc after it"));
        } else {
            double tLow = points.front().days, tHigh = points.back().days, rLow = HUGE_VAL, rHigh = 0;
            for (const SequenceStudy::RatePoint &p : points) {
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
            for (const SequenceStudy::RatePoint &p : points)
                painter.drawEllipse(QPointF(x(p.days), y(p.perDay)), 3.5, 3.5);
            painter.setClipping(false);
        }
    }

    // b and Mc over time, on one time axis: b on the left, Mc on the right.
    {
        const QRectF plot = frameOf(painter, panels[1], tr("b and Mc over time"), tr("Days after it"), tr("b"), 40);
        if (!study.bTime.empty() || !study.mcTime.empty()) {
            double first = HUGE_VAL, last = -HUGE_VAL;
            for (const auto &point : study.bTime) {
                first = std::min(first, point.end);
                last = std::max(last, point.end);
            }
            for (const auto &point : study.mcTime) {
                first = std::min(first, point.end);
                last = std::max(last, point.end);
            }
            const double t0 = (first - study.start) / SequenceStudy::SecondsPerDay;
            const double t1 = std::max(t0 + 1e-6, (last - study.start) / SequenceStudy::SecondsPerDay);
            const auto x = [&](double seconds) {
                return plot.left() + plot.width() * ((seconds - study.start) / SequenceStudy::SecondsPerDay - t0) / (t1 - t0);
            };
            painter.setPen(ink);
            drawTimeTicks(painter, plot, t0, t1);
            // A series as a line over its band of one sigma, with its axis's labels on one side.
            const auto series = [&](const std::vector<std::array<double, 3>> &points, const QColor &colour, bool onRight) {
                double low = HUGE_VAL, high = -HUGE_VAL;
                for (const auto &[end, value, sigma] : points) {
                    low = std::min(low, value - sigma);
                    high = std::max(high, value + sigma);
                }
                low -= 0.05;
                high += 0.05;
                const auto y = [&](double value) { return plot.bottom() - plot.height() * (value - low) / (high - low); };
                QPolygonF band, middle;
                for (const auto &[end, value, sigma] : points) {
                    band << QPointF(x(end), y(value + sigma));
                    middle << QPointF(x(end), y(value));
                }
                for (auto it = points.rbegin(); it != points.rend(); ++it)
                    band << QPointF(x((*it)[0]), y((*it)[1] - (*it)[2]));
                painter.setPen(colour.darker(120));
                const std::vector<double> ticks = Ticks::axisTicks(low, high, 5);
                const QStringList labels = SequenceCharts::tickLabels(ticks);
                for (std::size_t i = 0; i < ticks.size(); ++i) {
                    const QString &text = labels[int(i)];
                    const double left = onRight ? plot.right() + 4 : plot.left() - metrics.horizontalAdvance(text) - 4;
                    painter.drawText(QPointF(left, y(ticks[i]) + metrics.ascent() / 2), text);
                }
                painter.setPen(Qt::NoPen);
                QColor fill = colour;
                fill.setAlpha(60);
                painter.setBrush(fill);
                painter.drawPolygon(band);
                painter.setPen(QPen(colour, 2));
                painter.setBrush(Qt::NoBrush);
                painter.drawPolyline(middle);
                // A dot at each window's end, so that one window shows too.
                painter.setPen(Qt::NoPen);
                painter.setBrush(colour);
                for (const QPointF &at : middle)
                    painter.drawEllipse(at, 2.5, 2.5);
            };
            // Mc behind, b over it.
            std::vector<std::array<double, 3>> points;
            for (const auto &point : study.mcTime)
                points.push_back({ point.end, point.mc, point.sigma });
            if (!points.empty()) {
                series(points, completeness, true);
                painter.setPen(completeness.darker(120));
                painter.drawText(QPointF(plot.right() + 4, plot.top() - 4), tr("Mc"));
            }
            points.clear();
            for (const auto &point : study.bTime)
                points.push_back({ point.end, point.value.b, point.value.sigma });
            if (!points.empty())
                series(points, dots, false);
        }
        if (study.bTime.empty()) {
            painter.setPen(ink);
            painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, tr("b: fewer than 150 events at or above Mc"));
        }
    }

    // The cumulative moment of the events after it: beside the mainshock's
    // own, theirs would not show.
    {
        const QRectF plot = frameOf(painter, panels[2], tr("Cumulative moment after it"), tr("Days after it"), tr("N m"));
        const std::vector<std::pair<double, double>> sums = SequenceStudy::cumulativeMoment(study);
        painter.setPen(ink);
        if (sums.size() < 2) {
            painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, tr("No event with a magnitude after it"));
            painter.restore();
            return;
        }
        const double t1 = std::max(1e-6, sums.back().first);
        const double high = sums.back().second > 0 ? sums.back().second : 1;
        const auto x = [&](double t) { return plot.left() + plot.width() * t / t1; };
        const auto y = [&](double m) { return plot.bottom() - plot.height() * m / high; };
        drawTimeTicks(painter, plot, 0, t1);
        // The axis's two ends, inside the margin, beside the frame's edges.
        for (const double m : { high, 0.0 }) {
            const QString text = m > 0 ? QString::number(m, 'e', 1) : QStringLiteral("0");
            painter.drawText(QPointF(plot.left() - metrics.horizontalAdvance(text) - 4, y(m) + metrics.ascent() / 2), text);
        }
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
