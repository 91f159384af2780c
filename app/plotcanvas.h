#pragma once

// PlotCanvas is what every plot of PlotsWidget shares: the frame, the
// notes at its top right, the tooltip and click on an event's dot, and
// drawing to a painter for the screen or a file. Each plot is a subclass
// that reads the shown result's events (app/shownresult.h) once (analyse)
// and draws from what it kept; it reads them again when the result, its
// clusters or the time shown change.

#include "app/shownresult.h"
#include "quakeml/quakeeventrecord.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <cmath>
#include <functional>
#include <vector>

class PlotCanvas : public QWidget
{
    Q_OBJECT

public:
    // Shows what the result shows, which must outlive the plot. A plot with
    // a time axis keeps its axes while the time shown changes and draws a
    // line at the time; the others read the events again.
    explicit PlotCanvas(const ShownResult *shown, QWidget *parent = nullptr);

    const ShownResult *shown() const { return m_shown; }
    double until() const { return m_shown->until(); }
    // How many events are shown (kept, and of the time shown or before).
    int shownCount() const { return m_shownCount; }
    // What the plot says about the events it cannot show ("12 events
    // without depth not shown"), and whatever figures it gives.
    QStringList notes() const { return m_notes; }
    // The event whose dot holds the point, or -1 (for plots of single events).
    virtual int eventAt(const QPointF &position) const;
    // Where an event's dot is drawn, in the widget's coordinates; a null
    // point for none.
    virtual QPointF positionOf(int index) const;
    // The event whose dot is ringed, where the plot draws one.
    int selectedEvent() const { return m_shown->selected(); }
    // Draws the plot, its notes and key too unless asked not to.
    void draw(QPainter &painter, const QRectF &area, bool withNotes = true) const;
    // Where the notes and the key go in an area: the corner of the frame
    // where the least of the plot is drawn, the top right on a tie.
    QRectF notesBox(const QRectF &area) const;
    // The frame of the plot in the widget.
    QRectF frame() const { return plotArea(rect()); }

signals:
    void eventClicked(int index);

protected:
    // Reads the events (never null) for drawing, and adds its notes.
    virtual void analyse(const std::vector<LocatedEvent> &events, QStringList &notes) = 0;
    // Forgets what analyse kept.
    virtual void clear() = 0;
    // Draws the plot inside its frame (plot), with its axes in the area.
    virtual void drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const = 0;
    // Room on the right of the frame, for a second axis.
    virtual double rightMargin() const { return 16; }
    // What the marks of the plot mean, shown under the notes: a text each,
    // with a swatch drawn in the rectangle given.
    struct KeyEntry
    {
        QString text;
        std::function<void(QPainter &, const QRectF &)> swatch;
    };
    virtual QList<KeyEntry> key() const { return {}; }

    // The frame of the plot in an area; a plot whose axes keep one scale
    // may take less than the room there is.
    virtual QRectF plotArea(const QRectF &area) const;
    const std::vector<LocatedEvent> *events() const { return m_shown->events(); }
    // Whether the event at the index is kept (not hidden), and whether it
    // is also of the time shown or before.
    bool isKept(std::size_t index) const { return !m_shown->isHidden(index); }
    bool isShown(std::size_t index) const { return m_shown->isShown(index); }
    // Whether the plot cuts its events at until() as it draws them, keeping
    // what it read of all of them (its axes).
    virtual bool drawsUntil() const { return false; }

    // "1 event", "312 events".
    static QString eventsText(int count);
    // An axis title written upwards beside a plot (left of it, angle -90) or
    // downwards (right of it, angle 90), centred on the plot's height.
    static void drawAxisTitle(QPainter &painter, double x, double centreY, int angle, const QString &title);

    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

    // Reads the events again.
    void reanalyse();
    int countShown() const;

private:
    const ShownResult *m_shown;
    int m_shownCount = 0;
    QStringList m_notes;
    // The notes' box for the area last asked, until the data change.
    mutable QRectF m_notesArea;
    mutable QRectF m_notesBox;
};
