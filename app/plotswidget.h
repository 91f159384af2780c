#pragma once

// PlotsWidget shows the events of the shown search as four plots, a tab
// each (beside whatever other pages the window adds), drawn with QPainter: magnitude against time, frequency-magnitude,
// a depth histogram and a cross-section (app/magnitudetimeplot.h,
// frequencymagnitudeplot.h, depthplot.h, sectionplot.h). Events without the value a plot needs are left out of it
// and counted on it. A click on a dot reports its event.

#include "app/picturefile.h"
#include "app/plotcanvas.h"
#include "geo/crosssection.h"
#include "quakeml/quakeeventrecord.h"

#include <QTabWidget>

class SequenceCharts;

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class PlotsWidget : public QTabWidget
{
    Q_OBJECT

public:
    enum Plot { MagnitudeTime, FrequencyMagnitude, DepthHistogram, Section };
    static constexpr int PlotCount = Section + 1;

    explicit PlotsWidget(QWidget *parent = nullptr);

    // The search's events in the store's order; they must stay until the
    // next call. Null clears.
    void setEvents(const std::vector<LocatedEvent> *events);
    int eventCount() const { return m_eventCount; }

    PlotCanvas *plot(Plot which) const;
    // The plot on the tab shown, if a plot is.
    std::optional<Plot> currentPlot() const;
    void showPlot(Plot which) { setCurrentWidget(plot(which)); }
    // Events every plot leaves out, a flag each in the store's order (empty
    // for none), with the note each plot shows for them; cleared by
    // setEvents.
    void setHiddenEvents(std::vector<bool> hidden, const QString &note);
    // Every plot shows only the events of that time or before (UTC
    // seconds; HUGE_VAL for all).
    void setUntil(double utcSeconds);
    // Rings the event on the plots that draw it; -1 for none.
    void setSelectedEvent(int index);
    // The profile the Section plot shows; none clears it.
    void setSection(const std::optional<CrossSection> &section);
    // The events whose depth the agency fixed, before the events.
    void setFixedDepths(std::unordered_set<const std::string *> fixed);
    // A plot of its own, for pictures and measurements.
    static PlotCanvas *create(Plot which, QWidget *parent = nullptr);
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

    PlotCanvas *m_plots[PlotCount];
    int m_eventCount = 0;
    std::vector<bool> m_hidden;
};
