#pragma once

// RegionBar: where a search looks, a bar under the menus. A kind (the
// whole service, the map's view, a box drawn on the map, around a place),
// a depth range and the half-width of a cross-section; what they ask of
// the service and say in words. All of it is remembered between runs.

#include "geo/crosssection.h"
#include "geo/searchregion.h"

#include <QToolBar>

#include <functional>
#include <optional>
#include <utility>

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

class RegionBar : public QToolBar
{
    Q_OBJECT

public:
    // The choices of regionCtrl, in its order.
    enum Kind { WholeService, MapView, DrawnBox, AroundPlace };

    // mapView tells what the map shows, for the kind that searches it.
    explicit RegionBar(std::function<std::optional<SearchRegion::Box>()> mapView, QWidget *parent = nullptr);

    Kind kind() const;
    // The region the controls choose, and in words ("within 50 km of
    // Christchurch"), empty for the whole service.
    SearchRegion region(QString *words = nullptr) const;
    // Why the controls name no region yet, or nothing when they do.
    QString problem() const;
    // The profile last drawn, with the half-width the control holds.
    std::optional<CrossSection> section() const;
    // The place field, whose completer knows the shipped places.
    QLineEdit *placeField() const { return m_place; }

    void setDrawnBox(const SearchRegion::Box &box);
    void setSectionEnds(const GeoPoint &a, const GeoPoint &b);
    // Around this point, at the radius given or the one the control holds
    // (which shows hundredths of a kilometre); the place field shows the
    // point, and the search takes the numbers, not the text.
    void setAround(const GeoPoint &point, std::optional<double> radiusKm = std::nullopt);
    // The same, then asks for the search.
    void searchAround(const GeoPoint &point);
    // Shows a region: around its circle, in its box, or anywhere, at its
    // depths.
    void show(const SearchRegion &region);
    // "-41.2900, 174.7800": a point as the place field shows it.
    static QString pointText(const GeoPoint &point);
    // The whole service again, at any depth.
    void clear();
    // Tells the outline and the section as they are now.
    void announce();

signals:
    void regionChanged();
    // The region to outline on the map: any but the map's view, which is
    // outlined once a search takes it.
    void outlineChanged(const SearchRegion &region);
    void sectionChanged(const CrossSection &section);
    // Enter in the place field.
    void searchRequested();

private:
    void remember() const;
    void emitSection(bool remember);

    std::function<std::optional<SearchRegion::Box>()> m_mapView;
    QComboBox *m_kind;
    QLineEdit *m_place;
    QDoubleSpinBox *m_radius;
    QSpinBox *m_minDepth;
    QSpinBox *m_maxDepth;
    QSpinBox *m_halfWidth;
    std::optional<SearchRegion::Box> m_drawnBox;
    // The point the place field names and its name, found once as it is
    // typed, or given.
    std::optional<std::pair<GeoPoint, QString>> m_around;
    bool m_givingPoint = false;
    // A and A′ of the cross-section drawn last.
    std::optional<std::pair<GeoPoint, GeoPoint>> m_sectionEnds;
};
