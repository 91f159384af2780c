// The measurement behind drawing the plots with QPainter rather than Qt
// Charts: 100,000 dots of a magnitude-time plot, 1200 by 800, offscreen,
// drawn by a QChartView with a QScatterSeries (and an OpenGL-free line of
// the cumulative number) against Harvix's own PlotCanvas. Median of 11
// frames after one to warm up; the time to build the chart's series is
// given apart. Built only where Qt Charts is installed.

#include "app/plotswidget.h"
#include "app/shownresult.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QImage>
#include <QLineSeries>
#include <QRandomGenerator>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

namespace {

template <typename Draw>
double medianMs(Draw draw)
{
    QElapsedTimer clock;
    std::vector<double> frames;
    for (int i = 0; i < 12; ++i) {
        clock.start();
        draw();
        if (i > 0)
            frames.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    return frames[frames.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int events = 100000;
    QRandomGenerator random(7);
    std::vector<std::string> ids(static_cast<std::size_t>(events));
    std::vector<LocatedEvent> located;
    std::vector<double> times;
    for (int i = 0; i < events; ++i) {
        ids[std::size_t(i)] = std::to_string(i);
        located.push_back({ &ids[std::size_t(i)], { -40.f, 175.f, float(random.bounded(300.0)), float(random.bounded(6.0)) } });
        times.push_back(1.5e9 + 3.15e8 * i / events);
    }
    QImage frame(1200, 800, QImage::Format_ARGB32_Premultiplied);

    QElapsedTimer clock;
    clock.start();
    auto *scatter = new QScatterSeries;
    scatter->setMarkerSize(5);
    auto *line = new QLineSeries;
    QList<QPointF> dots, cumulative;
    for (int i = 0; i < events; ++i) {
        dots << QPointF(times[std::size_t(i)], located[std::size_t(i)].location.magnitude);
        cumulative << QPointF(times[std::size_t(i)], i + 1);
    }
    scatter->replace(dots);
    line->replace(cumulative);
    auto *chart = new QChart;
    chart->addSeries(scatter);
    chart->addSeries(line);
    chart->createDefaultAxes();
    QChartView view(chart);
    view.resize(1200, 800);
    const double build = clock.nsecsElapsed() / 1e6;
    const double charts = medianMs([&] { static_cast<QWidget &>(view).render(&frame); });

    for (std::size_t i = 0; i < located.size(); ++i)
        located[i].utcSeconds = times[i];
    ShownResult shown;
    const std::unique_ptr<PlotCanvas> made(PlotsWidget::create(PlotsWidget::MagnitudeTime, &shown));
    PlotCanvas &plot = *made;
    plot.resize(1200, 800);
    shown.setEvents(&located);
    const double painter = medianMs([&] { plot.render(&frame); });
    std::printf("stage=charts_compare events=%d qtcharts_frame_ms=%.1f qtcharts_build_ms=%.1f qpainter_frame_ms=%.1f\n",
                events, charts, build, painter);
    return 0;
}
