#pragma once

// What names the map: its towns and a bar of its scale.
//
// PlacesLayer names the shipped places in view, the most populous first,
// each where its name covers no other name, the legend, the scale bar or
// the credits; a place searched around is named before all others. How
// many are named follows the map's size, so that a country shows its
// cities and a district its towns.
//
// ScaleBarLayer, bottom left: a bar of a round number of kilometres (1, 2
// or 5 times a power of ten), about a fifth of the map wide.

#include "app/maplayers.h"
#include "geo/places.h"

#include <QCoreApplication>
#include <QFont>
#include <QHash>
#include <QImage>

#include <optional>
#include <vector>

class ScaleBarLayer : public MapLayer
{
    Q_DECLARE_TR_FUNCTIONS(ScaleBarLayer)

public:
    // The bar's length in km at a scale, for a map of this width.
    static double kilometres(double pixelsPerKm, double mapWidth);
    // Where the bar and its label lie over the area.
    QRectF box(const QRectF &area, const QFontMetricsF &metrics, double pixelsPerKm) const;
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;
};

class PlacesLayer : public MapLayer
{
public:
    PlacesLayer(const LegendLayer &legend, const ScaleBarLayer &scaleBar) : m_legend(legend), m_scaleBar(scaleBar) {}

    void project(const Projection &projection);
    // Named first whenever in view: the place of a search around it; null
    // for none.
    void setFirst(const Places::Place *place) { m_first = place; }

    struct Label
    {
        QString name;
        QPointF at;       // the place's dot
        QRectF box;       // where its name is written
        bool city;        // of 100,000 people or more: in bold
    };
    // The names the area shows, where they go.
    std::vector<Label> labels(const QRectF &area, const Viewport &viewport, const QFont &font) const;
    void render(QPainter &painter, const QRectF &area, const Viewport &viewport) const override;

private:
    struct Projected
    {
        const Places::Place *place;
        QPointF km;
    };

    // A name with its halo, drawn once and then copied.
    const QImage &sprite(const Label &label, const QFont &font) const;

    const LegendLayer &m_legend;
    const ScaleBarLayer &m_scaleBar;
    std::vector<Projected> m_places;   // most populous first
    const Places::Place *m_first = nullptr;
    // The names of the view last drawn, and where they went.
    struct Layout
    {
        QRectF area;
        double scale = 0;
        QPointF offset;
        const Places::Place *first = nullptr;
        QFont font;
        bool legendFolded = false;
        std::vector<Label> labels;
    };
    mutable std::optional<Layout> m_layout;
    mutable QHash<QString, QImage> m_sprites;
};
