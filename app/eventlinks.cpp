#include "app/eventlinks.h"

#include "app/eventlist.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"

#include <QStatusBar>
#include <QTreeWidget>

EventLinks::EventLinks(QTreeWidget *tree, MapWidget *map, PlotsWidget *plots, EventList *list, QStatusBar *status,
                       QObject *parent)
    : QObject(parent)
    , m_tree(tree)
    , m_map(map)
    , m_plots(plots)
    , m_list(list)
    , m_status(status)
{
    connect(m_map, SIGNAL(eventClicked(int)), this, SLOT(showInTree(int)));
    connect(m_map, SIGNAL(eventHovered(int)), this, SLOT(showPlace(int)));
    connect(m_plots, SIGNAL(eventClicked(int)), this, SLOT(showInTree(int)));
    connect(m_list, SIGNAL(eventSelected(int)), this, SLOT(showInTree(int)));
    connect(m_tree, SIGNAL(currentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)),
            this, SLOT(treeCurrentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)));
}

void EventLinks::setEvents(const std::vector<LocatedEvent> &events, const std::vector<RawEvent> *raw, bool keepMapView)
{
    m_map->setEvents(&events, keepMapView);
    m_plots->setEvents(&events);
    m_list->setEvents(&events, raw);
}

int EventLinks::currentEvent() const
{
    return indexOf(m_tree->currentItem());
}

int EventLinks::indexOf(QTreeWidgetItem *item) const
{
    while (item && item->parent())
        item = item->parent();
    const int index = item ? m_tree->indexOfTopLevelItem(item) : -1;
    return index < m_map->eventCount() ? index : -1;
}

void EventLinks::showInTree(int index)
{
    QTreeWidgetItem *item = m_tree->topLevelItem(index);
    if (!item)
        return;
    m_tree->setCurrentItem(item);
    item->setExpanded(true);
    m_tree->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void EventLinks::showPlace(int index)
{
    const QString place = m_map->placeOf(index);
    if (!place.isEmpty())
        m_status->showMessage(place, 0);
}

void EventLinks::treeCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    const int index = indexOf(current);
    m_map->setSelectedEvent(index);
    m_plots->setSelectedEvent(index);
    m_list->selectEvent(index);
    showPlace(index);
}
