#pragma once

// MapWidget draws the events of the shown search on land and sea: circles
// sized on one fixed magnitude scale and coloured on one fixed depth ramp
// (geo/eventscales.h), larger events over smaller ones, with legends and
// credits. Events without a magnitude are hollow, events without a depth
// grey; both are counted in the legend, and so are events without a
// position, the only ones not drawn.
//
// The projection (geo/projection.h) is centred on the events; zoom and pan
// change only the scale and offset from kilometres to pixels, so that they
// redraw from what the map holds. The wheel zooms about the pointer,
// dragging pans; hovering names the event under the pointer, a click
// reports it. An event can be marked with a ring.

#include "geo/hitgrid.h"
#include "geo/viewport.h"
#include "quakeml/quakeeventrecord.h"

#include <QPointF>
#include <QPolygonF>
#include <QImage>
#include <QFontMetricsF>
#include <QWidget>

#include <unordered_map>

#include <vector>

class LandAtlas;
class Places;

class MapWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MapWidget(QWidget *parent = nullptr);
    ~MapWidget() override;

    // Shows these events, fitted; they must stay until clear() or the next
    // setEvents. Null or empty: New Zealand without events.
    void setEvents(const std::vector<LocatedEvent> *events);
    void clear() { setEvents(nullptr); }
    int eventCount() const { return m_events ? int(m_events->size()) : 0; }

    // -1 for none. Marks the event and pans to it when it is off screen.
    void setSelectedEvent(int index);
    int selectedEvent() const { return m_selected; }

    // The largest event whose circle holds the point, or -1; with how many
    // others are there too.
    int eventAt(const QPointF &position, int *others = nullptr) const;
    // Where an event is drawn, in the widget's coordinates.
    QPointF positionOf(int index) const;
    // Where the legend covers the map, in the widget's pixels.
    QRectF legendRect() const { return legendBox(rect(), QFontMetricsF(font())); }
    // Id, local time, magnitude, depth and place, a line each.
    QString describe(int index) const;
    // "12 km NE of Taupo"; empty when the event has no position.
    QString placeOf(int index) const;

    // Counts that the legend shows.
    int withoutDepth() const { return m_withoutDepth; }
    int withoutMagnitude() const { return m_withoutMagnitude; }
    int withoutPosition() const { return m_withoutPosition; }

    const Projection &projection() const { return m_viewport.projection(); }
    // What the map keeps for its events, in bytes (land and places aside).
    qint64 eventBytes() const;
    // Pixels per kilometre.
    double scale() const { return m_viewport.scale(); }

    // Writes what the map shows, legends and credits included, as PNG or
    // SVG by the file's suffix; false with a reason.
    bool save(const QString &path, QString *error) const;

public slots:
    void fitToEvents();

signals:
    void eventClicked(int index);
    // The event under the pointer, -1 when it leaves all.
    void eventHovered(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct Projected
    {
        float x;   // km east of the projection's centre
        float y;   // km south
    };

    void draw(QPainter &painter, const QRectF &area) const;
    static void drawCircle(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius);
    // An event's circle as a small image, made once per colour and size.
    const QImage &spriteFor(const QuakeLocation &location) const;
    void drawLegend(QPainter &painter, const QRectF &area) const;
    // Where the legend lies over the map, and the counts it lists.
    QRectF legendBox(const QRectF &area, const QFontMetricsF &metrics) const;
    QStringList legendCounts() const;
    void drawLand(QPainter &painter, const QRectF &area) const;
    void projectLand();
    QPointF toScreen(const Projected &point) const;
    static bool hasPosition(const QuakeLocation &at);
    // What orders the drawing: by magnitude, those without one first.
    float drawKey(quint32 index) const;
    bool hasPosition(int index) const;

    const std::vector<LocatedEvent> *m_events = nullptr;
    std::vector<Projected> m_projected;
    std::vector<quint32> m_drawOrder;      // smaller magnitudes first
    std::vector<QPolygonF> m_land;         // rings in km of this projection
    std::vector<QRectF> m_landBounds;
    mutable std::unordered_map<quint32, QImage> m_sprites;
    Viewport m_viewport;
    HitGrid m_grid;                        // of m_projected
    double m_largestRadius = 0;            // of the circles drawn
    int m_selected = -1;
    int m_withoutDepth = 0;
    int m_withoutMagnitude = 0;
    int m_withoutPosition = 0;
    bool m_fitted = false;
    QPointF m_pressedAt;
    QPointF m_offsetAtPress;
    bool m_dragging = false;
};
