#include "app/animationexport.h"

#include "app/mapwidget.h"
#include "app/plotcanvas.h"
#include "app/plotswidget.h"
#include "app/videowriter.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>

namespace AnimationExport {

Outcome write(const QString &path, const std::vector<LocatedEvent> &events, const MapWidget &view, const Options &options,
              const Progress &progress)
{
    double first = HUGE_VAL, last = -HUGE_VAL;
    for (const LocatedEvent &event : events) {
        if (std::isfinite(event.utcSeconds)) {
            first = std::min(first, event.utcSeconds);
            last = std::max(last, event.utcSeconds);
        }
    }
    if (first > last)
        return Outcome::failed(QStringLiteral("no event has a time"));
    const QSize size(options.size.width() & ~1, options.size.height() & ~1);
    const int frames = std::max(1, int(std::lround(options.seconds * options.framesPerSecond)));
    // The events' time for a second of video; a second at the end holds everything.
    const int playing = std::max(1, frames - options.framesPerSecond);
    const double span = std::max(last - first, 1.0) * options.framesPerSecond / playing;

    // Texts as big on the video, for its size, as on a window at 720 lines.
    const double textScale = std::max(0.8, size.height() / 720.0);
    QFont font = view.font();
    font.setPointSizeF(font.pointSizeF() * textScale);
    // The credits take a line at the foot of the frame, under the map and plot.
    QFont small = font;
    small.setPointSizeF(font.pointSizeF() * 0.85);
    // (The map credits its land and places itself.)
    const QString credits = QStringLiteral("We acknowledge the New Zealand GeoNet project and its sponsors EQC, GNS Science "
                                           "and LINZ, for providing data used here.");
    const int creditsHeight = int(std::ceil(QFontMetricsF(small).height() * 1.4));
    const QRect mapArea(0, 0, options.withPlot ? size.width() * 2 / 3 : size.width(), size.height() - creditsHeight);
    // The video's own result, of its own copy of the events.
    ShownResult shown;
    MapWidget map(&shown);
    map.setAttribute(Qt::WA_DontShowOnScreen);
    map.setFont(font);
    map.resize(mapArea.size());
    std::unique_ptr<PlotCanvas> plot;
    if (options.withPlot) {
        plot.reset(PlotsWidget::create(PlotsWidget::MagnitudeTime, &shown));
        plot->setAttribute(Qt::WA_DontShowOnScreen);
        plot->setFont(font);
        plot->resize(size.width() - mapArea.width(), mapArea.height());
    }
    shown.setEvents(&events);
    map.showKm(view.shownKm());

    VideoWriter video;
    QString error;
    if (!video.open(path, size, options.framesPerSecond, &error))
        return Outcome::failed(error);
    // Opaque, so that the encoder takes its pixels as they are.
    QImage frame(size, QImage::Format_RGB32);
    for (int i = 0; i < frames; ++i) {
        const double time = first + (last - first) * std::min(1.0, double(i) / std::max(1, playing - 1));
        const bool ended = i >= playing - 1;
        shown.setTimeShown(ended ? HUGE_VAL : time, ended ? 0 : span);
        frame.fill(Qt::white);
        {
            QPainter painter(&frame);
            map.draw(painter, mapArea);
            // The time shown, local, at the map's top right; the title at its top left.
            painter.save();
            QFont bold = font;
            bold.setWeight(QFont::Bold);
            bold.setPointSizeF(font.pointSizeF() * 1.2);
            painter.setFont(bold);
            const QString when = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(time * 1000)), Qt::UTC)
                                     .toLocalTime()
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm t"));
            const QFontMetricsF metrics(bold);
            const QRectF box(mapArea.right() - metrics.horizontalAdvance(when) - 24, 8, metrics.horizontalAdvance(when) + 16,
                             metrics.height() + 8);
            painter.fillRect(box, QColor(255, 255, 255, 220));
            painter.setPen(QColor(20, 20, 20));
            painter.drawText(box, Qt::AlignCenter, when);
            if (!options.title.isEmpty()) {
                // In the middle of the top, between the legend and the time.
                const double legendRight = map.legendRect().right() + 8;
                const double room = std::max(0.0, box.left() - 8 - legendRight);
                const QString title = metrics.elidedText(options.title, Qt::ElideRight, room - 16);
                const double titleWidth = metrics.horizontalAdvance(title) + 16;
                const QRectF titleBox(legendRight + (room - titleWidth) / 2, 8, titleWidth, metrics.height() + 8);
                painter.fillRect(titleBox, QColor(255, 255, 255, 220));
                painter.drawText(titleBox, Qt::AlignCenter, title);
            }
            // The credits, on a line of their own at the foot.
            painter.setFont(small);
            painter.setPen(QColor(60, 60, 60));
            painter.drawText(QRectF(8, size.height() - creditsHeight, size.width() - 16, creditsHeight),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             QFontMetricsF(small).elidedText(credits, Qt::ElideRight, size.width() - 16));
            painter.restore();
            if (plot) {
                painter.translate(mapArea.width(), 0);
                plot->draw(painter, QRectF(QPointF(0, 0), plot->size()));
            }
        }
        if (!video.write(frame, &error))
            return Outcome::failed(error);
        if (progress && !progress(i + 1, frames)) {
            video.abandon();
            return Outcome::cancelled();
        }
    }
    if (!video.finish(&error))
        return Outcome::failed(error);
    return Outcome::done();
}

} // namespace AnimationExport
