#include "http/svgmap.h"

#include "geo/eventscales.h"
#include "geo/landatlas.h"
#include "geo/ticks.h"
#include "geo/shippeddata.h"

#include <QColor>
#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <unordered_map>

namespace {

constexpr int MapWidth = 720;
constexpr int MapHeight = 480;

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string out = text;
    if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0)
        out.resize(out.size() - 2);
    return out == "-0" ? "0" : out;
}

std::string colourOf(const std::optional<double> &depthKm)
{
    return EventScales::colourOf(depthKm).name().toStdString();
}

using EventScales::radiusOf;

// Dots as paths, one a colour and size: "M x y h0" with round caps draws a
// disc of the stroke's width, a few bytes an event.
class Dots
{
public:
    // whole: positions to the pixel, where events are binned anyway.
    explicit Dots(bool whole = false) : m_whole(whole) {}

    void add(const std::string &colour, double radius, double x, double y)
    {
        std::string &path = m_paths[{ colour, number(radius * 2) }];
        path += 'M';
        path += m_whole ? std::to_string(std::lround(x)) : number(x);
        path += ' ';
        path += m_whole ? std::to_string(std::lround(y)) : number(y);
        path += "h0";
    }

    std::string svg() const
    {
        std::string out;
        for (const auto &[key, path] : m_paths) {
            out += "<path fill=\"none\" stroke-linecap=\"round\" stroke=\"" + key.first + "\" stroke-width=\""
                + key.second + "\" d=\"" + path + "\"/>";
        }
        return out;
    }

private:
    bool m_whole;
    std::map<std::pair<std::string, std::string>, std::string> m_paths;
};

// A ring cut to a rectangle (Sutherland and Hodgman): what lies outside is
// replaced by the rectangle's edge, so that the fill inside stays exact.
std::vector<QPointF> clipped(std::vector<QPointF> ring, const QRectF &box)
{
    for (int side = 0; side < 4 && !ring.empty(); ++side) {
        const auto inside = [&](const QPointF &p) {
            switch (side) {
            case 0: return p.x() >= box.left();
            case 1: return p.x() <= box.right();
            case 2: return p.y() >= box.top();
            default: return p.y() <= box.bottom();
            }
        };
        const auto crossing = [&](const QPointF &a, const QPointF &b) {
            const double edge = side == 0 ? box.left() : side == 1 ? box.right() : side == 2 ? box.top() : box.bottom();
            const double t = side < 2 ? (edge - a.x()) / (b.x() - a.x()) : (edge - a.y()) / (b.y() - a.y());
            return a + (b - a) * t;
        };
        std::vector<QPointF> out;
        out.reserve(ring.size());
        QPointF previous = ring.back();
        for (const QPointF &point : ring) {
            if (inside(point)) {
                if (!inside(previous))
                    out.push_back(crossing(previous, point));
                out.push_back(point);
            } else if (inside(previous)) {
                out.push_back(crossing(previous, point));
            }
            previous = point;
        }
        ring = std::move(out);
    }
    return ring;
}

// The largest event of each cell of the picture, from events met one at a
// time: as many kept as there are cells at most, whatever their number.
class Cells
{
public:
    explicit Cells(int cell) : m_cell(cell) {}

    void add(const SvgEvent &event, const QPointF &at)
    {
        const std::int64_t key
            = std::int64_t(std::floor(at.x() / m_cell)) * 100000 + std::int64_t(std::floor(at.y() / m_cell));
        const auto [found, added] = m_index.emplace(key, m_kept.size());
        if (added)
            m_kept.emplace_back(event, at);
        else if (event.magnitude.value_or(-99) > m_kept[found->second].first.magnitude.value_or(-99))
            m_kept[found->second] = { event, at };
    }

    // Small ones first, under the large ones.
    std::vector<std::pair<SvgEvent, QPointF>> largest()
    {
        std::stable_sort(m_kept.begin(), m_kept.end(), [](const auto &a, const auto &b) {
            return a.first.magnitude.value_or(-99) < b.first.magnitude.value_or(-99);
        });
        return std::move(m_kept);
    }

private:
    int m_cell;
    std::unordered_map<std::int64_t, std::size_t> m_index;
    std::vector<std::pair<SvgEvent, QPointF>> m_kept;
};

} // namespace

namespace SvgMap {

EventSource eventsOf(const std::vector<SvgEvent> &events)
{
    return [&events](const std::function<void(const SvgEvent &)> &take) {
        for (const SvgEvent &event : events)
            take(event);
    };
}

std::string map(const Projection &projection, const QRectF &areaKm, const EventSource &events,
                const SvgEvent *marked, int cell)
{
    // The area fills the picture, wider or taller as it is, inside a margin
    // that holds the circle of an M7 at its edge.
    const double margin = std::ceil(EventScales::radius(7)) + 2;
    const double inner = MapWidth - 2 * margin, innerHeight = MapHeight - 2 * margin;
    QRectF area = areaKm;
    const double aspect = inner / innerHeight;
    if (area.width() / area.height() > aspect)
        area.setHeight(area.width() / aspect), area.moveCenter(areaKm.center());
    else
        area.setWidth(area.height() * aspect), area.moveCenter(areaKm.center());
    const double scale = inner / area.width();
    area.adjust(-margin / scale, -margin / scale, margin / scale, margin / scale);
    const auto pixel = [&](const QPointF &km) {
        return QPointF((km.x() - area.left()) * scale, (km.y() - area.top()) * scale);
    };

    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"map\" viewBox=\"0 0 "
        + std::to_string(MapWidth) + ' ' + std::to_string(MapHeight)
        + "\" role=\"img\" aria-label=\"Map of the events\"><rect width=\"100%\" height=\"100%\" fill=\"#dcecf5\"/>"
          "<path fill=\"#f3efe4\" stroke=\"#b9b09b\" stroke-width=\"0.5\" d=\"";
    // Land: each ring moved by whole turns next to the centre, and left
    // out when it lies outside the area.
    for (const QPolygonF &ring : ShippedData::land().rings()) {
        const QRectF box = ring.boundingRect();
        const double shift = projection.turnsTowardsCentre(box);
        QRectF projected;
        for (const QPointF &corner : { box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight(),
                                       QPointF(box.center().x(), box.top()), QPointF(box.center().x(), box.bottom()) })
            projected |= QRectF(projection.projectAsIs(corner.y(), corner.x() + shift), QSizeF(0.001, 0.001));
        if (!projected.intersects(area))
            continue;
        std::vector<QPointF> points;
        points.reserve(std::size_t(ring.size()));
        for (const QPointF &point : ring)
            points.push_back(pixel(projection.projectAsIs(point.y(), point.x() + shift)));
        points = clipped(points, QRectF(-4, -4, MapWidth + 8, MapHeight + 8));
        if (points.size() < 3)
            continue;
        // Whole pixels, relative to the last point.
        long lastX = 0, lastY = 0;
        bool first = true, moved = false;
        for (const QPointF &at : points) {
            const long x = std::lround(at.x());
            const long y = std::lround(at.y());
            if (first) {
                out += 'M' + std::to_string(x) + ' ' + std::to_string(y);
            } else if (x != lastX || y != lastY) {
                if (!moved)
                    out += 'l';
                moved = true;
                out += std::to_string(x - lastX);
                if (y - lastY >= 0)
                    out += ' ';
                out += std::to_string(y - lastY);
                out += ' ';
            }
            lastX = x;
            lastY = y;
            first = false;
        }
        out += 'Z';
    }
    out += "\"/>";

    Cells cells(cell);
    events([&](const SvgEvent &event) {
        const QPointF at = pixel(projection.project(event.at));
        if (at.x() >= -20 && at.y() >= -20 && at.x() <= MapWidth + 20 && at.y() <= MapHeight + 20)
            cells.add(event, at);
    });
    Dots dots(cell > 1);
    for (const auto &[event, at] : cells.largest())
        dots.add(colourOf(event.depthKm), radiusOf(event.magnitude), at.x(), at.y());
    // Where events crowd, the land shows through them.
    out += std::string("<g opacity=\"") + (cell > 1 ? "0.6" : "0.85") + "\">" + dots.svg() + "</g>";
    if (marked) {
        const QPointF at = pixel(projection.project(marked->at));
        const double radius = radiusOf(marked->magnitude);
        out += "<circle cx=\"" + number(at.x()) + "\" cy=\"" + number(at.y()) + "\" r=\"" + number(radius)
            + "\" fill=\"" + colourOf(marked->depthKm) + "\" stroke=\"#000\" stroke-width=\"1.5\"/>"
            "<circle cx=\"" + number(at.x()) + "\" cy=\"" + number(at.y()) + "\" r=\"" + number(radius + 6)
            + "\" fill=\"none\" stroke=\"#000\" stroke-width=\"2\"/>";
    }
    // A scale bar of a round number of kilometres.
    const double barKm = Ticks::lengthAtMost(120 / scale);
    out += "<g font-size=\"12\" font-family=\"sans-serif\"><path stroke=\"#333\" stroke-width=\"2\" d=\"M10 "
        + std::to_string(MapHeight - 12) + "h" + number(barKm * scale) + "\"/><text x=\"10\" y=\""
        + std::to_string(MapHeight - 18) + "\">" + number(barKm) + " km</text></g></svg>";
    return out;
}

std::string legend()
{
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"legend\" viewBox=\"0 0 720 44\" "
                      "role=\"img\" aria-label=\"Legend: size by magnitude, colour by depth\" font-size=\"12\" "
                      "font-family=\"sans-serif\">";
    double x = 8;
    for (const double magnitude : EventScales::LegendMagnitudes) {
        const double radius = EventScales::radius(magnitude);
        out += "<circle cx=\"" + number(x + radius) + "\" cy=\"22\" r=\"" + number(radius)
            + "\" fill=\"#bbb\" stroke=\"#555\"/><text x=\"" + number(x + 2 * radius + 4) + "\" y=\"26\">M"
            + number(magnitude) + "</text>";
        x += 2 * radius + 40;
    }
    x += 20;
    for (const double depth : EventScales::LegendDepths) {
        const std::string label = number(depth)
            + (depth == EventScales::LegendDepths[std::size(EventScales::LegendDepths) - 1] ? "+ km" : " km");
        out += "<rect x=\"" + number(x) + "\" y=\"15\" width=\"14\" height=\"14\" fill=\""
            + colourOf(depth) + "\"/><text x=\"" + number(x + 18) + "\" y=\"26\">" + label + "</text>";
        // Room for the label at 12 pixels (7 a character), then a gap.
        x += 18 + 7 * double(label.size()) + 12;
    }
    out += "<rect x=\"" + number(x) + "\" y=\"15\" width=\"14\" height=\"14\" fill=\"" + colourOf(std::nullopt)
        + "\"/><text x=\"" + number(x + 18) + "\" y=\"26\">no depth</text></svg>";
    return out;
}

std::string magnitudeTimePlot(const EventSource &events)
{
    constexpr int width = 720, height = 260, left = 40, bottom = 24, top = 8, right = 8;
    std::int64_t first = 0, last = 0;
    double lowest = 0, highest = 0;
    bool any = false;
    std::int64_t count = 0;
    events([&](const SvgEvent &event) {
        if (!event.magnitude)
            return;
        first = any ? std::min(first, event.timeUs) : event.timeUs;
        last = any ? std::max(last, event.timeUs) : event.timeUs;
        lowest = any ? std::min(lowest, *event.magnitude) : *event.magnitude;
        highest = any ? std::max(highest, *event.magnitude) : *event.magnitude;
        any = true;
        ++count;
    });
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"plot\" viewBox=\"0 0 "
        + std::to_string(width) + ' ' + std::to_string(height)
        + "\" role=\"img\" aria-label=\"Magnitude against time\" font-size=\"11\" font-family=\"sans-serif\">";
    if (!any)
        return out + "<text x=\"" + std::to_string(width / 2 - 80) + "\" y=\"" + std::to_string(height / 2)
            + "\">No event has a magnitude.</text></svg>";
    lowest = std::floor(lowest);
    highest = std::max(std::ceil(highest), lowest + 1);
    const double span = double(std::max<std::int64_t>(last - first, 1));
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    const auto x = [&](std::int64_t us) { return left + (us - first) / span * plotWidth; };
    const auto y = [&](double magnitude) { return top + (highest - magnitude) / (highest - lowest) * plotHeight; };
    // Axes, a line a whole magnitude, and the years (or days) along time.
    out += "<path stroke=\"#999\" stroke-width=\"0.5\" d=\"";
    for (double m = lowest; m <= highest; m += 1)
        out += "M" + std::to_string(left) + ' ' + number(y(m)) + "H" + std::to_string(width - right);
    out += "\"/>";
    for (double m = lowest; m <= highest; m += 1)
        out += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + number(y(m) + 4) + "\" text-anchor=\"end\">"
            + number(m) + "</text>";
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(first / 1000, Qt::UTC);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(last / 1000, Qt::UTC);
    const int years = to.date().year() - from.date().year();
    const int every = years > 40 ? 10 : years > 16 ? 5 : years > 6 ? 2 : 1;
    if (years >= 1) {
        for (int year = (from.date().year() / every + 1) * every; year <= to.date().year(); year += every) {
            const double at = x(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() * 1000);
            out += "<text x=\"" + number(at) + "\" y=\"" + std::to_string(height - 6) + "\" text-anchor=\""
                + (at > width - 16 ? "end" : "middle") + "\">" + std::to_string(year) + "</text>";
        }
    } else {
        // The first date starts at the axis's start, the last ends at its end.
        for (const QDateTime &end : { from, to })
            out += "<text x=\"" + number(x(end.toMSecsSinceEpoch() * 1000)) + "\" y=\"" + std::to_string(height - 6)
                + "\" text-anchor=\"" + (end == from ? "start" : "end") + "\">"
                + end.date().toString(Qt::ISODate).toStdString() + "</text>";
    }
    const int cell = count > 3000 ? 6 : 1;
    Cells cells(cell);
    events([&](const SvgEvent &event) {
        if (event.magnitude)
            cells.add(event, QPointF(x(event.timeUs), y(*event.magnitude)));
    });
    Dots dots(cell > 1);
    for (const auto &[event, at] : cells.largest())
        dots.add(colourOf(event.depthKm), 2, at.x(), at.y());
    return out + "<g opacity=\"0.8\">" + dots.svg() + "</g></svg>";
}

} // namespace SvgMap
