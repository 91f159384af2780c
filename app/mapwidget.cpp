#include "app/mapwidget.h"

#include "app/picturefile.h"
#include "geo/eventscales.h"
#include "geo/landatlas.h"
#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QHelpEvent>
#include <QImage>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEngine>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor seaColour(214, 229, 240);
const QColor landColour(239, 236, 226);
const QColor coastColour(170, 170, 160);

// New Zealand, shown when there is nothing else to fit.
const std::vector<GeoPoint> newZealand = { { -34.0, 166.0 }, { -47.5, 179.0 } };

using ShippedData::land;
using ShippedData::places;

// The location's value, when it has one (it holds NaN for none).
std::optional<double> known(float value)
{
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

QColor colourOf(const QuakeLocation &location)
{
    return EventScales::colourOf(known(location.depthKm));
}

double radiusOf(const QuakeLocation &location)
{
    return EventScales::radiusOf(known(location.magnitude));
}

QString numberText(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

MapWidget::MapWidget(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(240, 200);
    setEvents(nullptr);
}

MapWidget::~MapWidget() = default;


bool MapWidget::hasPosition(const QuakeLocation &at)
{
    return std::isfinite(at.latitude) && std::isfinite(at.longitude) && std::fabs(at.latitude) <= 90;
}

bool MapWidget::hasPosition(int index) const
{
    return hasPosition((*m_events)[std::size_t(index)].location);
}

void MapWidget::setEvents(const std::vector<LocatedEvent> *events)
{
    m_events = events && !events->empty() ? events : nullptr;
    m_selected = -1;
    m_withoutDepth = m_withoutMagnitude = m_withoutPosition = 0;
    m_projected.clear();
    m_drawOrder.clear();
    m_largestRadius = 0;

    std::vector<GeoPoint> points;
    if (m_events) {
        points.reserve(m_events->size());
        for (const LocatedEvent &event : *m_events) {
            if (hasPosition(event.location))
                points.push_back({ event.location.latitude, event.location.longitude });
        }
    }
    m_viewport.setProjection(Projection::centredOn(points.empty() ? newZealand : points));
    const Projection &projection = m_viewport.projection();

    if (m_events) {
        const std::size_t count = m_events->size();
        m_projected.resize(count);
        m_drawOrder.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const QuakeLocation &at = (*m_events)[i].location;
            m_withoutDepth += std::isfinite(at.depthKm) ? 0 : 1;
            m_withoutMagnitude += std::isfinite(at.magnitude) ? 0 : 1;
            if (!hasPosition(int(i))) {
                ++m_withoutPosition;
                m_projected[i] = { 0, 0 };
                continue;
            }
            const QPointF km = projection.project(at.latitude, at.longitude);
            m_projected[i] = { float(km.x()), float(km.y()) };
            m_drawOrder.push_back(quint32(i));
        }
        // Larger events over smaller ones; those without a magnitude first.
        std::stable_sort(m_drawOrder.begin(), m_drawOrder.end(), [this](quint32 a, quint32 b) {
            return drawKey(a) < drawKey(b);
        });
        for (quint32 index : m_drawOrder)
            m_largestRadius = std::max(m_largestRadius, radiusOf((*m_events)[index].location));
    }
    m_grid.build(m_drawOrder, [this](std::uint32_t index) { return QPointF(m_projected[index].x, m_projected[index].y); });
    projectLand();
    fitToEvents();
}

float MapWidget::drawKey(quint32 index) const
{
    const float magnitude = (*m_events)[index].location.magnitude;
    return std::isfinite(magnitude) ? magnitude : -100.0f;
}

qint64 MapWidget::eventBytes() const
{
    return qint64(m_projected.capacity() * sizeof(Projected) + m_drawOrder.capacity() * sizeof(quint32)) + m_grid.bytes();
}

void MapWidget::projectLand()
{
    m_land.clear();
    m_landBounds.clear();
    const std::vector<QPolygonF> &rings = land().rings();
    m_land.reserve(rings.size());
    m_landBounds.reserve(rings.size());
    for (const QPolygonF &ring : rings) {
        const double shift = m_viewport.projection().turnsTowardsCentre(ring.boundingRect());
        QPolygonF projected;
        projected.reserve(ring.size());
        for (const QPointF &point : ring)
            projected << m_viewport.projection().projectAsIs(point.y(), point.x() + shift);
        m_landBounds.push_back(projected.boundingRect());
        m_land.push_back(std::move(projected));
    }
}

void MapWidget::fitToEvents()
{
    QRectF bounds = m_viewport.projection().bounds(newZealand);
    double largest = 0;
    if (!m_drawOrder.empty()) {
        double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
        for (quint32 index : m_drawOrder) {
            left = std::min(left, double(m_projected[index].x));
            right = std::max(right, double(m_projected[index].x));
            top = std::min(top, double(m_projected[index].y));
            bottom = std::max(bottom, double(m_projected[index].y));
            largest = std::max(largest, radiusOf((*m_events)[index].location));
        }
        bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    // At least 100 km across, so that one event is shown with its region.
    const double width = std::max(bounds.width(), 100.0), height = std::max(bounds.height(), 100.0);
    bounds = QRectF(bounds.center() - QPointF(width / 2, height / 2), QSizeF(width, height));
    const double w = std::max(1, this->width()), h = std::max(1, this->height());
    // The events' centres fill the map inside a margin that holds the
    // largest circle whole.
    const double margin = std::max(largest + 4, std::min(w, h) * 0.05);
    const auto fitInto = [&](const QRectF &pixels) { return m_viewport.fit(bounds, pixels); };
    fitInto(QRectF(margin, margin, w - 2 * margin, h - 2 * margin));
    // The legend is opaque: events it would cover are fitted beside it or
    // below it instead, whichever shows them larger.
    const QRectF legend = legendBox(rect(), QFontMetricsF(font())).adjusted(-2, -2, 2, 2);
    const bool covered = std::any_of(m_drawOrder.begin(), m_drawOrder.end(), [&](quint32 index) {
        const double radius = radiusOf((*m_events)[index].location);
        return legend.intersects(QRectF(toScreen(m_projected[index]) - QPointF(radius, radius),
                                        QSizeF(2 * radius, 2 * radius)));
    });
    if (covered) {
        const QRectF beside(legend.right() + margin, margin, w - legend.right() - 2 * margin, h - 2 * margin);
        const QRectF below(margin, legend.bottom() + margin, w - 2 * margin, h - legend.bottom() - 2 * margin);
        const bool besideIsLarger = std::min(beside.width() / width, beside.height() / height)
            >= std::min(below.width() / width, below.height() / height);
        if (beside.isValid() || below.isValid())
            fitInto(besideIsLarger ? beside : below);
    }
    m_fitted = true;
    update();
}

QPointF MapWidget::toScreen(const Projected &point) const
{
    return m_viewport.toScreen(QPointF(point.x, point.y));
}

QPointF MapWidget::positionOf(int index) const
{
    return toScreen(m_projected[std::size_t(index)]);
}

void MapWidget::setSelectedEvent(int index)
{
    m_selected = index >= 0 && index < eventCount() && hasPosition(index) ? index : -1;
    if (m_selected >= 0 && !rect().adjusted(10, 10, -10, -10).contains(positionOf(m_selected).toPoint()))
        m_viewport.setOffset(m_viewport.offset() + QPointF(width() / 2.0, height() / 2.0) - positionOf(m_selected));
    update();
}

int MapWidget::eventAt(const QPointF &position, int *others) const
{
    int found = -1;
    int count = 0;
    // Of the circles that hold the point, the one drawn last is on top.
    m_grid.near(m_viewport.toKm(position), (m_largestRadius + 1) / m_viewport.scale(), [&](std::uint32_t index) {
        const double radius = radiusOf((*m_events)[index].location);
        const QPointF d = toScreen(m_projected[index]) - position;
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

QString MapWidget::placeOf(int index) const
{
    if (index < 0 || index >= eventCount() || !hasPosition(index))
        return QString();
    const QuakeLocation &at = (*m_events)[std::size_t(index)].location;
    return places().describe({ at.latitude, at.longitude });
}

QString MapWidget::describe(int index) const
{
    if (index < 0 || index >= eventCount())
        return QString();
    const LocatedEvent &event = (*m_events)[std::size_t(index)];
    // The store's identifier: "[id] local time", Latin-1.
    const QString key = QString::fromLatin1(event.eventId->data(), qsizetype(event.eventId->size()));
    const qsizetype close = key.indexOf(QLatin1String("] "));
    QStringList lines;
    lines << (key.startsWith(u'[') && close > 0 ? key.mid(1, close - 1) : key);
    if (close > 0)
        lines << key.mid(close + 2);
    const QuakeLocation &at = event.location;
    lines << tr("Magnitude %1, depth %2")
                 .arg(std::isfinite(at.magnitude) ? numberText(at.magnitude) : tr("unknown"),
                      std::isfinite(at.depthKm) ? tr("%1 km").arg(numberText(at.depthKm)) : tr("unknown"));
    const QString place = placeOf(index);
    if (!place.isEmpty())
        lines << place;
    return lines.join(u'\n');
}

void MapWidget::drawCircle(QPainter &painter, const QPointF &at, const QuakeLocation &location, double radius)
{
    const QColor colour = colourOf(location);
    if (std::isfinite(location.magnitude)) {
        painter.setPen(QPen(QColor(60, 60, 60, 160), 0.6));
        painter.setBrush(colour);
    } else {
        painter.setPen(QPen(colour.darker(130), 1.5));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(at, radius, radius);
}

const QImage &MapWidget::spriteFor(const QuakeLocation &location) const
{
    // Depth in 2 km steps to 300 km, radius in quarter pixels.
    const bool hasDepth = std::isfinite(location.depthKm), hasMagnitude = std::isfinite(location.magnitude);
    const int depthStep = hasDepth ? int(std::clamp(location.depthKm, 0.0f, 300.0f) / 2) : 255;
    const int radiusStep = int(std::lround(radiusOf(location) * 4));
    const quint32 key = quint32(depthStep) | quint32(radiusStep) << 8 | (hasMagnitude ? 0u : 1u) << 31;
    auto found = m_sprites.find(key);
    if (found != m_sprites.end())
        return found->second;
    QuakeLocation quantised = location;
    if (hasDepth)
        quantised.depthKm = float(depthStep * 2);
    const double radius = radiusStep / 4.0;
    const int side = int(std::ceil(2 * radius + 4)) | 1;
    QImage sprite(side, side, QImage::Format_ARGB32_Premultiplied);
    sprite.fill(Qt::transparent);
    QPainter painter(&sprite);
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawCircle(painter, QPointF(side / 2.0, side / 2.0), quantised, radius);
    painter.end();
    return m_sprites.emplace(key, std::move(sprite)).first->second;
}

void MapWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    draw(painter, rect());
}

void MapWidget::draw(QPainter &painter, const QRectF &area) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    drawLand(painter, area);

    // Events, larger over smaller. On screen and in PNGs each circle is a
    // small image drawn once per colour and size and then copied, which is
    // many times faster than drawing 100,000 antialiased ellipses; an SVG
    // gets real circles.
    const QRectF visible = area.adjusted(-40, -40, 40, 40);
    for (quint32 index : m_drawOrder) {
        const QPointF at = toScreen(m_projected[index]);
        if (!visible.contains(at))
            continue;
        const QuakeLocation &location = (*m_events)[index].location;
        if (raster) {
            const QImage &sprite = spriteFor(location);
            painter.drawImage(QPointF(std::round(at.x()) - sprite.width() / 2, std::round(at.y()) - sprite.height() / 2),
                              sprite);
        } else {
            drawCircle(painter, at, location, radiusOf(location));
        }
    }
    if (m_selected >= 0) {
        const QPointF at = positionOf(m_selected);
        const double radius = radiusOf((*m_events)[std::size_t(m_selected)].location) + 5;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 4));
        painter.drawEllipse(at, radius, radius);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawEllipse(at, radius, radius);
    }

    drawLegend(painter, area);

    // Credits, bottom right.
    const QString credits = tr("Land: Natural Earth \u00B7 Places: GeoNames");
    QFont small = painter.font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    const QRectF creditBox = painter.boundingRect(area.adjusted(0, 0, -6, -4), Qt::AlignRight | Qt::AlignBottom, credits);
    painter.fillRect(creditBox.adjusted(-3, -1, 3, 1), QColor(255, 255, 255, 190));
    painter.setPen(QColor(60, 60, 60));
    painter.drawText(creditBox, Qt::AlignRight | Qt::AlignBottom, credits);
    painter.restore();
}

void MapWidget::drawLand(QPainter &painter, const QRectF &area) const
{
    painter.fillRect(area, seaColour);
    // From the rings already in kilometres: only scale and offset change.
    const QRectF visibleKm(m_viewport.toKm(area.topLeft()), m_viewport.toKm(area.bottomRight()));
    painter.save();
    painter.translate(m_viewport.offset());
    painter.scale(m_viewport.scale(), m_viewport.scale());
    painter.setPen(QPen(coastColour, 0));
    painter.setBrush(landColour);
    for (std::size_t i = 0; i < m_land.size(); ++i) {
        if (m_landBounds[i].intersects(visibleKm))
            painter.drawPolygon(m_land[i]);
    }
    painter.restore();
}

QStringList MapWidget::legendCounts() const
{
    QStringList counts;
    if (m_withoutDepth > 0)
        counts << tr("%1 without depth").arg(m_withoutDepth);
    if (m_withoutMagnitude > 0)
        counts << tr("%1 without magnitude").arg(m_withoutMagnitude);
    if (m_withoutPosition > 0)
        counts << tr("%1 without position (not shown)").arg(m_withoutPosition);
    return counts;
}

QRectF MapWidget::legendBox(const QRectF &area, const QFontMetricsF &metrics) const
{
    const double line = metrics.height();
    const double magnitudesHeight = 2 * EventScales::radius(6) + 4;
    const double height = line * 2 + magnitudesHeight + 14 + line + legendCounts().size() * line + 16;
    return QRectF(area.left() + 8, area.top() + 8, 190, height);
}

void MapWidget::drawLegend(QPainter &painter, const QRectF &area) const
{
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    const QStringList counts = legendCounts();
    const double magnitudesHeight = 2 * EventScales::radius(6) + 4;
    const QRectF box = legendBox(area, metrics);
    const double width = box.width();
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::white);   // opaque: the legend reads the same over any map
    painter.drawRoundedRect(box, 4, 4);

    painter.setPen(Qt::black);
    double y = box.top() + 4;
    painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, tr("Magnitude"));
    y += line;
    // Reference circles on the map's own scale.
    double x = box.left() + 10;
    const double middle = y + magnitudesHeight / 2;
    for (const double magnitude : { 2.0, 4.0, 6.0 }) {
        const double radius = EventScales::radius(magnitude);
        painter.setPen(QPen(QColor(60, 60, 60), 0.8));
        painter.setBrush(QColor(200, 200, 200));
        painter.drawEllipse(QPointF(x + radius, middle), radius, radius);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(x + 2 * radius + 3, middle + metrics.ascent() / 2 - 1), QStringLiteral("M%1").arg(magnitude));
        x += 2 * radius + 3 + metrics.horizontalAdvance(QStringLiteral("M6")) + 10;
    }
    y += magnitudesHeight;
    painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, tr("Depth (km)"));
    y += line;
    // The depth ramp, 0 to 300 km and deeper.
    const QRectF ramp(box.left() + 10, y, width - 26, 10);
    QLinearGradient gradient(ramp.topLeft(), ramp.topRight());
    for (double depth = 0; depth <= 300; depth += 10)
        gradient.setColorAt(depth / 300, EventScales::depthColour(depth));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRect(ramp);
    y += 12;
    painter.setPen(Qt::black);
    for (const double depth : { 0.0, 100.0, 200.0, 300.0 }) {
        const QString label = depth >= 300 ? QStringLiteral("300+") : QString::number(depth);
        const double at = ramp.left() + ramp.width() * depth / 300 - metrics.horizontalAdvance(label) / 2;
        painter.drawText(QPointF(std::max(ramp.left(), std::min(at, ramp.right() - metrics.horizontalAdvance(label))),
                                 y + metrics.ascent()),
                         label);
    }
    y += line + 2;
    for (const QString &text : counts) {
        painter.drawText(QRectF(box.left() + 8, y, width - 16, line), Qt::AlignLeft, text);
        y += line;
    }
}

void MapWidget::resizeEvent(QResizeEvent *)
{
    if (m_fitted)
        fitToEvents();
}

void MapWidget::wheelEvent(QWheelEvent *event)
{
    // About the pointer: the point under it stays where it is.
    const double factor = std::pow(1.25, event->angleDelta().y() / 120.0);
    m_viewport.zoomAbout(event->position(), factor);
    m_fitted = false;
    update();
    event->accept();
}

void MapWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressedAt = event->position();
    m_offsetAtPress = m_viewport.offset();
    m_dragging = false;
}

void MapWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        const QPointF moved = event->position() - m_pressedAt;
        if (m_dragging || moved.manhattanLength() > 3) {
            m_dragging = true;
            m_fitted = false;
            m_viewport.setOffset(m_offsetAtPress + moved);
            update();
        }
        return;
    }
    emit eventHovered(m_events ? eventAt(event->position()) : -1);
}

void MapWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (!m_dragging && m_events) {
        const int index = eventAt(event->position());
        if (index >= 0)
            emit eventClicked(index);
    }
    m_dragging = false;
}

bool MapWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        int others = 0;
        const int index = m_events ? eventAt(help->pos(), &others) : -1;
        if (index < 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        QString text = describe(index);
        if (others > 0)
            text += u'\n' + tr("and %1 more here").arg(others);
        QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

bool MapWidget::save(const QString &path, QString *error) const
{
    return PictureFile::save(path, size(), tr("Harvix map: earthquakes; land: Natural Earth; places: GeoNames"),
                             [this](QPainter &painter, const QRectF &area) { draw(painter, area); }, error);
}
