#pragma once

// The map drawn in layers, bottom to top: land and sea, the events, the
// selected event's ring, the legend and the credits. Each draws with a
// painter over an area in the viewport's pixels, and knows nothing of
// input; MapWidget stacks them and takes the mouse.

#include "app/shownresult.h"
#include "geo/crosssection.h"
#include "geo/hitgrid.h"
#include "geo/searchregion.h"
#include "geo/viewport.h"
#include "quakeml/quakeeventrecord.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QLineF>
#include <QPolygonF>
#include <QRectF>

#include <cmath>
#include <optional>
#include <unordered_map>
#include <vector>

class QPainter;

class MapLayer
{
public:
    virtual ~MapLayer() = default;
    virtual void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const = 0;
};

// An event's circle, as the section draws it: sized by magnitude and
// coloured by depth, hollow without a magnitude. The map draws the same
// circles lighter, so that the land shows between them: a dot of the
// depth's colour while small, a ring over a faint disc once large enough
// to read as one, and shrunk at a country's scale (EventScales::zoomFactor).
namespace EventSymbol {
// The location's value, when it has one (it holds NaN for none).
std::optional<double> known(float value);
double radius(const QuakeLocation &location);
void draw(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius);
// Below this radius the map draws a dot.
constexpr double DotBelow = 3.5;
// How opaque a ring's disc is.
constexpr int FaintAlpha = 90;
double mapRadius(const QuakeLocation &location, double zoom);
void drawOnMap(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius);
} // namespace EventSymbol

// Land on the sea: the shipped land's rings, projected once per projection.
class LandLayer : public MapLayer
{
public:
    void project(const Projection &projection);
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    std::vector<QPolygonF> m_rings;        // in km of the projection
    std::vector<QRectF> m_bounds;
};

// The events, a circle each, sized by magnitude and coloured by depth
// (geo/eventscales.h), the largest first so that no small event hides
// under a large one. Events without a magnitude are hollow, events without
// a depth grey, events without a position not drawn.
class EventLayer : public MapLayer
{
public:
    explicit EventLayer(const ShownResult &shown) : m_shown(shown) {}

    // Reads the result's events in a projection.
    void read(const Projection &projection);
    const std::vector<LocatedEvent> *events() const { return m_events; }
    int count() const { return m_events ? int(m_events->size()) : 0; }

    static bool hasPosition(const QuakeLocation &at);
    bool hasPosition(int index) const;
    QPointF kmOf(quint32 index) const { return QPointF(m_projected[index].x, m_projected[index].y); }
    // In pixels at a zoom factor (EventScales::zoomFactor).
    double radiusOf(quint32 index, double zoom) const;
    // The events with a position, in the order they are drawn.
    const std::vector<quint32> &drawOrder() const { return m_drawOrder; }
    // The largest radius at any zoom.
    double largestRadius() const { return m_largestRadius; }
    // The event drawn on top at the pixel, or -1; with how many others are there too.
    int eventAt(const QPointF &pixel, const Viewport &viewport, int *others) const;

    int withoutDepth() const { return m_withoutDepth; }
    int withoutMagnitude() const { return m_withoutMagnitude; }
    int withoutPosition() const { return m_withoutPosition; }
    // The members of clusters are not drawn (their mainshocks stand for
    // them): read again when the clusters change.
    void rearrange();
    int hiddenCount() const { return m_hiddenCount; }
    // Draws only the events of the time shown or before, and finds only
    // those.
    double until() const { return m_shown.until(); }
    bool isShownAt(quint32 index) const { return m_shown.isShown(index); }
    // Counts the changes of drawOrder(), for what is made from it.
    quint64 arrangement() const { return m_arrangement; }
    // What the layer keeps for its events, in bytes.
    qint64 bytes() const;

    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;
    // The events drawn, in time order (those without a time left out), and
    // those of them with times in (after, until].
    const std::vector<quint32> &byTime() const;
    std::pair<const quint32 *, const quint32 *> timesBetween(double after, double until) const;
    // Draws the events of times in (after, until], in time order.
    void renderTimes(QPainter &painter, const QRectF &area, const Viewport &viewport, double after, double until) const;
    // Makes the sprites that these events need and that are not made yet,
    // as render would; the window has them made while a search is read.
    void makeSprites(const std::vector<QuakeLocation> &events) const;

private:
    struct Projected
    {
        float x;   // km east of the projection's centre
        float y;   // km south
    };

    // Draws these events in turn, those after until() left out.
    void renderIndices(QPainter &painter, const QRectF &area, const Viewport &viewport, const quint32 *begin,
                       const quint32 *end) const;
    // What orders the drawing, lowest first: the largest magnitude first,
    // those without one last.
    float drawKey(quint32 index) const;
    // Each circle is drawn once per colour and size into a sheet of such
    // sprites, then copied from there.
    static constexpr double MaxSpriteRadius = 200;
    static constexpr quint32 NoSprite = 0x7FFFFFFF;
    static quint32 spriteKey(const QuakeLocation &location, double zoom);
    // Where a new sprite of this side goes, and on which sheet.
    QPoint placeSprite(int side, quint32 *sheet) const;
    struct OpenSheet
    {
        quint32 sheet;
        int y;   // where the next sprite goes
        int side;
    };

    const ShownResult &m_shown;
    const std::vector<LocatedEvent> *m_events = nullptr;   // as last read
    std::vector<Projected> m_projected;
    std::vector<quint32> m_drawOrder;      // larger magnitudes first
    HitGrid m_grid;                        // of m_projected
    int m_hiddenCount = 0;
    quint64 m_arrangement = 0;
    mutable std::vector<quint32> m_byTime;
    mutable quint64 m_byTimeArrangement = 0;
    double m_largestRadius = 0;
    int m_withoutDepth = 0;
    int m_withoutMagnitude = 0;
    int m_withoutPosition = 0;
    mutable std::vector<QImage> m_sheets;
    mutable std::vector<OpenSheet> m_openSheets;   // the last sheet of each side
    mutable std::unordered_map<quint32, QImage> m_sprites;   // by spriteKey, over m_sheets' pixels
    mutable double m_zoom = 1;             // as last drawn, for sprites made ahead
};

// A ring around the selected event, and an orange ring around each event
// marked (new, and not looked at yet).
class SelectionLayer : public MapLayer
{
public:
    SelectionLayer(const EventLayer &events, const ShownResult &shown) : m_events(events), m_shown(shown) {}
    // The result's selected event where it has a position, or -1.
    int selected() const
    {
        const int index = m_shown.selected();
        return index >= 0 && index < m_events.count() && m_events.hasPosition(index) ? index : -1;
    }
    // Rings the events following live marks new.
    const std::vector<int> &marked() const { return m_shown.added(); }
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

    static QColor markColour() { return QColor(255, 120, 0); }

private:
    const EventLayer &m_events;
    const ShownResult &m_shown;
};

// The region a search asks for, outlined, and a box being drawn.
class RegionLayer : public MapLayer
{
public:
    void setRegion(const SearchRegion &region) { m_region = region; }
    const SearchRegion &region() const { return m_region; }
    // In the widget's pixels; empty for none.
    void setRubberBand(const QRectF &band) { m_band = band; }
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    SearchRegion m_region;
    QRectF m_band;
};

// A cross-section's profile A–A′ and its swath, and a profile being drawn.
class SectionLayer : public MapLayer
{
public:
    void setSection(const std::optional<CrossSection> &section) { m_section = section; }
    const std::optional<CrossSection> &section() const { return m_section; }
    // In the widget's pixels; a null line for none.
    void setRubberLine(const QLineF &line) { m_line = line; }
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    std::optional<CrossSection> m_section;
    QLineF m_line;
};

// Top left: the magnitudes' circles at the map's zoom, the depth ramp, and
// how many events lack a depth, a magnitude or a position. Opaque, so that
// it reads the same over any map. Folded, it is one line that says so.
class LegendLayer : public MapLayer
{
    Q_DECLARE_TR_FUNCTIONS(LegendLayer)

public:
    explicit LegendLayer(const EventLayer &events) : m_events(events) {}
    void setFolded(bool folded) { m_folded = folded; }
    bool isFolded() const { return m_folded; }
    // Where the legend lies over the area.
    QRectF box(const QRectF &area, const QFontMetricsF &metrics) const;
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    QStringList counts() const;
    // What the folded legend says.
    static QString foldedText();

    const EventLayer &m_events;
    bool m_folded = false;
};

// Bottom right: where the land and the places come from.
class CreditsLayer : public MapLayer
{
    Q_DECLARE_TR_FUNCTIONS(CreditsLayer)

public:
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;
};
