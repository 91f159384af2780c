#pragma once

// EventLinks ties one event together wherever the window shows it: a
// click on the map or a plot, or a row chosen in the list, selects its
// tree item; the tree's current item is the result's selected event
// (app/shownresult.h), which the views mark, and the place of the event
// hovered or selected goes to the status bar. The i-th event of the
// result is the tree's i-th top-level item.

#include <QObject>

class EventList;
class MapWidget;
class PlotsWidget;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class ShownResult;

class EventLinks : public QObject
{
    Q_OBJECT

public:
    EventLinks(QTreeWidget *tree, ShownResult *shown, MapWidget *map, PlotsWidget *plots, EventList *list,
               QStatusBar *status, QObject *parent);

    // The event of the tree's current item, or -1.
    int currentEvent() const;

public slots:
    void showInTree(int index);
    void showPlace(int index);
    void treeCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *previous);

private:
    // The result's event for a tree item (its top-level item), or -1.
    int indexOf(QTreeWidgetItem *item) const;

    QTreeWidget *m_tree;
    ShownResult *m_shown;
    QStatusBar *m_status;
};
