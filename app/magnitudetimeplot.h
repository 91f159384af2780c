#pragma once

// Magnitude against time: a dot an event, coloured on the map's depth ramp
// (grey without depth), time in local time with the zone named, and the
// cumulative number of events on a second axis. A dot names its event when
// hovered and reports it when clicked.

#include "app/plotcanvas.h"

class MagnitudeTimePlot : public PlotCanvas
{
    Q_OBJECT

public:
    using PlotCanvas::PlotCanvas;

    int eventAt(const QPointF &position) const override;
    QPointF positionOf(int index) const override;
    bool drawsUntil() const override { return true; }

    // The cumulative number against time (seconds, count) as steps: level
    // between events, up at each time by all of its events. With more than
    // `most` times, the steps are taken every so many events, level still.
    static std::vector<QPointF> cumulativeSteps(const std::vector<double> &ascendingSeconds, std::size_t most = 4000);

protected:
    void analyse(const std::vector<LocatedEvent> &events, QStringList &notes) override;
    void clear() override;
    void drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const override;
    double rightMargin() const override { return 58; }

private:
    QPointF positionIn(const QRectF &plot, int index) const;

    double m_firstTime = 0, m_lastTime = 1;
    double m_lowMagnitude = 0, m_highMagnitude = 1;
    std::vector<int> m_order;   // events drawn, by time
    std::vector<QPointF> m_steps;   // their cumulative number (cumulativeSteps)
};
