#pragma once

// The land of Harvix's map, from Natural Earth's polygons as the npm
// package world-atlas ships them in TopoJSON (data/naturalearth/): the
// 1:10 m land around New Zealand, where the map is looked at closest, and
// the 1:50 m land everywhere else. Rings are in degrees (x longitude, y
// latitude); world-atlas cuts them at 180°, so each can be moved by whole
// turns as one.

#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <vector>

class LandAtlas
{
public:
    // Where the finer land is drawn: 160° E to 175° W, 55° S to 25° S.
    static bool nearNewZealand(const QRectF &degrees);

    // The rings of the "land" object of a world-atlas TopoJSON document:
    // its arcs are quantised and delta-encoded, and a ring lists its arcs,
    // ~i for arc i reversed. False with a reason for anything else.
    static bool readTopoJson(const QByteArray &json, std::vector<QPolygonF> &rings, QString *error);

    // Reads land-10m.json and land-50m.json from the folder.
    bool load(const QString &folder, QString *error);
    const std::vector<QPolygonF> &rings() const { return m_rings; }

private:
    std::vector<QPolygonF> m_rings;
};
