#include "app/plotcanvas.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

PlotCanvas::PlotCanvas(const ShownResult *shown, QWidget *parent)
    : QWidget(parent)
    , m_shown(shown)
{
    setMinimumSize(240, 160);
    // Subclasses are not made yet: the first reading waits for the events.
    connect(shown, &ShownResult::resultShown, this, &PlotCanvas::reanalyse);
    connect(shown, &ShownResult::clustersChanged, this, &PlotCanvas::reanalyse);
    connect(shown, &ShownResult::selectionChanged, this, qOverload<>(&QWidget::update));
    connect(shown, &ShownResult::timeChanged, this, [this] {
        if (drawsUntil())
            update();
    });
    connect(shown, &ShownResult::timeSettled, this, [this] {
        if (drawsUntil())
            m_shownCount = countShown();
        else
            reanalyse();
    });
}

int PlotCanvas::countShown() const
{
    int count = 0;
    for (std::size_t i = 0; events() && i < events()->size(); ++i)
        count += isShown(i) ? 1 : 0;
    return count;
}

void PlotCanvas::reanalyse()
{
    m_notes.clear();
    m_notesArea = QRectF();
    clear();
    m_shownCount = countShown();
    if (const std::vector<LocatedEvent> *located = events()) {
        analyse(*located, m_notes);
        if (!m_shown->hiddenNote().isEmpty())
            m_notes << m_shown->hiddenNote();
        // Played through time, a plot that leaves the later events out says
        // so, on the screen and in a saved picture alike.
        const double until = m_shown->until();
        if (until != HUGE_VAL && !drawsUntil())
            m_notes << tr("Events up to %1 (Play Through Time)")
                           .arg(QDateTime::fromMSecsSinceEpoch(qint64(std::floor(until * 1000)), Qt::UTC)
                                    .toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm t")));
    }
    update();
}

int PlotCanvas::eventAt(const QPointF &) const
{
    return -1;
}

QPointF PlotCanvas::positionOf(int) const
{
    return QPointF();
}

QRectF PlotCanvas::plotArea(const QRectF &area) const
{
    return area.adjusted(58, 14, -rightMargin(), -44);
}

QString PlotCanvas::eventsText(int count)
{
    return count == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events").arg(count);
}

void PlotCanvas::drawAxisTitle(QPainter &painter, double x, double centreY, int angle, const QString &title)
{
    painter.save();
    painter.translate(x, centreY);
    painter.rotate(angle);
    painter.drawText(QRectF(-100, -10, 200, 20), Qt::AlignCenter, title);
    painter.restore();
}

void PlotCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    draw(painter, rect());
    const int selected = m_shown->selected();
    const QPointF at = selected >= 0 ? positionOf(selected) : QPointF();
    if (!at.isNull() && frame().adjusted(-2, -2, 2, 2).contains(at)) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
        painter.drawEllipse(at, 7, 7);
    }
}

void PlotCanvas::draw(QPainter &painter, const QRectF &area, bool withNotes) const
{
    const QRectF plot = plotArea(area);
    painter.fillRect(area, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    if (events()) {
        // Whatever pen, brush or font the plot leaves, the notes start afresh.
        painter.save();
        drawPlot(painter, plot, area);
        painter.restore();
    }
    if (!withNotes)
        return;
    const QList<KeyEntry> entries = key();
    if (m_notes.isEmpty() && entries.isEmpty())
        return;
    const QRectF box = notesBox(area);
    const QFontMetricsF metrics(painter.font());
    painter.fillRect(box, QColor(255, 255, 255, 220));
    painter.setPen(Qt::black);
    double y = box.top();
    for (const QString &note : m_notes) {
        painter.drawText(QRectF(box.left(), y, box.width(), metrics.height()), Qt::AlignCenter, note);
        y += metrics.height();
    }
    for (const KeyEntry &entry : entries) {
        const double side = metrics.height() - 4;
        painter.save();
        entry.swatch(painter, QRectF(box.left() + 4, y + 2, side, side));
        painter.restore();
        painter.setPen(Qt::black);
        painter.drawText(QRectF(box.left() + side + 8, y, box.width() - side - 8, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, entry.text);
        y += metrics.height();
    }
}

QRectF PlotCanvas::notesBox(const QRectF &area) const
{
    // The frame's corners first, then the room's, where a frame that keeps
    // its scale leaves some (and is too narrow for the notes, perhaps).
    const QRectF room = PlotCanvas::plotArea(area), frame = plotArea(area);
    const QFontMetricsF metrics(font());
    const QList<KeyEntry> entries = key();
    double width = 0;
    for (const QString &note : m_notes)
        width = std::max(width, metrics.horizontalAdvance(note) + 6);
    for (const KeyEntry &entry : entries)
        width = std::max(width, metrics.horizontalAdvance(entry.text) + metrics.height() + 10);
    const QSizeF size(std::min(width, room.width() - 8), metrics.height() * double(m_notes.size() + entries.size()));
    std::vector<QRectF> corners;
    for (const QRectF &plot : { frame, room }) {
        if (plot.width() < size.width() + 8 || plot.height() < size.height() + 8)
            continue;
        const double left = plot.left() + 4, right = plot.right() - 4 - size.width();
        const double top = plot.top() + 4, bottom = plot.bottom() - 4 - size.height();
        for (const QPointF &corner : { QPointF(right, top), QPointF(left, top), QPointF(right, bottom), QPointF(left, bottom) })
            corners.emplace_back(corner, size);
    }
    if (corners.empty())
        corners.emplace_back(QPointF(room.right() - 4 - size.width(), room.top() + 4), size);
    if (!events())
        return corners[0];
    if (m_notesArea == area && m_notesBox.size() == size)
        return m_notesBox;
    // The plot alone, drawn once more off screen: the corner with the
    // fewest pixels of it takes the notes.
    const QSize pixels = area.size().toSize().expandedTo(QSize(1, 1));
    QImage drawn(pixels, QImage::Format_RGB32);
    {
        QPainter offscreen(&drawn);
        offscreen.setFont(font());
        offscreen.translate(-area.topLeft());
        draw(offscreen, area, false);
    }
    const auto inked = [&](const QRectF &corner) {
        const QRect cells = corner.translated(-area.topLeft()).toAlignedRect() & drawn.rect();
        qint64 count = 0;
        for (int y = cells.top(); y <= cells.bottom(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(drawn.constScanLine(y));
            for (int x = cells.left(); x <= cells.right(); ++x)
                count += qGray(line[x]) < 250 ? 1 : 0;
        }
        return count;
    };
    const QRectF *best = &corners[0];
    qint64 least = inked(corners[0]);
    for (const QRectF &corner : corners) {
        if (const qint64 count = inked(corner); count < least) {
            least = count;
            best = &corner;
        }
    }
    m_notesArea = area;
    m_notesBox = *best;
    return *best;
}

void PlotCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    const int index = event->button() == Qt::LeftButton ? eventAt(event->position()) : -1;
    if (index >= 0)
        emit eventClicked(index);
}

bool PlotCanvas::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int index = eventAt(help->pos());
        if (index < 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        const LocatedEvent &located = (*events())[std::size_t(index)];
        const std::string &key = *located.eventId;
        const QuakeLocation &at = located.location;
        QToolTip::showText(help->globalPos(),
                           QString::fromLatin1(key.data(), qsizetype(key.size())) + u'\n'
                               + tr("Magnitude %1, depth %2").arg(at.magnitude, 0, 'f', 1)
                                     .arg(std::isfinite(at.depthKm) ? tr("%1 km").arg(at.depthKm, 0, 'f', 1) : tr("unknown")),
                           this);
        return true;
    }
    return QWidget::event(event);
}
