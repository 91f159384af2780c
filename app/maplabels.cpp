#include "app/maplabels.h"

#include "geo/shippeddata.h"

#include <QLocale>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int CityPopulation = 100000;
// A suburb's dot this close to a city's is the city's (Manukau, Lower Hutt).
constexpr double MinimumApart = 24;
const QColor ink(40, 40, 40);

QFont boldOf(QFont font)
{
    font.setWeight(QFont::Bold);
    return font;
}

// Text with a white halo, readable over land, sea and events alike.
void drawHaloed(QPainter &painter, const QRectF &box, const QString &text, const QFont &font)
{
    const QFontMetricsF metrics(font);
    QPainterPath path;
    path.addText(QPointF(box.left() + 2, box.top() + 1 + metrics.ascent()), font, text);
    painter.setPen(QPen(QColor(255, 255, 255, 230), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(path);
}

} // namespace

double ScaleBarLayer::kilometres(double pixelsPerKm, double mapWidth)
{
    // The round length nearest a fifth of the map, never wider than a third.
    const double wanted = std::clamp(mapWidth / 5, 60.0, 160.0) / pixelsPerKm;
    const double power = std::pow(10.0, std::floor(std::log10(wanted)));
    double best = power;
    for (const double step : { 1.0, 2.0, 5.0, 10.0 }) {
        if (std::fabs(std::log(step * power / wanted)) < std::fabs(std::log(best / wanted)))
            best = step * power;
    }
    while (best * pixelsPerKm > mapWidth / 3 && best > 1e-3)
        best /= 2;
    return best;
}

QRectF ScaleBarLayer::box(const QRectF &area, const QFontMetricsF &metrics, double pixelsPerKm) const
{
    const double length = kilometres(pixelsPerKm, area.width()) * pixelsPerKm;
    const double width = std::max(length, metrics.horizontalAdvance(QStringLiteral("5000 km"))) + 16;
    const double height = metrics.height() + 16;
    return QRectF(area.left() + 8, area.bottom() - 8 - height, width, height);
}

void ScaleBarLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const double scale = viewport.scale();
    if (!(scale > 0))
        return;
    const QFontMetricsF metrics(painter.font());
    const double km = kilometres(scale, area.width());
    const QRectF box = this->box(area, metrics, scale);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawRoundedRect(box, 3, 3);
    const double left = box.left() + 8, y = box.bottom() - 6, length = km * scale;
    painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(left, y), QPointF(left + length, y));
    painter.drawLine(QPointF(left, y - 5), QPointF(left, y));
    painter.drawLine(QPointF(left + length, y - 5), QPointF(left + length, y));
    painter.setPen(ink);
    const QString label = tr("%1 km").arg(QLocale::c().toString(km, 'g', 6));
    painter.drawText(QPointF(left, y - 6 - metrics.descent()), label);
    painter.restore();
}

void PlacesLayer::project(const Projection &projection)
{
    m_layout.reset();
    const std::vector<Places::Place> &places = ShippedData::places().all();
    m_places.clear();
    m_places.reserve(places.size());
    for (const Places::Place &place : places)
        m_places.push_back({ &place, projection.project(place.point) });
    std::stable_sort(m_places.begin(), m_places.end(),
                     [](const Projected &a, const Projected &b) { return a.place->population > b.place->population; });
}

std::vector<PlacesLayer::Label> PlacesLayer::labels(const QRectF &area, const Viewport &viewport, const QFont &font) const
{
    const QFont bold = boldOf(font);
    const QFontMetricsF metrics(font), boldMetrics(bold);
    // Where no name goes: the legend, the scale bar, the credits' line.
    const std::vector<QRectF> kept = {
        m_legend.box(area, metrics).adjusted(-4, -4, 4, 4),
        m_scaleBar.box(area, metrics, viewport.scale()).adjusted(-4, -4, 4, 4),
        QRectF(area.left(), area.bottom() - metrics.height() - 6, area.width(), metrics.height() + 6),
    };
    const QRectF inside = area.adjusted(4, 4, -4, -4);
    const std::size_t most = std::size_t(std::clamp(area.width() * area.height() / 22000, 4.0, 40.0));
    std::vector<Label> placed;
    const auto tryPlace = [&](const Places::Place &place, const QPointF &at) {
        const bool city = place.population >= CityPopulation;
        const QFontMetricsF &m = city ? boldMetrics : metrics;
        const QSizeF size(m.horizontalAdvance(place.name) + 4, m.height() + 2);
        // Right of the dot, else left, above or below.
        const QPointF corners[] = { at + QPointF(5, -size.height() / 2), at + QPointF(-5 - size.width(), -size.height() / 2),
                                    at + QPointF(-size.width() / 2, -4 - size.height()), at + QPointF(-size.width() / 2, 4) };
        for (const QPointF &corner : corners) {
            const QRectF box(corner, size);
            const auto clashes = [&box](const QRectF &other) { return other.intersects(box); };
            if (!inside.contains(box) || std::any_of(kept.begin(), kept.end(), clashes)
                || std::any_of(placed.begin(), placed.end(), [&](const Label &label) {
                       return label.box.adjusted(-3, -1, 3, 1).intersects(box) || box.contains(label.at)
                           || label.box.contains(at) || QLineF(label.at, at).length() < MinimumApart;
                   }))
                continue;
            placed.push_back({ place.name, at, box, city });
            return;
        }
    };
    if (m_first) {
        const QPointF at = viewport.toScreen(viewport.projection().project(m_first->point));
        if (inside.contains(at))
            tryPlace(*m_first, at);
    }
    for (const Projected &candidate : m_places) {
        if (placed.size() >= most)
            break;
        const QPointF at = viewport.toScreen(candidate.km);
        if (candidate.place != m_first && inside.contains(at))
            tryPlace(*candidate.place, at);
    }
    return placed;
}

const QImage &PlacesLayer::sprite(const Label &label, const QFont &font) const
{
    const QString key = label.city ? label.name + u'\x1' : label.name;
    auto found = m_sprites.find(key);
    if (found == m_sprites.end()) {
        QImage image(label.box.size().toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        drawHaloed(painter, QRectF(QPointF(1, 1), label.box.size()), label.name, label.city ? boldOf(font) : font);
        found = m_sprites.insert(key, image);
    }
    return *found;
}

void PlacesLayer::render(QPainter &painter, const QRectF &area, const Viewport &viewport) const
{
    const QFont font = painter.font();
    // Laid out again only when the view changes; on screen each name is an
    // image made once, in a file (SVG) it is text.
    if (!m_layout || m_layout->area != area || m_layout->scale != viewport.scale() || m_layout->offset != viewport.offset()
        || m_layout->first != m_first || m_layout->font != font || m_layout->legendFolded != m_legend.isFolded()) {
        m_layout = Layout { area, viewport.scale(), viewport.offset(), m_first, font, m_legend.isFolded(),
                            labels(area, viewport, font) };
    }
    const bool raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    painter.save();
    for (const Label &label : m_layout->labels) {
        painter.setPen(QPen(Qt::white, 1.2));
        painter.setBrush(ink);
        painter.drawEllipse(label.at, 2.6, 2.6);
        if (raster)
            painter.drawImage(QPointF(std::round(label.box.left()) - 1, std::round(label.box.top()) - 1), sprite(label, font));
        else
            drawHaloed(painter, label.box, label.name, label.city ? boldOf(font) : font);
    }
    painter.restore();
}
