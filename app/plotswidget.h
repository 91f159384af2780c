#pragma once

// PlotsWidget shows the events of the shown search as three plots, a tab
// each, drawn with QPainter:
//   magnitude against time, a dot an event coloured on the map's depth
//   ramp, with the cumulative number of events on a second axis (time in
//   local time, the zone named);
//   frequency-magnitude, the number of events of magnitude M or more on a
//   log axis and the count in each 0.1 bin, with Mc, b and a
//   (geo/statistics.h) and the fitted line;
//   a depth histogram, which shows at a glance how deep a catalogue's
//   events lie (crust or slab), where a depth-time plot would repeat the
//   first plot's time axis.
// Events without the value a plot needs are left out of it and counted on
// it. Hovering a dot of the first plot names its event, a click reports it.

#include "geo/statistics.h"
#include "quakeml/quakeeventrecord.h"

#include <QTabWidget>

#include <vector>

class PlotCanvas;

class PlotsWidget : public QTabWidget
{
    Q_OBJECT

public:
    enum Plot { MagnitudeTime, FrequencyMagnitude, DepthHistogram };

    explicit PlotsWidget(QWidget *parent = nullptr);

    // The search's events in the store's order; they must stay until the
    // next call. Null clears.
    void setEvents(const std::vector<LocatedEvent> *events);
    int eventCount() const { return m_eventCount; }

    PlotCanvas *plot(Plot which) const;
    // Writes the plot shown as PNG or SVG by the file's suffix.
    bool save(Plot which, const QString &path, QString *error) const;

signals:
    void eventClicked(int index);

private:
    PlotCanvas *m_plots[3];
    int m_eventCount = 0;
};

// One plot. Public for the tests and the benchmark.
class PlotCanvas : public QWidget
{
    Q_OBJECT

public:
    PlotCanvas(PlotsWidget::Plot kind, QWidget *parent = nullptr);

    void setData(const std::vector<LocatedEvent> *events);
    // What the plot says about the events it cannot show ("12 events
    // without depth not shown"), and, for frequency-magnitude, its figures.
    QStringList notes() const { return m_notes; }
    // The event whose dot holds the point (magnitude-time only), or -1.
    int eventAt(const QPointF &position) const;
    QPointF positionOf(int index) const;
    void draw(QPainter &painter, const QRectF &area) const;

signals:
    void eventClicked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    QRectF plotArea(const QRectF &area) const;
    void drawMagnitudeTime(QPainter &painter, const QRectF &area) const;
    void drawFrequencyMagnitude(QPainter &painter, const QRectF &area) const;
    void drawDepths(QPainter &painter, const QRectF &area) const;
    void analyse();

    PlotsWidget::Plot m_kind;
    const std::vector<LocatedEvent> *m_events = nullptr;
    QStringList m_notes;
    // Ranges of what is shown.
    double m_firstTime = 0, m_lastTime = 1;
    double m_lowMagnitude = 0, m_highMagnitude = 1;
    std::vector<int> m_order;   // events drawn, by time
    std::vector<int> m_cumulative;   // events up to each of m_order
    Statistics::FrequencyMagnitude m_fmd;
    Statistics::GutenbergRichter m_fit;
    std::vector<int> m_depthCounts;
    double m_depthBin = 10;
};
