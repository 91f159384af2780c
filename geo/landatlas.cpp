#include "geo/landatlas.h"

#include <algorithm>
#include <cmath>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <cstdlib>

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

// The value of the topology's own "arcs" member: where it begins and ends in
// the text, found without building a document of the whole (its arcs are
// nearly all of it, and as JSON values would take ten times the memory).
bool findTopLevelArcs(const QByteArray &json, qsizetype &begin, qsizetype &end)
{
    int depth = 0;
    qsizetype keyStart = -1;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            keyStart = depth == 1 ? start : -1;
            continue;
        }
        if (c == ':' && keyStart >= 0 && json.mid(keyStart, i - keyStart).trimmed() == "\"arcs\"") {
            qsizetype at = i + 1;
            while (at < json.size() && json[at] != '[' && std::isspace(static_cast<unsigned char>(json[at])))
                ++at;
            if (at >= json.size() || json[at] != '[')
                return false;
            int nesting = 0;
            for (qsizetype j = at; j < json.size(); ++j) {
                if (json[j] == '[')
                    ++nesting;
                else if (json[j] == ']' && --nesting == 0) {
                    begin = at;
                    end = j + 1;
                    return true;
                }
            }
            return false;
        }
        if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            --depth;
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            keyStart = c == ':' ? keyStart : -1;
    }
    return false;
}

// The arcs, [[[x, y], [dx, dy], ...], ...], delta-encoded whole numbers.
bool readArcs(const char *text, const char *end, double sx, double sy, double tx, double ty, std::vector<Arc> &arcs)
{
    int depth = 0;
    qint64 x = 0, y = 0, values[2] = { 0, 0 };
    int count = 0;
    for (const char *p = text; p < end; ++p) {
        const char c = *p;
        if (c == '[') {
            ++depth;
            if (depth == 2) {
                arcs.emplace_back();
                x = y = 0;
            }
            count = 0;
        } else if (c == ']') {
            if (depth == 3) {
                if (count != 2)
                    return false;
                x += values[0];
                y += values[1];
                arcs.back().emplace_back(double(x) * sx + tx, double(y) * sy + ty);
            }
            --depth;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            if (depth != 3 || count == 2)
                return false;
            char *after = nullptr;
            values[count++] = std::strtoll(p, &after, 10);
            p = after - 1;
        } else if (c != ',' && !std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return depth == 0;
}

} // namespace

bool LandAtlas::nearNewZealand(const QPolygonF &ring)
{
    // By its points, not its bounds: Afro-Eurasia's bounds reach from
    // Africa's southern tip to Chukotka at 180°, yet it is nowhere near.
    return std::any_of(ring.begin(), ring.end(), [](const QPointF &point) {
        return point.y() <= -25 && point.y() >= -55 && (point.x() >= 160 || point.x() <= -175);
    });
}

bool LandAtlas::readTopoJson(const QByteArray &json, std::vector<QPolygonF> &rings, QString *error)
{
    // The arcs are read by hand; the rest, small, as a JSON document.
    qsizetype arcsBegin = 0, arcsEnd = 0;
    if (!findTopLevelArcs(json, arcsBegin, arcsEnd)) {
        *error = QStringLiteral("not a TopoJSON topology");
        return false;
    }
    QJsonParseError parseError;
    const QJsonObject topology
        = QJsonDocument::fromJson(json.left(arcsBegin) + "[]" + json.mid(arcsEnd), &parseError).object();
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
    if (!readArcs(json.constData() + arcsBegin, json.constData() + arcsEnd, sx, sy, tx, ty, arcs)) {
        *error = QStringLiteral("the arcs are not lists of whole-number positions");
        return false;
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

namespace {

// world-atlas stitches Natural Earth's pieces back together across 180°, so
// a ring may step from 179.9° to -179.9°. Each ring is made continuous (its
// longitudes may then run past ±180°; a map moves it by whole turns as
// one). A ring around a pole (Antarctica) is continued for a second turn
// and closed along the pole, so that it covers a map of any width wherever
// the map is centred.
void makeContinuous(QPolygonF &ring)
{
    double offset = 0;
    for (qsizetype i = 1; i < ring.size(); ++i) {
        const double step = ring[i].x() + offset - ring[i - 1].x();
        if (step > 180)
            offset -= 360;
        else if (step < -180)
            offset += 360;
        ring[i].rx() += offset;
    }
    if (ring.size() < 2 || std::fabs(ring.back().x() - ring.front().x()) < 180)
        return;
    const double turn = ring.back().x() > ring.front().x() ? 360 : -360;
    double latitudes = 0;
    const qsizetype points = ring.size();
    for (qsizetype i = 0; i < points; ++i)
        latitudes += ring[i].y();
    for (qsizetype i = 1; i < points; ++i)
        ring << QPointF(ring[i].x() + turn, ring[i].y());
    const double pole = latitudes < 0 ? -90 : 90;
    ring << QPointF(ring.back().x(), pole) << QPointF(ring.front().x(), pole) << ring.front();
}

} // namespace

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
            if (nearNewZealand(ring) == fine) {
                makeContinuous(ring);
                m_rings.push_back(std::move(ring));
            }
        }
    }
    return true;
}
