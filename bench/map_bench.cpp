// Measures the map: how long a frame of N events takes to draw (offscreen,
// 1200 by 800, the median of 21 frames after one to warm up), and how many
// bytes an event costs beyond the tree (the search's locations and the
// map's own arrays). Prints one line of key=value pairs.
//
//   map_bench --events N

#include "app/mapwidget.h"
#include "quakeml/quakeeventrecord.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    int events = 100000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--events"))
            events = std::atoi(argv[i + 1]);
    }
    // New Zealand's shape of a catalogue: most events along the plate
    // boundary from Fiordland to the Kermadecs, some across 180°.
    QRandomGenerator random(20261208);
    std::vector<std::string> ids;
    ids.resize(std::size_t(events));
    std::vector<LocatedEvent> located;
    located.reserve(std::size_t(events));
    for (int i = 0; i < events; ++i) {
        ids[std::size_t(i)] = "[" + std::to_string(2016000000 + i) + "]";
        const double t = random.generateDouble();
        QuakeLocation at;
        at.latitude = float(-46 + 20 * t + random.bounded(2.0) - 1);
        at.longitude = float(167 + 15 * t + random.bounded(2.0) - 1);
        if (at.longitude > 180)
            at.longitude -= 360;
        at.depthKm = i % 97 == 0 ? std::numeric_limits<float>::quiet_NaN() : float(random.bounded(400.0));
        at.magnitude = i % 89 == 0 ? std::numeric_limits<float>::quiet_NaN() : float(random.bounded(6.0));
        located.push_back({ &ids[std::size_t(i)], at });
    }

    MapWidget map;
    map.resize(1200, 800);
    QElapsedTimer clock;
    clock.start();
    map.setEvents(&located);
    const double setupMs = clock.nsecsElapsed() / 1e6;

    QImage frame(1200, 800, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> frames;
    for (int i = 0; i < 22; ++i) {
        clock.restart();
        map.render(&frame);
        if (i > 0)
            frames.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    const double bytes = double(located.capacity() * sizeof(LocatedEvent) + std::size_t(map.eventBytes())) / events;
    std::printf("stage=map events=%d frame_ms=%.1f setup_ms=%.1f bytes_per_event=%.1f\n", events,
                frames[frames.size() / 2], setupMs, bytes);
    return 0;
}
