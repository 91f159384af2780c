#include "app/plotswidget.h"

#include "app/depthplot.h"
#include "app/frequencymagnitudeplot.h"
#include "app/magnitudetimeplot.h"
#include "app/picturefile.h"
#include "app/sectionplot.h"
#include "app/sequencecharts.h"

#include <QPainter>

PlotsWidget::PlotsWidget(QWidget *parent)
    : QTabWidget(parent)
{
    const char *const titles[] = { "Magnitude\u2013time", "Frequency\u2013magnitude", "Depth", "Section" };
    for (int i = 0; i < PlotCount; ++i) {
        m_plots[i] = create(Plot(i), this);
        addTab(m_plots[i], QString::fromUtf8(titles[i]));
        connect(m_plots[i], &PlotCanvas::eventClicked, this, &PlotsWidget::eventClicked);
    }
}

void PlotsWidget::setEvents(const std::vector<LocatedEvent> *events)
{
    m_eventCount = events ? int(events->size()) : 0;
    m_hidden.clear();
    for (PlotCanvas *plot : m_plots)
        plot->setData(events);
}

void PlotsWidget::setUntil(double utcSeconds)
{
    for (PlotCanvas *plot : m_plots)
        plot->setUntil(utcSeconds);
}

void PlotsWidget::setHiddenEvents(std::vector<bool> hidden, const QString &note)
{
    if (hidden.empty() && m_hidden.empty())
        return;
    m_hidden = std::move(hidden);
    for (PlotCanvas *plot : m_plots)
        plot->setHidden(&m_hidden, note);
}

void PlotsWidget::setFixedDepths(std::unordered_set<const std::string *> fixed)
{
    static_cast<SectionPlot *>(m_plots[Section])->setFixedDepths(std::move(fixed));
}

void PlotsWidget::setSection(const std::optional<CrossSection> &section)
{
    static_cast<SectionPlot *>(m_plots[Section])->setSection(section);
}

PlotCanvas *PlotsWidget::create(Plot which, QWidget *parent)
{
    PlotCanvas *plot = nullptr;
    switch (which) {
    case MagnitudeTime: plot = new MagnitudeTimePlot(parent); break;
    case FrequencyMagnitude: plot = new FrequencyMagnitudePlot(parent); break;
    case DepthHistogram: plot = new DepthPlot(parent); break;
    case Section: plot = new SectionPlot(parent); break;
    }
    const char *const names[] = { "magnitudeTimePlot", "frequencyMagnitudePlot", "depthPlot", "sectionPlot" };
    plot->setObjectName(QLatin1String(names[which]));
    return plot;
}

PlotCanvas *PlotsWidget::plot(Plot which) const
{
    return m_plots[which];
}

std::optional<PlotsWidget::Plot> PlotsWidget::currentPlot() const
{
    for (int i = 0; i < PlotCount; ++i) {
        if (currentWidget() == m_plots[i])
            return Plot(i);
    }
    return std::nullopt;
}

void PlotsWidget::setSelectedEvent(int index)
{
    for (PlotCanvas *plot : m_plots)
        plot->setSelectedEvent(index);
}

bool PlotsWidget::save(Plot which, const QString &path, const PictureFile::PrintSize &print, QString *error) const
{
    const PlotCanvas *canvas = m_plots[which];
    return PictureFile::save(path, print, tabText(indexOf(canvas)),
                             [canvas](QPainter &painter, const QRectF &area) { canvas->draw(painter, area); }, error);
}

const SequenceCharts *PlotsWidget::shownCharts() const
{
    return currentPlot() || !currentWidget() ? nullptr : currentWidget()->findChild<SequenceCharts *>();
}

bool PlotsWidget::showsPicture() const
{
    return currentPlot() || shownCharts();
}

QSize PlotsWidget::shownPictureSize() const
{
    const SequenceCharts *charts = shownCharts();
    return charts ? charts->size() : currentWidget() ? currentWidget()->size() : QSize();
}

bool PlotsWidget::saveShown(const QString &path, const PictureFile::PrintSize &print, QString *error) const
{
    if (const std::optional<Plot> plot = currentPlot())
        return save(*plot, path, print, error);
    const SequenceCharts *charts = shownCharts();
    if (!charts) {
        *error = tr("no plot is shown");
        return false;
    }
    return PictureFile::save(path, print, tabText(currentIndex()),
                             [charts](QPainter &painter, const QRectF &area) { charts->draw(painter, area); }, error);
}

bool PlotsWidget::save(Plot which, const QString &path, QString *error) const
{
    const PlotCanvas *canvas = m_plots[which];
    return PictureFile::save(path, canvas->size().isEmpty() ? QSize(800, 500) : canvas->size(), tabText(indexOf(canvas)),
                             [canvas](QPainter &painter, const QRectF &area) { canvas->draw(painter, area); }, error);
}
