#include "geo/ticks.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>

namespace Ticks {

double stepAtLeast(double rough)
{
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (const double factor : { 1.0, 2.0, 2.5, 5.0, 10.0 }) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10 * power;
}

std::vector<double> axisTicks(double low, double high, double about)
{
    std::vector<double> ticks;
    if (!(high >= low) || !std::isfinite(low) || !std::isfinite(high) || !(about > 0))
        return ticks;
    const double step = high > low ? stepAtLeast((high - low) / about) : 1;
    // Each one from its index, so that no error adds up along the axis.
    const double first = std::ceil(low / step);
    for (double i = 0;; ++i) {
        const double tick = (first + i) * step;
        if (tick > high * (1 + 1e-12) + 1e-12)
            break;
        ticks.push_back(tick);
    }
    return ticks;
}

double lengthAtMost(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    return rough >= 5 * power ? 5 * power : rough >= 2 * power ? 2 * power : power;
}

// Ticks for a time axis in local time, from hours to decades.
std::vector<TimeTick> localTimeTicks(double first, double last)
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

} // namespace Ticks
