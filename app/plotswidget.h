#pragma once

// PlotsWidget shows the shown result's events (app/shownresult.h) as four
// plots, a tab each (beside whatever other pages the window adds), drawn
// with QPainter: magnitude against time, frequency-magnitude, a depth
// histogram and a cross-section (app/magnitudetimeplot.h,
// frequencymagnitudeplot.h, depthplot.h, sectionplot.h). Events without
// the value a plot needs are left out of it and counted on it. A click on
// a dot reports its event.

#include "app/picturefile.h"
#include "app/plotcanvas.h"
#include "geo/crosssection.h"
#include "quakeml/quakeeventrecord.h"

#include <QTabWidget>

class SequenceCharts;

#include <optional>

class PlotsWidget : public QTabWidget
{
    Q_OBJECT

public:
    enum Plot { MagnitudeTime, FrequencyMagnitude, DepthHistogram, Section };
    static constexpr int PlotCount = Section + 1;

    // The result must outlive the plots.
    explicit PlotsWidget(const ShownResult *shown, QWidget *parent = nullptr);

    int eventCount() const { return m_shown->count(); }

    PlotCanvas *plot(Plot which) const;
    // The plot on the tab shown, if a plot is.
    std::optional<Plot> currentPlot() const;
    void showPlot(Plot which) { setCurrentWidget(plot(which)); }
    // A plot of its own, for pictures and measurements.
    static PlotCanvas *create(Plot which, const ShownResult *shown, QWidget *parent = nullptr);
    // Writes the plot shown as PNG or SVG by the file's suffix, at its size
    // on screen or at a size on paper.
    bool save(Plot which, const QString &path, QString *error) const;
    bool save(Plot which, const QString &path, const PictureFile::PrintSize &print, QString *error) const;
    // What Save Plot As saves: the plot shown, or the charts of the
    // Sequence tab. Whether there is one, its size on screen, and saving it.
    bool showsPicture() const;
    QSize shownPictureSize() const;
    bool saveShown(const QString &path, const PictureFile::PrintSize &print, QString *error) const;

signals:
    void eventClicked(int index);

private:
    const SequenceCharts *shownCharts() const;

    const ShownResult *m_shown;
    PlotCanvas *m_plots[PlotCount];
};
