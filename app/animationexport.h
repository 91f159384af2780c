#pragma once

// A result played through time as a video (app/videowriter.h): the map as
// a view shows it (the same part of the country, fitted into the video's
// size), and if asked the magnitude-time plot beside it, from the first
// event's time to the last's over the video's length, new events flashing
// as they do when the result plays (app/timeplayer.h), the time in local
// time at the map's top right, a title if given in the middle of its top, and
// GeoNet's acknowledgement and the other credits at its foot. Each frame
// is drawn offscreen at the video's size, its texts scaled with it (as
// 720 lines show a window's); the last second holds everything.

#include "geo/outcome.h"
#include "quakeml/quakeeventrecord.h"

#include <QSize>
#include <QString>

#include <functional>
#include <vector>

class MapWidget;

namespace AnimationExport {

struct Options
{
    QSize size { 1280, 720 };   // even sides
    int framesPerSecond = 30;
    double seconds = 10;        // of video
    bool withPlot = false;      // the magnitude-time plot on the right third
    QString title;              // at the top of every frame; none when empty
};

// Called after each frame with the frames written and all; false cancels.
using Progress = std::function<bool(int done, int total)>;

// The events must have times; the view gives the map's part of the
// country. A cancelled or failed export leaves no file.
Outcome write(const QString &path, const std::vector<LocatedEvent> &events, const MapWidget &view,
              const Options &options, const Progress &progress);

} // namespace AnimationExport
