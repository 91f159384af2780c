#pragma once

// ResultTree: what the result tree keeps beside its items. The items of a
// search's events are made while its reply is read, so that showing the
// result needs only to insert them; and what the user made of the tree
// (collapsed events, the current row, the scroll) is taken before a result
// replaces the last and found again in it. The i-th top-level item is the
// i-th event of the search shown.

#include "quakeml/quakeeventrecord.h"

#include <QFont>
#include <QList>

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class QuakeDataManager;

class ResultTree
{
public:
    explicit ResultTree(QTreeWidget *tree);
    ~ResultTree();
    ResultTree(const ResultTree &) = delete;
    ResultTree &operator=(const ResultTree &) = delete;

    // A result's items made at once, to be inserted in one call, with the
    // font they share.
    struct Build
    {
        QList<QTreeWidgetItem *> items;
        QFont boldFont;
    };

    // The font of an event's item: the tree's, bold.
    static QFont boldFont(const QTreeWidget *tree);

    // Makes the items of the events the search has read since the last
    // call; the locations of those events, for the map to prepare too.
    std::vector<QuakeLocation> prepare(const QuakeDataManager *search);
    // The prepared items in the store's order, one per entry; false, with
    // none left, when they are not all there.
    bool takePrepared(const QuakeDataManager *search, QList<QTreeWidgetItem *> &items);
    void dropPrepared(const QuakeDataManager *search);

    // The event a tree item belongs to: its top-level item's index, or -1.
    static int eventIndexOf(const QTreeWidget *tree, QTreeWidgetItem *item);

    // A row by its event and its place under it (-1: the event's own).
    struct Row
    {
        std::string eventId;
        int row = -1;
    };
    struct State
    {
        std::unordered_set<std::string> collapsed;
        std::optional<Row> current;
        int currentColumn = 0;
        std::optional<Row> top;
        int horizontal = 0;
    };
    // The tree's state, its items being the given events'.
    static State stateOf(const QTreeWidget *tree, const std::vector<LocatedEvent> &events);
    // The state found again in a tree of other events; what is not there
    // any more is passed over.
    static void restore(QTreeWidget *tree, const std::vector<LocatedEvent> &events, const State &state);

private:
    // An item made for an event while its search is read, before the
    // result is shown: the event's identifier in the search's store and
    // the item, not in the tree yet.
    struct Prepared
    {
        const std::string *eventId;
        QTreeWidgetItem *item;
    };

    QTreeWidget *m_tree;
    std::unordered_map<const QuakeDataManager *, std::vector<Prepared>> m_prepared;
};
