#include "app/maplayers.h"

#include "geo/eventscales.h"
#include "geo/landatlas.h"
#include "geo/shippeddata.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPaintEngine>

#include <algorithm>
#include <cmath>

namespace {

const QColor seaColour(214, 229, 240);
const QColor landColour(239, 236, 226);
const QColor coastColour(170, 170, 160);

} // namespace

namespace EventSymbol {

std::optional<double> known(float value)
{
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

double radius(const QuakeLocation &location)
{
    return EventScales::radiusOf(known(location.magnitude));
}

void draw(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius)
{
    const QColor colour = EventScales::colourOf(known(location.depthKm));
    if (std::isfinite(location.magnitude)) {
        painter.setPen(QPen(QColor(60, 60, 60, 160), 0.6));
        painter.setBrush(colour);
    } else {
        painter.setPen(QPen(colour.darker(130), 1.5));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(at, radius, radius);
}

double mapRadius(const QuakeLocation &location, double zoom)
{
    return std::isfinite(location.magnitude) ? std::max(1.5, EventScales::radius(location.magnitude) * zoom)
                                             : std::max(2.0, EventScales::NoMagnitudeRadius * zoom);
}

void drawOnMap(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius)
{
    const QColor colour = EventScales::colourOf(known(location.depthKm));
    if (!std::isfinite(location.magnitude)) {
        painter.setPen(QPen(colour.darker(130), 1.2));
        painter.setBrush(Qt::NoBrush);
    } else if (radius < DotBelow) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
    } else {
        painter.setPen(QPen(colour, 1.8));
        QColor faint = colour;
        faint.setAlpha(FaintAlpha);
        painter.setBrush(faint);
    }
    painter.drawEllipse(at, radius, radius);
}

} // namespace EventSymbol

void LandLayer::project(const Projection &projection)
{
    m_rings.clear();
    m_bounds.clear();
    const std::vector<QPolygonF> &rings = ShippedData::land().rings();
    m_rings.reserve(rings.size());
    m_bounds.reserve(rings.size());
    for (const QPolygonF &ring : rings) {
        const double shift = projection.turnsTowardsCentre(ring.boundingRect());
        QPolygonF projected;
        projected.reserve(ring.size());
        for (const QPointF &point : ring)
            projected << projection.projectAsIs(point.y(), point.x() + shift);
        m_bounds.push_back(projected.boundingRect());
        m_rings.push_back(std::move(projected));
    }
}

void LandLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    painter.fillRect(area, seaColour);
    // From the rings already in kilometres: only scale and offset change.
    const QRectF visibleKm(viewport.toKm(area.topLeft()), viewport.toKm(area.bottomRight()));
    painter.save();
    painter.translate(viewport.offset());
    painter.scale(viewport.scale(), viewport.scale());
    painter.setPen(QPen(coastColour, 0));
    painter.setBrush(landColour);
    for (std::size_t i = 0; i < m_rings.size(); ++i) {
        if (m_bounds[i].intersects(visibleKm))
            painter.drawPolygon(m_rings[i]);
    }
    painter.restore();
}

void EventLayer::read(const Projection &projection)
{
    const std::vector<LocatedEvent> *events = m_shown.events();
    m_events = events && !events->empty() ? events : nullptr;
    m_withoutDepth = m_withoutMagnitude = m_withoutPosition = 0;
    m_projected.clear();
    m_drawOrder.clear();
    m_largestRadius = 0;
    ++m_arrangement;
    if (m_events) {
        const std::size_t count = m_events->size();
        m_projected.resize(count);
        m_drawOrder.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const QuakeLocation &at = (*m_events)[i].location;
            m_withoutDepth += std::isfinite(at.depthKm) ? 0 : 1;
            m_withoutMagnitude += std::isfinite(at.magnitude) ? 0 : 1;
            if (!hasPosition(at)) {
                ++m_withoutPosition;
                m_projected[i] = { 0, 0 };
                continue;
            }
            const QPointF km = projection.project(at.latitude, at.longitude);
            m_projected[i] = { float(km.x()), float(km.y()) };
        }
    }
    rearrange();
}

void EventLayer::rearrange()
{
    ++m_arrangement;
    m_drawOrder.clear();
    m_drawOrder.reserve(m_events ? m_events->size() : 0);
    m_largestRadius = 0;
    m_hiddenCount = 0;
    for (std::size_t i = 0; m_events && i < m_events->size(); ++i) {
        if (!hasPosition((*m_events)[i].location))
            continue;
        if (m_shown.isHidden(i)) {
            ++m_hiddenCount;
            continue;
        }
        m_drawOrder.push_back(quint32(i));
    }
    // Smaller events over larger ones; those without a magnitude last.
    std::stable_sort(m_drawOrder.begin(), m_drawOrder.end(), [this](quint32 a, quint32 b) {
        return drawKey(a) < drawKey(b);
    });
    for (quint32 index : m_drawOrder)
        m_largestRadius = std::max(m_largestRadius, radiusOf(index, 1.0));
    m_grid.build(m_drawOrder, [this](std::uint32_t index) { return kmOf(index); });
}

bool EventLayer::hasPosition(const QuakeLocation &at)
{
    return std::isfinite(at.latitude) && std::isfinite(at.longitude) && std::fabs(at.latitude) <= 90;
}

bool EventLayer::hasPosition(int index) const
{
    return hasPosition((*m_events)[std::size_t(index)].location);
}

double EventLayer::radiusOf(quint32 index, double zoom) const
{
    return EventSymbol::mapRadius((*m_events)[index].location, zoom);
}

float EventLayer::drawKey(quint32 index) const
{
    const float magnitude = (*m_events)[index].location.magnitude;
    return std::isfinite(magnitude) ? -magnitude : 100.0f;
}

qint64 EventLayer::bytes() const
{
    return qint64(m_projected.capacity() * sizeof(Projected) + m_drawOrder.capacity() * sizeof(quint32)) + m_grid.bytes();
}

int EventLayer::eventAt(const QPointF &pixel, const Viewport &viewport, int *others) const
{
    int found = -1;
    int count = 0;
    // Of the circles that hold the point, the one drawn last is on top.
    const double zoom = EventScales::zoomFactor(viewport.scale());
    m_grid.near(viewport.toKm(pixel), (m_largestRadius + 1) / viewport.scale(), [&](std::uint32_t index) {
        if (!isShownAt(index))
            return;
        const double radius = radiusOf(index, zoom);
        const QPointF d = viewport.toScreen(kmOf(index)) - pixel;
        if (d.x() * d.x() + d.y() * d.y() > (radius + 1) * (radius + 1))
            return;
        ++count;
        if (found < 0 || std::make_pair(drawKey(index), index) > std::make_pair(drawKey(quint32(found)), quint32(found)))
            found = int(index);
    });
    if (others)
        *others = std::max(0, count - 1);
    return found;
}

quint32 EventLayer::spriteKey(const QuakeLocation &location, double zoom)
{
    // Depth in 2 km steps to 300 km; the radius in quarter pixels below 8 px,
    // where a quarter shows, in halves below 16 px and in whole pixels above,
    // where it does not (and where the sprites are big: this halves their
    // memory). None for a circle bigger than any sprite.
    const double radius = EventSymbol::mapRadius(location, zoom);
    if (!(radius <= MaxSpriteRadius))
        return NoSprite;
    const bool hasDepth = std::isfinite(location.depthKm), hasMagnitude = std::isfinite(location.magnitude);
    const int depthStep = hasDepth ? int(std::clamp(location.depthKm, 0.0f, 300.0f) / 2) : 255;
    const int quarters = radius < 8 ? 1 : radius < 16 ? 2 : 4;
    const int radiusStep = int(std::lround(radius * 4 / quarters)) * quarters;
    return quint32(depthStep) | quint32(radiusStep) << 8 | (hasMagnitude ? 0u : 1u) << 31;
}

QPoint EventLayer::placeSprite(int side, quint32 *sheet) const
{
    // A sheet holds sprites of one size one above the other, so that each
    // sprite's rows lie together as in an image of its own (drawing reads
    // them from as few pages); a new sheet when the size's last one is full.
    auto open = std::find_if(m_openSheets.begin(), m_openSheets.end(), [side](const OpenSheet &s) { return s.side == side; });
    if (open == m_openSheets.end() || open->y + side > m_sheets[open->sheet].height()) {
        const int sprites = std::max(1, (256 << 10) / (4 * side * side));
        QImage page(side, side * sprites, QImage::Format_ARGB32_Premultiplied);
        page.fill(Qt::transparent);
        m_sheets.push_back(std::move(page));
        const OpenSheet fresh { quint32(m_sheets.size() - 1), 0, side };
        if (open == m_openSheets.end())
            open = m_openSheets.insert(m_openSheets.end(), fresh);
        else
            *open = fresh;
    }
    const QPoint corner(0, open->y);
    open->y += side;
    *sheet = open->sheet;
    return corner;
}

void EventLayer::makeSprites(const std::vector<QuakeLocation> &events) const
{
    // The sprites not made yet, one per key, placed on sheets and drawn with
    // one painter per sheet: a painter per sprite took longer than the
    // drawing, and as many small images took twice their pixels' memory.
    // Each sprite is an image of its own over its sheet's pixels: Qt copies
    // a whole image several times faster than a part of one.
    struct Wanted
    {
        quint32 key;
        QuakeLocation location;
        double radius;
        quint32 sheet;
        QRect place;
    };
    std::vector<Wanted> wanted;
    for (const QuakeLocation &location : events) {
        const quint32 key = spriteKey(location, m_zoom);
        if (key == NoSprite || m_sprites.count(key))
            continue;
        QuakeLocation quantised = location;
        if (std::isfinite(location.depthKm))
            quantised.depthKm = float(int(key & 0xFF) * 2);
        const double radius = int((key >> 8) & 0x7FFFFF) / 4.0;
        const int side = int(std::ceil(2 * radius + 4)) | 1;
        quint32 sheet = 0;
        const QPoint corner = placeSprite(side, &sheet);
        wanted.push_back({ key, quantised, radius, sheet, QRect(corner, QSize(side, side)) });
        const QImage &page = m_sheets[sheet];
        m_sprites.emplace(key, QImage(page.constBits() + corner.y() * page.bytesPerLine() + corner.x() * 4, side,
                                      side, page.bytesPerLine(), QImage::Format_ARGB32_Premultiplied));
    }
    std::stable_sort(wanted.begin(), wanted.end(), [](const Wanted &a, const Wanted &b) { return a.sheet < b.sheet; });
    for (std::size_t first = 0; first < wanted.size();) {
        QPainter painter(&m_sheets[wanted[first].sheet]);
        painter.setRenderHint(QPainter::Antialiasing, true);
        std::size_t end = first;
        for (; end < wanted.size() && wanted[end].sheet == wanted[first].sheet; ++end) {
            const Wanted &sprite = wanted[end];
            EventSymbol::drawOnMap(painter, QRectF(sprite.place).center(), sprite.location, sprite.radius);
        }
        first = end;
    }
}

void EventLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    renderIndices(painter, area, viewport, m_drawOrder.data(), m_drawOrder.data() + m_drawOrder.size());
}

const std::vector<quint32> &EventLayer::byTime() const
{
    if (m_byTimeArrangement != m_arrangement) {
        m_byTimeArrangement = m_arrangement;
        m_byTime.clear();
        for (const quint32 index : m_drawOrder) {
            if (std::isfinite((*m_events)[index].utcSeconds))
                m_byTime.push_back(index);
        }
        std::stable_sort(m_byTime.begin(), m_byTime.end(),
                         [this](quint32 a, quint32 b) { return (*m_events)[a].utcSeconds < (*m_events)[b].utcSeconds; });
    }
    return m_byTime;
}

std::pair<const quint32 *, const quint32 *> EventLayer::timesBetween(double after, double until) const
{
    const std::vector<quint32> &order = byTime();
    const auto later = [this](double t, quint32 index) { return t < (*m_events)[index].utcSeconds; };
    const quint32 *from = std::upper_bound(order.data(), order.data() + order.size(), after, later);
    return { from, std::upper_bound(from, order.data() + order.size(), until, later) };
}

void EventLayer::renderTimes(QPainter &painter, const QRectF &area, const Viewport &viewport, double after, double until) const
{
    const auto [from, to] = timesBetween(after, until);
    renderIndices(painter, area, viewport, from, to);
}

void EventLayer::renderIndices(QPainter &painter, const QRectF &area, const Viewport &viewport, const quint32 *begin,
                               const quint32 *end) const
{
    const bool raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    const QRectF visible = area.adjusted(-40, -40, 40, 40);
    const double zoom = EventScales::zoomFactor(viewport.scale());
    m_zoom = zoom;
    struct Shown
    {
        QPointF at;
        const QuakeLocation *location;
        quint32 sprite;   // its key, or NoSprite
    };
    std::vector<Shown> shown;
    std::vector<QuakeLocation> unmade;   // sprites not made yet, usually none
    for (const quint32 *it = begin; it != end; ++it) {
        const quint32 index = *it;
        const QPointF at = viewport.toScreen(kmOf(index));
        if (!visible.contains(at) || !isShownAt(index))
            continue;
        const QuakeLocation &location = (*m_events)[index].location;
        const quint32 key = raster ? spriteKey(location, zoom) : NoSprite;
        if (key != NoSprite && !m_sprites.count(key))
            unmade.push_back(location);
        shown.push_back({ at, &location, key });
    }
    makeSprites(unmade);
    for (const Shown &event : shown) {
        if (event.sprite != NoSprite) {
            const QImage &sprite = m_sprites.find(event.sprite)->second;
            painter.drawImage(QPointF(std::round(event.at.x()) - sprite.width() / 2,
                                      std::round(event.at.y()) - sprite.height() / 2),
                              sprite);
        } else {
            EventSymbol::drawOnMap(painter, event.at, *event.location, EventSymbol::mapRadius(*event.location, zoom));
        }
    }
}

void SelectionLayer::render(QPainter &painter, const QRectF &, const Viewport &viewport) const
{
    const double zoom = EventScales::zoomFactor(viewport.scale());
    painter.setBrush(Qt::NoBrush);
    for (int index : marked()) {
        if (index < 0 || index >= m_events.count() || !m_events.hasPosition(index))
            continue;
        const QPointF at = viewport.toScreen(m_events.kmOf(quint32(index)));
        const double radius = m_events.radiusOf(quint32(index), zoom) + 4;
        painter.setPen(QPen(Qt::white, 5));
        painter.drawEllipse(at, radius, radius);
        painter.setPen(QPen(markColour(), 3));
        painter.drawEllipse(at, radius, radius);
    }
    const int index = selected();
    if (index < 0)
        return;
    const QPointF at = viewport.toScreen(m_events.kmOf(quint32(index)));
    const double radius = m_events.radiusOf(quint32(index), zoom) + 5;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 4));
    painter.drawEllipse(at, radius, radius);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawEllipse(at, radius, radius);
}

void RegionLayer::render(QPainter &painter, const QRectF &, const Viewport &viewport) const
{
    const Projection &projection = viewport.projection();
    // Each outline is moved next to the map's centre as one, so that it
    // runs on across 180.
    const auto draw = [&](const std::vector<GeoPoint> &outline) {
        if (outline.empty())
            return;
        const double turns = projection.unwrap(outline.front().longitude) - outline.front().longitude;
        QPolygonF line;
        line.reserve(qsizetype(outline.size()));
        for (const GeoPoint &point : outline)
            line << viewport.toScreen(projection.projectAsIs(point.latitude, point.longitude + turns));
        painter.setPen(QPen(QColor(255, 255, 255, 200), 4));
        painter.drawPolyline(line);
        painter.setPen(QPen(QColor(20, 60, 160), 2, Qt::DashLine));
        painter.drawPolyline(line);
    };
    painter.setBrush(Qt::NoBrush);
    if (m_region.box)
        draw(m_region.box->outline());
    if (m_region.circle)
        draw(m_region.circle->outline());
    if (!m_band.isEmpty()) {
        painter.setPen(QPen(QColor(20, 60, 160), 1.5, Qt::DashLine));
        painter.setBrush(QColor(20, 60, 160, 30));
        painter.drawRect(m_band);
    }
}

void SectionLayer::render(QPainter &painter, const QRectF &, const Viewport &viewport) const
{
    const QColor ink(150, 40, 130);
    if (!m_line.isNull()) {
        painter.setPen(QPen(ink, 2, Qt::DashLine));
        painter.drawLine(m_line);
    }
    if (!m_section)
        return;
    // Moved next to the map's centre as one, from A's longitude on.
    const Projection &projection = viewport.projection();
    const GeoPoint &a = m_section->a();
    const double turns = projection.unwrap(a.longitude) - a.longitude;
    const auto pixel = [&](const GeoPoint &point) {
        const double longitude = a.longitude + Geo::periodicLongitude(point.longitude - a.longitude);
        return viewport.toScreen(projection.projectAsIs(point.latitude, longitude + turns));
    };
    QPolygonF swath;
    for (const GeoPoint &point : m_section->outline())
        swath << pixel(point);
    QPolygonF profile;
    const double bearing = Geo::bearingDegrees(a, m_section->b());
    constexpr int Steps = 64;
    for (int i = 0; i <= Steps; ++i)
        profile << pixel(Geo::destination(a, bearing, m_section->lengthKm() * i / Steps));
    painter.setPen(QPen(ink, 1.5, Qt::DashLine));
    painter.setBrush(QColor(ink.red(), ink.green(), ink.blue(), 28));
    painter.drawPolygon(swath);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 4));
    painter.drawPolyline(profile);
    painter.setPen(QPen(ink, 2));
    painter.drawPolyline(profile);

    // A and A′ beyond the ends, on a white ground.
    painter.save();
    QFont bold = painter.font();
    bold.setWeight(QFont::Bold);
    painter.setFont(bold);
    const QFontMetricsF metrics(bold);
    const QPointF way = profile.last() - profile.first();
    const double length = std::max(1.0, std::hypot(way.x(), way.y()));
    const QPointF outwards = way / length * (metrics.height() * 0.9);
    const auto label = [&](const QPointF &at, const QString &text) {
        QRectF box(0, 0, metrics.horizontalAdvance(text) + 6, metrics.height());
        box.moveCenter(at);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawRect(box);
        painter.setPen(ink);
        painter.drawText(box, Qt::AlignCenter, text);
    };
    label(profile.first() - outwards, QStringLiteral("A"));
    label(profile.last() + outwards, QStringLiteral("A\u2032"));
    painter.restore();
}
