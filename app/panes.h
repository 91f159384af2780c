#pragma once

// Panes: the map and the plots beside the result tree, each in a dock of
// its own without a title bar (the form stays as it is), shown or hidden
// as last time. They and the list read the shown result (app/shownresult.h);
// EventLinks ties their events to the tree's items. Also the commands that
// save what they show, and the export of the shown events.

#include "geo/crosssection.h"
#include "geo/outcome.h"
#include "quakeml/quakeeventrecord.h"

#include <QObject>

#include <vector>

class EventLinks;
class EventList;
class QAction;
class RegionBar;
class SequenceAction;
class ShownResult;
class MapWidget;
class PlotsWidget;
class QCompleter;
class QDockWidget;
class QMainWindow;
class QStatusBar;
class QString;
class QTreeWidget;
class QuakeDataManager;

class Panes : public QObject
{
    Q_OBJECT

public:
    // Docks the panes in the window, which grows by their size; they show
    // what the result shows.
    Panes(QMainWindow *window, QTreeWidget *tree, ShownResult *shown);

    MapWidget *map() const { return m_map; }
    PlotsWidget *plots() const { return m_plots; }
    EventLinks *links() const { return m_links; }
    EventList *list() const { return m_list; }
    // The sequence's page after the plots, its action on the list's menu
    // and on the map's over an event; then the tab shown last time.
    void addSequence(SequenceAction *sequence);
    // The region bar outlines its region and section on the map, and takes
    // the boxes, profiles and places chosen there.
    void linkRegion(RegionBar *region);
    bool isMapVisible() const;
    bool isMapShown() const;
    bool arePlotsShown() const;

    void setSection(const CrossSection &section);
    // The circles of events being read, made while the window has time.
    void prepareFor(const std::vector<QuakeLocation> &events) const;
    // The next drag on the map draws a cross-section's profile.
    void drawSection();

    void setMapShown(bool shown);
    void setPlotsShown(bool shown);
    void saveMapAs();
    void savePlotAs();
    // Asks for a place, the field's text first, and centres the map on it.
    void goToPlace(const QString &typed, QCompleter *completer);

    // Writes the shown result's events as CSV, GeoJSON or QuakeML 1.2 by
    // the name's suffix, whole or not at all; declustered, with each one's
    // cluster and mainshock.
    Outcome exportEvents(const QString &path);
    void exportEventsAs();

signals:
    // The map or the plots were asked to show.
    void mapWanted();
    void plotsWanted();
    // Chosen on the map's menu for a point.
    void searchAroundWanted(const GeoPoint &point);
    void watchWanted(const GeoPoint &point);
    // A profile drawn on the map, now the Section plot's.
    void sectionDrawn(const GeoPoint &a, const GeoPoint &b);

private:
    void showPointMenu(const GeoPoint &point, const QPoint &at);
    QDockWidget *addPane(const QString &title, const QString &name, QWidget *content, const char *shownKey);

    QMainWindow *m_window;
    ShownResult *m_shown;
    QDockWidget *m_mapDock;
    MapWidget *m_map;
    QDockWidget *m_plotsDock;
    PlotsWidget *m_plots;
    EventList *m_list;
    EventLinks *m_links;
    QAction *m_eventAction = nullptr;
};
