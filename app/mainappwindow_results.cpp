// The result tree: one bold, expanded item per event with a row per field,
// and the event page opened from a "Reference ID:" value.

#include "app/mainappwindow.h"

#include "app/mapwidget.h"
#include "app/resultitems.h"
#include "quakeml/quakemlreader.h"
#include "service/quakeservice.h"
#include "service/quakedatamanager.h"

#include <QDesktopServices>
#include <QDockWidget>
#include <QFont>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>

namespace {

QFont boldFontOf(const QTreeWidget *tree)
{
    QFont font = tree->font();
    font.setWeight(QFont::Bold);
    return font;
}

} // namespace

struct MainAppWindow::TreeBuild
{
    QList<QTreeWidgetItem *> items;
    QFont boldFont;
};

void MainAppWindow::buildTreeModel(QuakeDataManager *manager, QTreeWidget *tree)
{
    if (!tree || !manager)
        return;
    m_shownSearch = manager;
    tree->clear();

    const QuakeEventStore &events = manager->quakeEvents();
    TreeBuild build;
    if (!takePreparedItems(manager, build.items)) {
        build.boldFont = boldFontOf(tree);
        build.items.reserve(qsizetype(events.size()));
        m_treeBuild = &build;
        // newTreeItemForQuakeEvent only reads the fields; the store is not
        // copied for it, since a big one takes as long to copy as to show.
        for (const auto &[eventId, fields] : events)
            newTreeItemForQuakeEvent(tree, eventId, const_cast<QuakeFieldMap &>(fields));
        m_treeBuild = nullptr;
    }
    if (events.empty()) {
        auto *none = new QTreeWidgetItem;
        none->setText(0, tr("No quake events matching search criteria"));
        build.items.append(none);
    }
    // One insertion for the whole result: item by item, a big tree takes
    // several times as long.
    tree->addTopLevelItems(build.items);
    tree->expandAll();
    showEventsBesideTree(manager);
    showResultMessage(manager);
}

void MainAppWindow::showResultMessage(const QuakeDataManager *search)
{
    const std::size_t count = search->quakeEvents().size();
    QString message = tr("Retrieved %1 quake events matching search criteria").arg(qulonglong(count));
    const auto region = m_regionWords.find(search);
    if (region != m_regionWords.end() && !region->second.isEmpty())
        message += u' ' + region->second;
    message += u'.';
    // Where nothing was found, the service may say why.
    if (count == 0 && !search->serviceNote().isEmpty())
        message += u' ' + search->serviceNote();
    statusBar()->showMessage(message, 0);
}

void MainAppWindow::newTreeItemForQuakeEvent(QTreeWidget *tree, const std::string &eventId,
                                             std::map<std::string, std::string> &fields)
{
    // One font shared by all items of a build, rather than a copy each.
    QTreeWidgetItem *eventItem = ResultItems::eventItem(eventId, fields, m_treeBuild ? m_treeBuild->boldFont
                                                                                        : boldFontOf(tree));
    if (m_treeBuild)
        m_treeBuild->items.append(eventItem);
    else
        tree->addTopLevelItem(eventItem);
}

void MainAppWindow::prepareTreeItems(QuakeDataManager *manager)
{
    // The manager notes each event as it stores it, in the order read; an
    // identifier read again replaces the fields, and the item made for it
    // before is dropped when the items are taken.
    const std::vector<LocatedEvent> &read = manager->quakeLocations();
    std::vector<PreparedItem> &prepared = m_prepared[manager];
    if (prepared.size() >= read.size())
        return;
    const QFont bold = boldFontOf(findChild<QTreeWidget *>(QStringLiteral("treeWidget")));
    std::vector<QuakeLocation> locations;
    locations.reserve(read.size() - prepared.size());
    for (std::size_t i = prepared.size(); i < read.size(); ++i) {
        const std::string &eventId = *read[i].eventId;
        prepared.push_back({ &eventId, ResultItems::eventItem(eventId, manager->quakeEvents().at(eventId), bold) });
        locations.push_back(read[i].location);
    }
    // The map's circles too, while the window has time.
    if (m_mapDock->isVisible())
        m_map->prepareFor(locations);
}

bool MainAppWindow::takePreparedItems(const QuakeDataManager *manager, QList<QTreeWidgetItem *> &items)
{
    const auto found = m_prepared.find(manager);
    if (found == m_prepared.end())
        return false;
    std::vector<PreparedItem> prepared = std::move(found->second);
    m_prepared.erase(found);
    QuakeMLReader::alignToStore(prepared, [](const PreparedItem &p) { return p.eventId; },
                                [](const PreparedItem &p) { delete p.item; });
    const bool whole = prepared.size() == manager->quakeEvents().size();
    items.reserve(qsizetype(prepared.size()));
    for (const PreparedItem &p : prepared) {
        if (whole)
            items.append(p.item);
        else
            delete p.item;
    }
    return whole;
}

void MainAppWindow::dropPreparedItems(const QuakeDataManager *manager)
{
    const auto found = m_prepared.find(manager);
    if (found == m_prepared.end())
        return;
    for (const PreparedItem &p : found->second)
        delete p.item;
    m_prepared.erase(found);
}

void MainAppWindow::treeViewItemClicked(QTreeWidgetItem *item, int column)
{
    if (column != 1 || !item || item->text(0) != QLatin1String("Reference ID:"))
        return;
    // The page belongs to the service that gave the result, not to whatever
    // the URL field holds now.
    const QString pages = m_shownSearch ? QuakeService::eventPageUrlFor(m_shownSearch->url())
                                        : QuakeService::eventPageUrl();
    const QUrl page(pages + item->text(1));
    if (!QDesktopServices::openUrl(page))
        statusBar()->showMessage(tr("The web browser could not be started to show %1").arg(page.toString()));
}
