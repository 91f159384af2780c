#include "app/resulttree.h"

#include "app/resultitems.h"
#include "quakeml/storeorder.h"
#include "service/quakedatamanager.h"

#include <QScrollBar>
#include <QTreeWidget>

#include <algorithm>

namespace {

const std::string *eventIdAt(const std::vector<LocatedEvent> &events, int index)
{
    return index >= 0 && std::size_t(index) < events.size() ? events[std::size_t(index)].eventId : nullptr;
}

std::optional<ResultTree::Row> rowOf(const QTreeWidget *tree, const std::vector<LocatedEvent> &events,
                                     QTreeWidgetItem *item)
{
    const std::string *id = eventIdAt(events, ResultTree::eventIndexOf(tree, item));
    if (!id)
        return std::nullopt;
    return ResultTree::Row { *id, item->parent() ? item->parent()->indexOfChild(item) : -1 };
}

} // namespace

ResultTree::ResultTree(QTreeWidget *tree)
    : m_tree(tree)
{
}

ResultTree::~ResultTree()
{
    for (const auto &[search, prepared] : m_prepared) {
        for (const Prepared &p : prepared)
            delete p.item;
    }
}

QFont ResultTree::boldFont(const QTreeWidget *tree)
{
    QFont font = tree->font();
    font.setWeight(QFont::Bold);
    return font;
}

std::vector<QuakeLocation> ResultTree::prepare(const QuakeDataManager *search)
{
    // The manager notes each event as it stores it, in the order read; an
    // identifier read again replaces the fields, and the item made for it
    // before is dropped when the items are taken.
    const std::vector<LocatedEvent> &read = search->quakeLocations();
    std::vector<Prepared> &prepared = m_prepared[search];
    std::vector<QuakeLocation> locations;
    if (prepared.size() >= read.size())
        return locations;
    const QFont bold = boldFont(m_tree);
    locations.reserve(read.size() - prepared.size());
    for (std::size_t i = prepared.size(); i < read.size(); ++i) {
        const std::string &eventId = *read[i].eventId;
        prepared.push_back({ &eventId, ResultItems::eventItem(eventId, search->quakeEvents().at(eventId), bold) });
        locations.push_back(read[i].location);
    }
    return locations;
}

bool ResultTree::takePrepared(const QuakeDataManager *search, QList<QTreeWidgetItem *> &items)
{
    const auto found = m_prepared.find(search);
    if (found == m_prepared.end())
        return false;
    std::vector<Prepared> prepared = std::move(found->second);
    m_prepared.erase(found);
    StoreOrder::alignToStore(prepared, [](const Prepared &p) { return p.eventId; },
                             [](const Prepared &p) { delete p.item; });
    const bool whole = prepared.size() == search->quakeEvents().size();
    items.reserve(qsizetype(prepared.size()));
    for (const Prepared &p : prepared) {
        if (whole)
            items.append(p.item);
        else
            delete p.item;
    }
    return whole;
}

void ResultTree::dropPrepared(const QuakeDataManager *search)
{
    const auto found = m_prepared.find(search);
    if (found == m_prepared.end())
        return;
    for (const Prepared &p : found->second)
        delete p.item;
    m_prepared.erase(found);
}

int ResultTree::eventIndexOf(const QTreeWidget *tree, QTreeWidgetItem *item)
{
    while (item && item->parent())
        item = item->parent();
    return item ? tree->indexOfTopLevelItem(item) : -1;
}

ResultTree::State ResultTree::stateOf(const QTreeWidget *tree, const std::vector<LocatedEvent> &events)
{
    State state;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (!tree->topLevelItem(i)->isExpanded()) {
            if (const std::string *id = eventIdAt(events, i))
                state.collapsed.insert(*id);
        }
    }
    state.current = rowOf(tree, events, tree->currentItem());
    state.currentColumn = std::max(0, tree->currentColumn());
    state.top = rowOf(tree, events, tree->itemAt(QPoint(0, 0)));
    state.horizontal = tree->horizontalScrollBar()->value();
    return state;
}

void ResultTree::restore(QTreeWidget *tree, const std::vector<LocatedEvent> &events, const State &state)
{
    std::unordered_map<std::string, int> indexOf;
    indexOf.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i)
        indexOf.emplace(*events[i].eventId, int(i));
    const auto itemOf = [&](const std::optional<Row> &row) -> QTreeWidgetItem * {
        const auto found = row ? indexOf.find(row->eventId) : indexOf.end();
        QTreeWidgetItem *item = found == indexOf.end() ? nullptr : tree->topLevelItem(found->second);
        return item && row->row >= 0 ? item->child(row->row) : item;
    };
    for (const std::string &id : state.collapsed) {
        if (const auto found = indexOf.find(id); found != indexOf.end())
            tree->topLevelItem(found->second)->setExpanded(false);
    }
    if (QTreeWidgetItem *current = itemOf(state.current))
        tree->setCurrentItem(current, state.currentColumn);
    if (QTreeWidgetItem *top = itemOf(state.top))
        tree->scrollToItem(top, QAbstractItemView::PositionAtTop);
    tree->horizontalScrollBar()->setValue(state.horizontal);
}
