// Measures what Harvix shows beside the tree and what it exports: how long
// a frame of N events takes to draw on the map and on each plot (offscreen,
// 1200 by 800, the median of 21 frames after one to warm up), how many
// bytes an event costs the map beyond the tree (the search's locations and
// the map's own arrays), the Gutenberg-Richter statistics (median of 21),
// the event list (shown, each column's sort, its bytes an event) and an
// export in each format; frames played through time, and a minute of video.
// Prints one line of key=value pairs.
//
//   map_bench --events N

#include "app/animationexport.h"
#include "app/eventexport.h"
#include "app/eventlist.h"
#include "app/eventlistmodel.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "app/shownresult.h"
#include "geo/statistics.h"
#include "quakeml/quakeeventrecord.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
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
        located.push_back({ &ids[std::size_t(i)], at, std::nan(""), 10 });
    }

    ShownResult mapShown;
    MapWidget map(&mapShown);
    map.resize(1200, 800);
    QElapsedTimer clock;
    clock.start();
    mapShown.setEvents(&located);
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

    // The plots, over ten years.
    for (int i = 0; i < events; ++i)
        located[std::size_t(i)].utcSeconds = 1.5e9 + 3.15e8 * i / events;
    const char *const names[] = { "magnitude_time", "frequency_magnitude", "depth" };
    for (int kind = 0; kind < 3; ++kind) {
        ShownResult shown;
        const std::unique_ptr<PlotCanvas> made(PlotsWidget::create(PlotsWidget::Plot(kind), &shown));
        PlotCanvas &plot = *made;
        plot.resize(1200, 800);
        shown.setEvents(&located);
        std::vector<double> plotFrames;
        for (int i = 0; i < 22; ++i) {
            clock.restart();
            plot.render(&frame);
            if (i > 0)
                plotFrames.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::sort(plotFrames.begin(), plotFrames.end());
        std::printf("stage=plot plot=%s events=%d frame_ms=%.1f\n", names[kind], events, plotFrames[plotFrames.size() / 2]);
    }

    // Played through time: ten seconds of frames at 30 a second over the
    // ten years, each drawn whole with its flashes; and a minute of 1080p
    // video at 30 frames a second of the first 56,000 events.
    {
        const double first = located.front().utcSeconds, last = located.back().utcSeconds;
        const int playFrames = 300;
        clock.restart();
        std::size_t flashes = 0;
        for (int i = 0; i < playFrames; ++i) {
            mapShown.setTimeShown(first + (last - first) * (i + 1) / playFrames, (last - first) / 10);
            map.render(&frame);
            flashes += map.flashes().flashing().size();
        }
        const double playMs = clock.nsecsElapsed() / 1e6 / playFrames;
        mapShown.setTimeShown(HUGE_VAL, 0);
        std::printf("stage=play events=%d frame_ms=%.1f frames_per_second=%.1f flashing=%zu\n", events, playMs, 1000 / playMs,
                    flashes / playFrames);
        const std::vector<LocatedEvent> some(located.begin(), located.begin() + std::min<std::size_t>(56000, located.size()));
        ShownResult viewShown;
        MapWidget view(&viewShown);
        view.resize(1200, 800);
        viewShown.setEvents(&some);
        AnimationExport::Options options;
        options.size = QSize(1920, 1080);
        options.framesPerSecond = 30;
        options.seconds = 60;
        QTemporaryDir folder;
        for (const char *suffix : { "webm", "mp4" }) {
            clock.restart();
            if (AnimationExport::write(folder.filePath(QStringLiteral("play.") + QLatin1String(suffix)), some, view, options, {}).kind
                != Outcome::Done)
                return 1;
            std::printf("stage=video format=%s events=%zu length=60 size=1920x1080 rate=30 seconds=%.1f\n", suffix,
                        some.size(), clock.nsecsElapsed() / 1e9);
        }
    }

    // The list: shown (its model and a painted page), then sorted by each
    // column in turn, as a header's click does.
    {
        ShownResult listShown;
        EventList list(&listShown);
        list.resize(1200, 800);
        QImage page(1200, 800, QImage::Format_ARGB32_Premultiplied);
        clock.restart();
        listShown.setEvents(&located);
        list.render(&page);
        const double shownMs = clock.nsecsElapsed() / 1e6;
        const char *const columns[] = { "time", "magnitude", "type", "depth", "place", "reference" };
        std::printf("stage=list events=%d shown_ms=%.1f bytes_per_event=%.1f", events, shownMs,
                    double(list.model()->bytes()) / events);
        for (int column = 0; column < EventListModel::ColumnCount; ++column) {
            clock.restart();
            list.table()->sortByColumn(column, Qt::AscendingOrder);
            std::printf(" sort_%s_ms=%.1f", columns[column], clock.nsecsElapsed() / 1e6);
        }
        clock.restart();
        list.model()->setFilter(QStringLiteral("Taupo"));
        std::printf(" filter_ms=%.1f filtered=%d\n", clock.nsecsElapsed() / 1e6, list.model()->rowCount());
    }

    std::vector<double> magnitudes;
    for (const LocatedEvent &event : located) {
        if (std::isfinite(event.location.magnitude))
            magnitudes.push_back(event.location.magnitude);
    }
    std::vector<double> fits;
    for (int i = 0; i < 21; ++i) {
        clock.restart();
        const Statistics::GutenbergRichter fit = Statistics::gutenbergRichter(magnitudes);
        fits.push_back(clock.nsecsElapsed() / 1e6);
        if (!fit.mc)
            return 1;
    }
    std::sort(fits.begin(), fits.end());
    std::printf("stage=statistics events=%d ms=%.1f\n", events, fits[fits.size() / 2]);

    // Exports of the records a search leaves.
    QuakeEventStore store;
    std::vector<RawEvent> raw;
    raw.reserve(std::size_t(events));
    for (int i = 0; i < events; ++i) {
        const QuakeLocation &at = located[std::size_t(i)].location;
        const std::string id = std::to_string(2016000000 + i);
        auto stored = store.emplace("[" + id + "] Sat, 01 January 2022 at 00:00:00", QuakeFieldMap()).first;
        const std::string texts[RawEvent::FieldCount] = {
            id, "2022-01-01T00:00:00.123456", std::to_string(at.latitude), std::to_string(at.longitude),
            std::to_string(at.depthKm), std::to_string(at.magnitude), "MLv", "12", "manual", "reviewed", "earthquake" };
        RawEvent event;
        event.eventId = &stored->first;
        for (int field = 0; field < RawEvent::FieldCount; ++field) {
            event.texts += texts[field];
            event.ends[std::size_t(field)] = std::uint32_t(event.texts.size());
        }
        raw.push_back(std::move(event));
    }
    std::vector<const RawEvent *> aligned;
    for (const RawEvent &event : raw)
        aligned.push_back(&event);
    QTemporaryDir dir;
    const std::pair<EventExport::Format, const char *> formats[] = {
        { EventExport::Format::Csv, "csv" }, { EventExport::Format::GeoJson, "geojson" }, { EventExport::Format::QuakeML, "xml" } };
    for (const auto &[format, suffix] : formats) {
        clock.restart();
        if (EventExport::writeFile(dir.filePath(QStringLiteral("events.") + QLatin1String(suffix)), format, aligned, {}).kind
            != Outcome::Done)
            return 1;
        std::printf("stage=export format=%s events=%d seconds=%.3f\n", suffix, events, clock.nsecsElapsed() / 1e9);
    }
    return 0;
}
