#include "app/plotcanvas.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

PlotCanvas::PlotCanvas(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(240, 160);
}

void PlotCanvas::setData(const std::vector<LocatedEvent> *events)
{
    m_events = events;
    m_notes.clear();
    clear();
    if (events)
        analyse(*events, m_notes);
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
}

void PlotCanvas::draw(QPainter &painter, const QRectF &area) const
{
    const QRectF plot = plotArea(area);
    painter.fillRect(area, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    if (m_events)
        drawPlot(painter, plot, area);
    // Notes, top right of the plot.
    const QFontMetricsF metrics(painter.font());
    double y = plot.top() + 4;
    for (const QString &note : m_notes) {
        const QRectF box(plot.right() - metrics.horizontalAdvance(note) - 10, y, metrics.horizontalAdvance(note) + 6, metrics.height());
        painter.fillRect(box, QColor(255, 255, 255, 220));
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, note);
        y += metrics.height();
    }
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
        const std::string &key = *(*m_events)[std::size_t(index)].eventId;
        const QuakeLocation &at = (*m_events)[std::size_t(index)].location;
        QToolTip::showText(help->globalPos(),
                           QString::fromLatin1(key.data(), qsizetype(key.size())) + u'\n'
                               + tr("Magnitude %1, depth %2").arg(at.magnitude, 0, 'f', 1)
                                     .arg(std::isfinite(at.depthKm) ? tr("%1 km").arg(at.depthKm, 0, 'f', 1) : tr("unknown")),
                           this);
        return true;
    }
    return QWidget::event(event);
}
