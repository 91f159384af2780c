// The result tree: one bold, expanded item per event with a row per field,
// and the event page opened from a "Reference ID:" value.

#include "app/mainappwindow.h"

#include "app/mapwidget.h"
#include "quakeml/latin1.h"
#include "service/quakeservice.h"
#include "service/quakedatamanager.h"

#include <QDesktopServices>
#include <QFont>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>

#include <utility>
#include <vector>

namespace {

// The few distinct labels of a result, each converted to text once and then
// shared by every row that carries it.
class LabelTexts
{
public:
    QString text(const std::string &label)
    {
        for (const auto &[bytes, text] : m_texts) {
            if (bytes == label)
                return text;
        }
        QString converted = Latin1::toText(label);
        if (m_texts.size() < 32)
            m_texts.emplace_back(label, converted);
        return converted;
    }

private:
    std::vector<std::pair<std::string, QString>> m_texts;
};

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
    LabelTexts labels;
};

void MainAppWindow::buildTreeModel(QuakeDataManager *manager, QTreeWidget *tree)
{
    if (!tree || !manager)
        return;
    m_shownSearch = manager;
    tree->clear();

    const QuakeEventStore &events = manager->quakeEvents();
    TreeBuild build;
    build.boldFont = boldFontOf(tree);
    build.items.reserve(qsizetype(events.size()));
    m_treeBuild = &build;
    // newTreeItemForQuakeEvent only reads the fields; the store is not copied
    // for it, since a big one takes as long to copy as to show.
    for (const auto &[eventId, fields] : events)
        newTreeItemForQuakeEvent(tree, eventId, const_cast<QuakeFieldMap &>(fields));
    m_treeBuild = nullptr;
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
    QString message = tr("Retrieved %1 quake events matching search criteria.").arg(qulonglong(count));
    // Where nothing was found, the service may say why.
    if (count == 0 && !search->serviceNote().isEmpty())
        message += u' ' + search->serviceNote();
    statusBar()->showMessage(message, 0);
}

void MainAppWindow::newTreeItemForQuakeEvent(QTreeWidget *tree, const std::string &eventId,
                                             std::map<std::string, std::string> &fields)
{
    LabelTexts ownLabels;
    LabelTexts &labels = m_treeBuild ? m_treeBuild->labels : ownLabels;
    auto *eventItem = new QTreeWidgetItem;
    eventItem->setText(0, Latin1::toText(eventId));
    // One font shared by all items of a build, rather than a copy each.
    eventItem->setFont(0, m_treeBuild ? m_treeBuild->boldFont : boldFontOf(tree));

    QList<QTreeWidgetItem *> rows;
    for (const auto &[label, value] : fields) {
        if (value.empty())
            continue;
        auto *row = new QTreeWidgetItem;
        // Without this, expandAll() marks every row as expanded too, keeping a
        // persistent index for each: three quarters of a big tree's cost.
        row->setFlags(row->flags() | Qt::ItemNeverHasChildren);
        row->setText(0, labels.text(label));
        row->setText(1, Latin1::toText(value));
        rows.append(row);
    }
    eventItem->addChildren(rows);
    if (m_treeBuild)
        m_treeBuild->items.append(eventItem);
    else
        tree->addTopLevelItem(eventItem);
}

void MainAppWindow::treeViewItemClicked(QTreeWidgetItem *item, int column)
{
    if (column != 1 || !item || item->text(0) != QLatin1String("Reference ID:"))
        return;
    // The page belongs to the service that gave the result, not to whatever
    // the URL field holds now.
    const QString pages = m_shownSearch ? QuakeService::eventPageUrlFor(m_shownSearch->url())
                                        : QuakeService::eventPageUrl();
    QDesktopServices::openUrl(QUrl(pages + item->text(1)));
}
