#pragma once

// The land of Harvix's map, from Natural Earth's polygons as the npm
// package world-atlas ships them in TopoJSON (data/naturalearth/): the
// 1:10 m land around New Zealand, where the map is looked at closest, and
// the 1:50 m land everywhere else. Rings are in degrees (x longitude, y
// latitude), each continuous: a ring that crosses 180° runs past it rather
// than jumping to -180°, and one around a pole is closed along the pole, so
// that a map moves each by whole turns as one.

#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <vector>

class LandAtlas
{
public:
    // Where the finer land is drawn: rings with a point from 160° E to
    // 175° W and 55° S to 25° S (in degrees as read, within ±180°).
    static bool nearNewZealand(const QPolygonF &ring);

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
