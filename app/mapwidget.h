#pragma once

// MapWidget draws the events of the shown search on land and sea: circles
// sized on one magnitude scale for each zoom and coloured on one fixed
// depth ramp (geo/eventscales.h), the largest drawn first so that smaller
// ones stay in sight, with town names, a scale bar, a legend that folds
// with a click, and credits. Events without a magnitude are hollow, events without a depth
// grey; both are counted in the legend, and so are events without a
// position, the only ones not drawn.
//
// The projection (geo/projection.h) is centred on the events; zoom and pan
// change only the viewport's scale and offset (geo/viewport.h), so that
// they redraw from what the map holds. What is drawn is in layers
// (app/maplayers.h); the widget takes the input: the wheel zooms about the
// pointer, dragging pans, Shift and drag draws a box, and a drag after
// startSection() draws a cross-section's profile; hovering names the
// event under the pointer, a click reports it. An event can be marked with
// a ring, and a search's region and a section are outlined.

#include "app/mapflashes.h"
#include "app/maplabels.h"
#include "app/maplayers.h"
#include "geo/viewport.h"
#include "quakeml/quakeeventrecord.h"

#include <QPointF>
#include <QFontMetricsF>
#include <QWidget>

#include <optional>
#include <utility>

#include <vector>

class MapWidget : public QWidget
{
    Q_OBJECT

public:
    // Shows the result's events, fitted, or in the view the map has when
    // the result keeps it; New Zealand without events. The result must
    // outlive the map.
    explicit MapWidget(const ShownResult *shown, QWidget *parent = nullptr);
    ~MapWidget() override;

    const ShownResult *shown() const { return m_shown; }
    // Readies what drawing these events will take, ahead of their result.
    void prepareFor(const std::vector<QuakeLocation> &events) const { m_events.makeSprites(events); }
    int eventCount() const { return m_events.count(); }

    // The selected event, where it has a position; the map pans to it when
    // it is selected off screen.
    int selectedEvent() const { return m_selection.selected(); }
    // The members of clusters, whose mainshocks stand for them, are not drawn.
    int hiddenCount() const { return m_events.hiddenCount(); }
    // Played through time: only the events of that time or before, those of
    // the last flash span flashing. The view stays.
    double timeShown() const { return m_events.until(); }
    const FlashLayer &flashes() const { return m_flashes; }
    // Ringed in orange: new events, not looked at yet.
    const std::vector<int> &markedEvents() const { return m_selection.marked(); }

    // The event drawn on top whose circle holds the point, or -1; with how
    // many others are there too.
    int eventAt(const QPointF &position, int *others = nullptr) const;
    // Where an event is drawn, in the widget's coordinates.
    QPointF positionOf(int index) const;
    // The towns named, where their names are written.
    std::vector<PlacesLayer::Label> placeLabels() const { return m_places.labels(rect(), m_viewport, font()); }
    // The scale bar's length in km, and where it lies.
    double scaleBarKm() const { return ScaleBarLayer::kilometres(m_viewport.scale(), width()); }
    QRectF scaleBarRect() const { return m_scaleBar.box(rect(), QFontMetricsF(font()), m_viewport.scale()); }
    // Where the legend covers the map, in the widget's pixels.
    QRectF legendRect() const { return m_legend.box(rect(), QFontMetricsF(font())); }
    // Folded, the legend is one line; a click on it does the same.
    // Remembered.
    void setLegendFolded(bool folded);
    bool isLegendFolded() const { return m_legend.isFolded(); }
    // Id, local time, magnitude, depth and place, a line each.
    QString describe(int index) const;
    // "12 km NE of Taupo"; empty when the event has no position.
    QString placeOf(int index) const;

    // Counts that the legend shows.
    int withoutDepth() const { return m_events.withoutDepth(); }
    int withoutMagnitude() const { return m_events.withoutMagnitude(); }
    int withoutPosition() const { return m_events.withoutPosition(); }

    const Projection &projection() const { return m_viewport.projection(); }
    // What the map keeps for its events, in bytes (land and places aside).
    qint64 eventBytes() const { return m_events.bytes(); }
    // Pixels per kilometre.
    double scale() const { return m_viewport.scale(); }

    // The part of the projection the map shows, in km; shown by another map
    // of the same events (fitted into its own size), the same view.
    QRectF shownKm() const { return QRectF(m_viewport.toKm(QPointF(0, 0)), m_viewport.toKm(QPointF(width(), height()))).normalized(); }
    void showKm(const QRectF &km);
    // Puts the point in the middle of the map, at the same scale.
    void centreOn(const GeoPoint &point);
    // Puts a place in the middle of the map, shown about kmAcross wide
    // around it, marked with its name until another search is shown.
    void showPlace(const GeoPoint &point, const QString &name, double kmAcross = 300);
    // Where events were that following live saw withdrawn: crossed out.
    const std::vector<GeoPoint> &withdrawn() const { return m_shown->withdrawn(); }
    // Arrows on the map's edge towards the marked events it does not show,
    // where they are drawn.
    std::vector<QPointF> pointersToMarked() const;
    // The place marked, if any.
    const std::optional<std::pair<GeoPoint, QString>> &markedPlace() const { return m_place; }
    // Outlines the region (nothing for the whole world).
    void setRegion(const SearchRegion &region);
    // The result's cross-section is outlined as a swath, with its ends named
    // A and A′.
    // The next drag draws a profile from A, where it starts, to A′; Escape
    // leaves it undone.
    void startSection();
    bool isDrawingSection() const { return m_sectionNext; }
    // The place under one of the widget's points.
    GeoPoint pointAt(const QPointF &position) const;
    // Where a place is drawn, on the copy of the world nearest the centre.
    QPointF positionOf(const GeoPoint &point) const;
    // The longitudes and latitudes that the map shows.
    SearchRegion::Box visibleBox() const;

    // Draws what the map shows, legends and credits included, into an area
    // of its size.
    void draw(QPainter &painter, const QRectF &area) const;
    // Writes what the map shows, legends and credits included, as PNG or
    // SVG by the file's suffix; false with a reason.
    bool save(const QString &path, QString *error) const;

public slots:
    // Fits the region searched, when one is outlined, else the events.
    void fitToEvents();

signals:
    void eventClicked(int index);
    // The event under the pointer, -1 when it leaves all.
    void eventHovered(int index);
    // A box drawn with Shift and drag.
    void boxDrawn(const SearchRegion::Box &box);
    // A profile drawn after startSection.
    void sectionDrawn(const GeoPoint &a, const GeoPoint &b);
    // The context menu asked for over a place (at a global position).
    void pointMenuRequested(const GeoPoint &point, const QPoint &globalPosition);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;

private:
    // The box between two of the widget's points.
    SearchRegion::Box boxBetween(const QPointF &from, const QPointF &to) const;
    void readEvents();
    void panToSelected();

    const ShownResult *m_shown;
    Viewport m_viewport;
    LandLayer m_land;
    EventLayer m_events { *m_shown };
    FlashLayer m_flashes { m_events, *m_shown };
    PlayedLayer m_played { m_land, m_events };
    RegionLayer m_region;
    SectionLayer m_section;
    SelectionLayer m_selection { m_events, *m_shown };
    LegendLayer m_legend { m_events };
    ScaleBarLayer m_scaleBar;
    PlacesLayer m_places { m_legend, m_scaleBar };
    CreditsLayer m_credits;
    // The outline of the region searched, if it has a box or a circle.
    std::vector<GeoPoint> regionOutline() const;

    std::optional<std::pair<GeoPoint, QString>> m_place;
    bool m_fitted = false;
    QPointF m_pressedAt;
    QPointF m_offsetAtPress;
    bool m_dragging = false;
    bool m_drawingBox = false;
    bool m_sectionNext = false;      // the next drag draws a profile
    bool m_drawingSection = false;
    bool m_onLegend = false;         // pressed on the legend
};
