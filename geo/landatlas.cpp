#include "geo/landatlas.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Arc = std::vector<QPointF>;

// A ring from its arcs; each arc after the first repeats the point that
// ended the one before.
bool appendRing(const QJsonArray &arcIndexes, const std::vector<Arc> &arcs, std::vector<QPolygonF> &rings)
{
    QPolygonF ring;
    for (const QJsonValue &value : arcIndexes) {
        if (!value.isDouble())
            return false;
        const int index = value.toInt();
        const bool reversed = index < 0;
        const std::size_t arc = std::size_t(reversed ? ~index : index);
        if (arc >= arcs.size())
            return false;
        const Arc &points = arcs[arc];
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (i == 0 && !ring.isEmpty())
                continue;
            ring << points[reversed ? points.size() - 1 - i : i];
        }
    }
    if (ring.size() >= 3)
        rings.push_back(ring);
    return true;
}

bool appendPolygon(const QJsonArray &polygon, const std::vector<Arc> &arcs, std::vector<QPolygonF> &rings)
{
    for (const QJsonValue &ring : polygon) {
        if (!ring.isArray() || !appendRing(ring.toArray(), arcs, rings))
            return false;
    }
    return true;
}

} // namespace

bool LandAtlas::nearNewZealand(const QRectF &degrees)
{
    const bool latitudes = degrees.top() <= -25 && degrees.bottom() >= -55;
    const bool east = degrees.right() >= 160;      // up to 180
    const bool west = degrees.left() <= -175;      // from -180
    return latitudes && (east || west);
}

bool LandAtlas::readTopoJson(const QByteArray &json, std::vector<QPolygonF> &rings, QString *error)
{
    QJsonParseError parseError;
    const QJsonObject topology = QJsonDocument::fromJson(json, &parseError).object();
    if (parseError.error != QJsonParseError::NoError || topology.value(QLatin1String("type")).toString() != u"Topology") {
        *error = QStringLiteral("not a TopoJSON topology");
        return false;
    }
    const QJsonObject transform = topology.value(QLatin1String("transform")).toObject();
    const QJsonArray scale = transform.value(QLatin1String("scale")).toArray();
    const QJsonArray translate = transform.value(QLatin1String("translate")).toArray();
    if (scale.size() != 2 || translate.size() != 2) {
        *error = QStringLiteral("the topology is not quantised (no transform)");
        return false;
    }
    const double sx = scale.at(0).toDouble(), sy = scale.at(1).toDouble();
    const double tx = translate.at(0).toDouble(), ty = translate.at(1).toDouble();

    std::vector<Arc> arcs;
    for (const QJsonValue &arcValue : topology.value(QLatin1String("arcs")).toArray()) {
        Arc arc;
        qint64 x = 0, y = 0;   // delta-encoded: each position adds to the one before
        for (const QJsonValue &position : arcValue.toArray()) {
            const QJsonArray delta = position.toArray();
            x += qint64(delta.at(0).toDouble());
            y += qint64(delta.at(1).toDouble());
            arc.emplace_back(double(x) * sx + tx, double(y) * sy + ty);
        }
        arcs.push_back(std::move(arc));
    }

    const QJsonObject land = topology.value(QLatin1String("objects")).toObject().value(QLatin1String("land")).toObject();
    QJsonArray geometries = land.value(QLatin1String("geometries")).toArray();
    if (land.value(QLatin1String("type")).toString() != u"GeometryCollection")
        geometries = QJsonArray { land };
    for (const QJsonValue &value : geometries) {
        const QJsonObject geometry = value.toObject();
        const QString type = geometry.value(QLatin1String("type")).toString();
        const QJsonArray parts = geometry.value(QLatin1String("arcs")).toArray();
        bool ok = true;
        if (type == u"Polygon") {
            ok = appendPolygon(parts, arcs, rings);
        } else if (type == u"MultiPolygon") {
            for (const QJsonValue &polygon : parts)
                ok = ok && appendPolygon(polygon.toArray(), arcs, rings);
        }
        if (!ok) {
            *error = QStringLiteral("a polygon names an arc that is not there");
            return false;
        }
    }
    if (rings.empty()) {
        *error = QStringLiteral("no land object with polygons");
        return false;
    }
    return true;
}

bool LandAtlas::load(const QString &folder, QString *error)
{
    m_rings.clear();
    for (const char *name : { "land-10m.json", "land-50m.json" }) {
        const bool fine = QLatin1String(name) == QLatin1String("land-10m.json");
        QFile file(folder + u'/' + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        std::vector<QPolygonF> rings;
        if (!readTopoJson(file.readAll(), rings, error)) {
            *error = QStringLiteral("%1: %2").arg(file.fileName(), *error);
            return false;
        }
        for (QPolygonF &ring : rings) {
            if (nearNewZealand(ring.boundingRect()) == fine)
                m_rings.push_back(std::move(ring));
        }
    }
    return true;
}
