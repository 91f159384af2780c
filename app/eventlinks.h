#pragma once

// EventLinks ties one event together wherever the window shows it: a
// click on the map or a plot, or a row chosen in the list, selects its
// tree item; the tree's current item is marked on the map and the plots
// and selected in the list, and the place of the event hovered or selected
// goes to the status bar. The i-th event of the map and the plots
// is the tree's i-th top-level item.

#include "quakeml/quakeeventrecord.h"

#include <QObject>

#include <vector>

class EventList;
class MapWidget;
class PlotsWidget;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

class EventLinks : public QObject
{
    Q_OBJECT

public:
    EventLinks(QTreeWidget *tree, MapWidget *map, PlotsWidget *plots, EventList *list, QStatusBar *status,
               QObject *parent);

    // The shown search's events, in the tree's order, and their raw texts;
    // they must stay until the next call. The map keeps its view when asked
    // to.
    void setEvents(const std::vector<LocatedEvent> &events, const std::vector<RawEvent> *raw = nullptr,
                   bool keepMapView = false);
    // The event of the tree's current item, or -1.
    int currentEvent() const;

public slots:
    void showInTree(int index);
    void showPlace(int index);
    void treeCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *previous);

private:
    // The map's event for a tree item (its top-level item), or -1.
    int indexOf(QTreeWidgetItem *item) const;

    QTreeWidget *m_tree;
    MapWidget *m_map;
    PlotsWidget *m_plots;
    EventList *m_list;
    QStatusBar *m_status;
};
