// The result tree: one bold, expanded item per event with a row per field,
// and the event page opened from a "Reference ID:" value.

#include "app/mainappwindow.h"

#include "quakeml/latin1.h"
#include "service/geonetservice.h"
#include "service/quakedatamanager.h"

#include <QDesktopServices>
#include <QFont>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>

namespace {

// Builds the item without inserting it, so that a whole result can go into
// the tree in one call.
QTreeWidgetItem *makeEventItem(const QFont &boldFont, const std::string &eventId,
                               const QuakeFieldMap &fields)
{
    auto *eventItem = new QTreeWidgetItem;
    eventItem->setText(0, Latin1::toText(eventId));
    eventItem->setFont(0, boldFont);

    QList<QTreeWidgetItem *> rows;
    for (const auto &[label, value] : fields) {
        if (value.empty())
            continue;
        auto *row = new QTreeWidgetItem;
        row->setText(0, Latin1::toText(label));
        row->setText(1, Latin1::toText(value));
        rows.append(row);
    }
    eventItem->addChildren(rows);
    return eventItem;
}

QFont boldFontOf(const QTreeWidget *tree)
{
    QFont font = tree->font();
    font.setWeight(QFont::Bold);
    return font;
}

} // namespace

void MainAppWindow::buildTreeModel(QuakeDataManager *manager, QTreeWidget *tree)
{
    if (!tree || !manager)
        return;
    tree->clear();

    const QuakeEventStore &events = manager->quakeEvents();
    const QFont boldFont = boldFontOf(tree);
    QList<QTreeWidgetItem *> items;
    items.reserve(qsizetype(events.size()));
    for (const auto &[eventId, fields] : events)
        items.append(makeEventItem(boldFont, eventId, fields));
    if (items.isEmpty()) {
        auto *none = new QTreeWidgetItem;
        none->setText(0, tr("No quake events matching search criteria"));
        items.append(none);
    }
    tree->addTopLevelItems(items);
    tree->expandAll();

    statusBar()->showMessage(tr("Retrieved %1 quake events matching search criteria.")
                                 .arg(qulonglong(events.size())),
                             0);
}

void MainAppWindow::newTreeItemForQuakeEvent(QTreeWidget *tree, const std::string &eventId,
                                             std::map<std::string, std::string> &fields)
{
    tree->addTopLevelItem(makeEventItem(boldFontOf(tree), eventId, fields));
}

void MainAppWindow::treeViewItemClicked(QTreeWidgetItem *item, int column)
{
    if (column != 1 || !item || item->text(0) != QLatin1String("Reference ID:"))
        return;
    QDesktopServices::openUrl(QUrl(GeoNetService::eventPageUrl() + item->text(1)));
}
