#pragma once

// While a result plays through time, the events whose time has just come
// flash: larger and white, settling within a second of playing into their
// own symbol, which the event layer draws beneath (as GMT's animations
// show new events).

#include "app/maplayers.h"

#include <vector>

class FlashLayer : public MapLayer
{
public:
    explicit FlashLayer(const EventLayer &events) : m_events(events) {}

    // The time shown (UTC seconds) and the catalogue seconds that a second
    // of playing covers; no flashes for a span of 0.
    void setTime(double until, double span)
    {
        m_until = until;
        m_span = span;
    }
    // The events flashing, with how far each has settled (0 just come, 1
    // settled).
    std::vector<std::pair<quint32, double>> flashing() const;

    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    const EventLayer &m_events;
    double m_until = HUGE_VAL;
    double m_span = 0;
    // The events drawn, in time order, as of an arrangement of the layer.
    mutable std::vector<quint32> m_byTime;
    mutable quint64 m_arrangement = 0;
};
