#pragma once

// A cross-section: the events in a profile's swath (geo/crosssection.h),
// depth downwards against distance along A–A′, drawn as the map draws them
// (sized by magnitude, coloured by depth). Both axes are in kilometres on
// one scale, or the depth is stretched by a whole factor that the plot
// states, so that a slab's dip reads true.

#include "app/plotcanvas.h"
#include "geo/crosssection.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

class SectionPlot : public PlotCanvas
{
    Q_OBJECT

public:
    // The result's profile; without one the plot is empty. The events whose
    // depth the agency fixed rather than located are marked, and are no
    // measure of the depth axis.
    explicit SectionPlot(const ShownResult *shown, QWidget *parent = nullptr);

    const std::optional<CrossSection> &section() const { return shown()->section(); }

    // An event in the swath, where it is drawn.
    struct Placed
    {
        int index;
        double alongKm;
        double depthKm;
        bool fixedDepth = false;
    };
    // In drawing order: smaller magnitudes first.
    const std::vector<Placed> &placed() const { return m_placed; }
    // How many times the depth axis is stretched against the distance axis.
    int exaggeration() const { return scaleIn(PlotCanvas::plotArea(rect())).factor; }

    int eventAt(const QPointF &position) const override;
    QPointF positionOf(int index) const override;

protected:
    void analyse(const std::vector<LocatedEvent> &events, QStringList &notes) override;
    void clear() override;
    void drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const override;
    // As much of the room as the profile's length and the deepest event
    // take at the plot's scale: the axes end there.
    QRectF plotArea(const QRectF &area) const override;

private:
    // Pixels per kilometre across and down in this plot's frame, and the
    // whole factor by which down is stretched.
    struct Scale
    {
        double across;
        double down;
        int factor;
    };
    // In the room the plot has (PlotCanvas::plotArea), not the frame it takes.
    Scale scaleIn(const QRectF &room) const;
    QPointF positionIn(const QRectF &plot, const Scale &scale, const Placed &placed) const;

    std::vector<Placed> m_placed;
    double m_topKm = 0;      // the depths the frame spans, at least
    double m_bottomKm = 10;
};
