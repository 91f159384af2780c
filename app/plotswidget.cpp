#include "app/plotswidget.h"

#include "app/depthplot.h"
#include "app/frequencymagnitudeplot.h"
#include "app/magnitudetimeplot.h"
#include "app/picturefile.h"
#include "app/sectionplot.h"
#include "app/sequencecharts.h"

#include <QPainter>

PlotsWidget::PlotsWidget(const ShownResult *shown, QWidget *parent)
    : QTabWidget(parent)
    , m_shown(shown)
{
    const char *const titles[] = { "Magnitude\u2013time", "Frequency\u2013magnitude", "Depth", "Section" };
    for (int i = 0; i < PlotCount; ++i) {
        m_plots[i] = create(Plot(i), shown, this);
        addTab(m_plots[i], QString::fromUtf8(titles[i]));
        connect(m_plots[i], &PlotCanvas::eventClicked, this, &PlotsWidget::eventClicked);
    }
}

PlotCanvas *PlotsWidget::create(Plot which, const ShownResult *shown, QWidget *parent)
{
    PlotCanvas *plot = nullptr;
    switch (which) {
    case MagnitudeTime: plot = new MagnitudeTimePlot(shown, parent); break;
    case FrequencyMagnitude: plot = new FrequencyMagnitudePlot(shown, parent); break;
    case DepthHistogram: plot = new DepthPlot(shown, parent); break;
    case Section: plot = new SectionPlot(shown, parent); break;
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
