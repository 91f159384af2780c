#include "app/mapwidget.h"

#include "app/picturefile.h"
#include "geo/eventscales.h"
#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QSettings>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char *const legendFoldedKey = "view/legendFolded";

// New Zealand, shown when there is nothing else to fit.
const std::vector<GeoPoint> newZealand = { { -34.0, 166.0 }, { -47.5, 179.0 } };

QString numberText(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

MapWidget::MapWidget(const ShownResult *shown, QWidget *parent)
    : QWidget(parent)
    , m_shown(shown)
{
    setMouseTracking(true);
    // A click gives it the keys: Space plays through time, Escape leaves a section.
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(240, 200);
    m_legend.setFolded(QSettings().value(QLatin1String(legendFoldedKey), false).toBool());
    readEvents();
    connect(shown, &ShownResult::resultShown, this, &MapWidget::readEvents);
    connect(shown, &ShownResult::selectionChanged, this, &MapWidget::panToSelected);
    connect(shown, &ShownResult::clustersChanged, this, [this] {
        m_events.rearrange();
        update();
    });
    for (auto changed : { &ShownResult::timeChanged, &ShownResult::marksChanged, &ShownResult::withdrawnChanged })
        connect(shown, changed, this, qOverload<>(&QWidget::update));
    connect(shown, &ShownResult::sectionChanged, this, [this] {
        m_section.setSection(m_shown->section());
        update();
    });
}

MapWidget::~MapWidget() = default;

void MapWidget::readEvents()
{
    const std::vector<LocatedEvent> *events = m_shown->events();
    m_place.reset();
    if (m_shown->keepsView() && m_events.count() > 0) {
        // The same projection, scale and offset: what the map shows stays.
        m_events.read(m_viewport.projection());
        update();
        return;
    }
    std::vector<GeoPoint> points;
    if (events) {
        points.reserve(events->size());
        for (const LocatedEvent &event : *events) {
            if (EventLayer::hasPosition(event.location))
                points.push_back({ event.location.latitude, event.location.longitude });
        }
    }
    // Centred on the region searched, which holds the events.
    if (std::vector<GeoPoint> outline = regionOutline(); !outline.empty())
        points = std::move(outline);
    m_viewport.setProjection(Projection::centredOn(points.empty() ? newZealand : points));
    m_events.read(m_viewport.projection());
    m_land.project(m_viewport.projection());
    m_places.project(m_viewport.projection());
    fitToEvents();
}

std::vector<QPointF> MapWidget::pointersToMarked() const
{
    // Where the line from the middle to the event leaves the map, a little inside.
    std::vector<QPointF> tips;
    const QRectF inside = QRectF(rect()).adjusted(8, 8, -8, -8);
    const QPointF middle = inside.center();
    for (int index : m_selection.marked()) {
        if (index < 0 || index >= m_events.count() || !m_events.hasPosition(index))
            continue;
        const QPointF at = positionOf(index);
        if (inside.contains(at) || inside.width() <= 0 || inside.height() <= 0)
            continue;
        const QPointF towards = at - middle;
        const double reach = std::min(towards.x() != 0 ? inside.width() / 2 / std::abs(towards.x()) : 1e300,
                                      towards.y() != 0 ? inside.height() / 2 / std::abs(towards.y()) : 1e300);
        tips.push_back(middle + towards * reach);
    }
    return tips;
}

std::vector<GeoPoint> MapWidget::regionOutline() const
{
    std::vector<GeoPoint> points;
    const SearchRegion &region = m_region.region();
    if (region.box && region.box->width() < 360)
        points = region.box->outline();
    if (region.circle) {
        const std::vector<GeoPoint> circle = region.circle->outline();
        points.insert(points.end(), circle.begin(), circle.end());
    }
    return points;
}

void MapWidget::fitToEvents()
{
    QRectF bounds = m_viewport.projection().bounds(newZealand);
    double largest = 0;
    if (const std::vector<GeoPoint> outline = regionOutline(); !outline.empty()) {
        bounds = m_viewport.projection().bounds(outline);
        largest = m_events.largestRadius();
    } else if (!m_events.drawOrder().empty()) {
        double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
        for (quint32 index : m_events.drawOrder()) {
            const QPointF km = m_events.kmOf(index);
            left = std::min(left, km.x());
            right = std::max(right, km.x());
            top = std::min(top, km.y());
            bottom = std::max(bottom, km.y());
        }
        largest = m_events.largestRadius();
        bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    // At least 100 km across, so that one event is shown with its region.
    const double width = std::max(bounds.width(), 100.0), height = std::max(bounds.height(), 100.0);
    bounds = QRectF(bounds.center() - QPointF(width / 2, height / 2), QSizeF(width, height));
    const double w = std::max(1, this->width()), h = std::max(1, this->height());
    // The events' centres fill the map inside a margin that holds the
    // largest circle whole, or half the map at most.
    const double margin = std::min(std::max(largest + 4, std::min(w, h) * 0.05), std::min(w, h) * 0.25);
    const auto fitInto = [&](const QRectF &pixels) { return m_viewport.fit(bounds, pixels); };
    fitInto(QRectF(margin, margin, w - 2 * margin, h - 2 * margin));
    // The legend is opaque: events it would cover are fitted beside it or
    // below it instead, whichever shows them larger.
    const QRectF legend = legendRect().adjusted(-2, -2, 2, 2);
    const std::vector<quint32> &drawn = m_events.drawOrder();
    const double zoom = EventScales::zoomFactor(m_viewport.scale());
    const bool covered = std::any_of(drawn.begin(), drawn.end(), [&](quint32 index) {
        const double radius = m_events.radiusOf(index, zoom);
        return legend.intersects(QRectF(m_viewport.toScreen(m_events.kmOf(index)) - QPointF(radius, radius),
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

QPointF MapWidget::positionOf(int index) const
{
    return m_viewport.toScreen(m_events.kmOf(quint32(index)));
}

void MapWidget::panToSelected()
{
    const int selected = m_selection.selected();
    if (selected >= 0 && !rect().adjusted(10, 10, -10, -10).contains(positionOf(selected).toPoint()))
        m_viewport.setOffset(m_viewport.offset() + QPointF(width() / 2.0, height() / 2.0) - positionOf(selected));
    update();
}

int MapWidget::eventAt(const QPointF &position, int *others) const
{
    return m_events.eventAt(position, m_viewport, others);
}

QString MapWidget::placeOf(int index) const
{
    return m_shown->placeOf(index);
}

QString MapWidget::describe(int index) const
{
    if (index < 0 || index >= eventCount())
        return QString();
    const LocatedEvent &event = (*m_events.events())[std::size_t(index)];
    // Its reference and local time, or its identifier when it has no origin.
    const auto latin1 = [](std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); };
    QStringList lines;
    lines << latin1(event.referenceLength < 0 ? std::string_view(*event.eventId) : event.reference());
    if (!event.localTime().empty())
        lines << latin1(event.localTime());
    const QuakeLocation &at = event.location;
    lines << tr("Magnitude %1, depth %2")
                 .arg(std::isfinite(at.magnitude) ? numberText(at.magnitude) : tr("unknown"),
                      std::isfinite(at.depthKm) ? tr("%1 km").arg(numberText(at.depthKm)) : tr("unknown"));
    const QString place = placeOf(index);
    if (!place.isEmpty())
        lines << place;
    return lines.join(u'\n');
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
    // While playing on a raster, the land and events come from the frame before.
    const bool raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    if (m_flashes.isPlaying() && raster) {
        m_played.render(painter, area, m_viewport);
    } else {
        m_played.forget();
        m_land.render(painter, area, m_viewport);
        m_events.render(painter, area, m_viewport);
    }
    for (const MapLayer *layer : std::initializer_list<const MapLayer *> { &m_flashes, &m_region, &m_section, &m_selection, &m_places })
        layer->render(painter, area, m_viewport);
    // A place gone to: a pin and its name.
    if (m_place) {
        const QPointF at = m_viewport.toScreen(projection().project(m_place->first));
        painter.setPen(QPen(Qt::white, 4));
        painter.drawLine(at - QPointF(7, 7), at + QPointF(7, 7));
        painter.drawLine(at - QPointF(7, -7), at + QPointF(7, -7));
        painter.setPen(QPen(QColor(20, 20, 20), 2));
        painter.drawLine(at - QPointF(7, 7), at + QPointF(7, 7));
        painter.drawLine(at - QPointF(7, -7), at + QPointF(7, -7));
        QFont bold = painter.font();
        bold.setWeight(QFont::Bold);
        painter.setFont(bold);
        const QRectF label(at + QPointF(10, -20), QSizeF(QFontMetricsF(bold).horizontalAdvance(m_place->second) + 6, 18));
        painter.fillRect(label, QColor(255, 255, 255, 210));
        painter.drawText(label, Qt::AlignCenter, m_place->second);
    }
    // Withdrawn events: grey crosses where they were.
    painter.setPen(QPen(QColor(110, 110, 110), 2));
    for (const GeoPoint &point : withdrawn()) {
        const QPointF at = m_viewport.toScreen(projection().project(point));
        painter.drawLine(at - QPointF(5, 5), at + QPointF(5, 5));
        painter.drawLine(at - QPointF(5, -5), at + QPointF(5, -5));
    }
    // New events off the map: an arrow on the edge towards each.
    const QPointF middle = QRectF(rect()).center();
    for (const QPointF &tip : pointersToMarked()) {
        const QPointF towards = tip - middle;
        const double length = std::hypot(towards.x(), towards.y());
        const QPointF along = towards / std::max(length, 1e-9), across(-along.y(), along.x());
        const QPolygonF arrow { tip, tip - along * 14 + across * 7, tip - along * 14 - across * 7 };
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(SelectionLayer::markColour());
        painter.drawPolygon(arrow);
    }
    for (const MapLayer *layer : std::initializer_list<const MapLayer *> { &m_legend, &m_scaleBar, &m_credits })
        layer->render(painter, area, m_viewport);
    painter.restore();
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
    // A click on the legend folds or unfolds it; a drag from it pans.
    m_onLegend = !m_sectionNext && legendRect().contains(event->position());
    m_pressedAt = event->position();
    m_offsetAtPress = m_viewport.offset();
    m_dragging = false;
    m_drawingSection = m_sectionNext;
    m_drawingBox = !m_drawingSection && (event->modifiers() & Qt::ShiftModifier);
}

void MapWidget::setLegendFolded(bool folded)
{
    m_legend.setFolded(folded);
    QSettings().setValue(QLatin1String(legendFoldedKey), folded);
    update();
}

void MapWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        const QPointF moved = event->position() - m_pressedAt;
        if (m_drawingSection) {
            m_section.setRubberLine(QLineF(m_pressedAt, event->position()));
            update();
        } else if (m_drawingBox) {
            m_region.setRubberBand(QRectF(m_pressedAt, event->position()).normalized());
            update();
        } else if (m_dragging || moved.manhattanLength() > 3) {
            m_dragging = true;
            m_fitted = false;
            m_viewport.setOffset(m_offsetAtPress + moved);
            update();
        }
        return;
    }
    emit eventHovered(eventAt(event->position()));
}

void MapWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool onLegend = std::exchange(m_onLegend, false);
    if (m_drawingSection) {
        m_drawingSection = false;
        m_section.setRubberLine(QLineF());
        update();
        if (QLineF(m_pressedAt, event->position()).length() > 3) {
            m_sectionNext = false;
            unsetCursor();
            emit sectionDrawn(pointAt(m_pressedAt), pointAt(event->position()));
        }
        return;
    }
    if (m_drawingBox) {
        m_drawingBox = false;
        m_region.setRubberBand(QRectF());
        update();
        const QRectF band = QRectF(m_pressedAt, event->position()).normalized();
        if (band.width() > 3 && band.height() > 3)
            emit boxDrawn(boxBetween(band.bottomLeft(), band.topRight()));
        return;
    }
    if (!m_dragging && onLegend) {
        setLegendFolded(!m_legend.isFolded());
    } else if (!m_dragging) {
        const int index = eventAt(event->position());
        if (index >= 0)
            emit eventClicked(index);
    }
    m_dragging = false;
}

void MapWidget::showPlace(const GeoPoint &point, const QString &name, double kmAcross)
{
    const QPointF km = projection().project(point);
    const double w = std::max(1, width()), h = std::max(1, height());
    m_viewport.fit(QRectF(km - QPointF(kmAcross / 2, kmAcross / 2), QSizeF(kmAcross, kmAcross)),
                   QRectF(0, 0, w, h));
    m_place = std::make_pair(point, name);
    m_fitted = false;
    update();
}

void MapWidget::showKm(const QRectF &km)
{
    m_viewport.fit(km, QRectF(0, 0, std::max(1, width()), std::max(1, height())));
    m_fitted = false;
    update();
}

void MapWidget::centreOn(const GeoPoint &point)
{
    m_viewport.setOffset(QRectF(rect()).center() - projection().project(point) * m_viewport.scale());
    m_fitted = false;
    update();
}

void MapWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && m_sectionNext) {
        m_sectionNext = m_drawingSection = false;
        m_section.setRubberLine(QLineF());
        unsetCursor();
        update();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MapWidget::contextMenuEvent(QContextMenuEvent *event)
{
    emit pointMenuRequested(pointAt(event->pos()), event->globalPos());
}

void MapWidget::startSection()
{
    m_sectionNext = true;
    setCursor(Qt::CrossCursor);
    setFocus(Qt::OtherFocusReason);
}

GeoPoint MapWidget::pointAt(const QPointF &position) const
{
    return projection().unproject(m_viewport.toKm(position));
}

QPointF MapWidget::positionOf(const GeoPoint &point) const
{
    return m_viewport.toScreen(projection().project(point));
}

void MapWidget::setRegion(const SearchRegion &region)
{
    m_region.setRegion(region);
    // A search around a town names the town, whatever else is named.
    const Places::Place *first = nullptr;
    double km = 0;
    if (region.circle) {
        first = ShippedData::places().nearest(region.circle->centre, &km);
        if (km > 1)
            first = nullptr;
    }
    m_places.setFirst(first);
    update();
}

SearchRegion::Box MapWidget::boxBetween(const QPointF &southWest, const QPointF &northEast) const
{
    const GeoPoint from = pointAt(southWest);
    const GeoPoint to = pointAt(northEast);
    // West as -180 to 180; east as far beyond it as the box is wide.
    const double west = Geo::periodicLongitude(from.longitude);
    const auto clampLatitude = [](double latitude) { return std::clamp(latitude, -90.0, 90.0); };
    return { west, clampLatitude(from.latitude), west + std::min(360.0, to.longitude - from.longitude),
             clampLatitude(to.latitude) };
}

SearchRegion::Box MapWidget::visibleBox() const
{
    return boxBetween(rect().bottomLeft(), rect().topRight());
}

bool MapWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        int others = 0;
        const int index = eventAt(help->pos(), &others);
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
