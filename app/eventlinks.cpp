#include "app/eventlinks.h"

#include "app/eventlist.h"
#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "app/shownresult.h"

#include <QStatusBar>
#include <QTreeWidget>

EventLinks::EventLinks(QTreeWidget *tree, ShownResult *shown, MapWidget *map, PlotsWidget *plots, EventList *list,
                       QStatusBar *status, QObject *parent)
    : QObject(parent)
    , m_tree(tree)
    , m_shown(shown)
    , m_status(status)
{
    connect(map, SIGNAL(eventClicked(int)), this, SLOT(showInTree(int)));
    connect(map, SIGNAL(eventHovered(int)), this, SLOT(showPlace(int)));
    connect(plots, SIGNAL(eventClicked(int)), this, SLOT(showInTree(int)));
    connect(list, SIGNAL(eventSelected(int)), this, SLOT(showInTree(int)));
    connect(m_tree, SIGNAL(currentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)),
            this, SLOT(treeCurrentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)));
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
    return index < m_shown->count() ? index : -1;
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
    const QString place = m_shown->placeOf(index);
    if (!place.isEmpty())
        m_status->showMessage(place, 0);
}

void EventLinks::treeCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    const int index = indexOf(current);
    m_shown->select(index);
    showPlace(index);
}
