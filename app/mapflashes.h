#pragma once

// The map while a result plays through time (app/timeplayer.h).
//
// FlashLayer: the events whose time has just come flash, larger and white,
// settling within a second of playing into their own symbol, which the
// event layer draws beneath (as GMT's animations show new events).
//
// PlayedLayer: the land and the events up to the time, kept as an image
// from frame to frame, so that a frame draws only the events come since
// the last (on top, in time order) and the image is drawn again whole only
// when the view, the size, the events or the way of time change.

#include "app/maplayers.h"

#include <unordered_map>
#include <vector>

class FlashLayer : public MapLayer
{
public:
    // The result's time shown and its flash span: the catalogue seconds
    // that a second of playing covers, no flashes for 0.
    FlashLayer(const EventLayer &events, const ShownResult &shown) : m_events(events), m_shown(shown) {}

    bool isPlaying() const { return m_shown.flashSpan() > 0 && m_shown.until() != HUGE_VAL; }
    // The events flashing, with how far each has settled (0 just come, 1
    // settled).
    std::vector<std::pair<quint32, double>> flashing() const;

    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    const EventLayer &m_events;
    const ShownResult &m_shown;
    // White discs by size (quarter pixels) and strength (sixteenths):
    // about 20 MB at most.
    static constexpr std::size_t MostSprites = 1200;
    mutable std::unordered_map<quint32, QImage> m_sprites;
};

class PlayedLayer : public MapLayer
{
public:
    PlayedLayer(const LandLayer &land, const EventLayer &events) : m_land(land), m_events(events) {}

    // Draws on a raster painter only.
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;
    // Forgets the image (the land changed).
    void forget() const { m_image = QImage(); }

private:
    const LandLayer &m_land;
    const EventLayer &m_events;
    mutable QImage m_image;
    mutable double m_until = HUGE_VAL;     // the time its events are drawn to
    mutable double m_scale = 0;
    mutable QPointF m_offset;
    mutable quint64 m_arrangement = 0;
};
