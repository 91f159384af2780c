#pragma once

// A depth histogram, depth downwards as in the Earth: at a glance how deep
// a catalogue's events lie (crust or slab), where a depth-time plot would
// repeat the magnitude-time plot's time axis.

#include "app/plotcanvas.h"
#include "geo/statistics.h"

class DepthPlot : public PlotCanvas
{
    Q_OBJECT

public:
    using PlotCanvas::PlotCanvas;

protected:
    void analyse(const std::vector<LocatedEvent> &events, QStringList &notes) override;
    void clear() override;
    void drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const override;

private:
    Statistics::DepthHistogram m_histogram;
};
