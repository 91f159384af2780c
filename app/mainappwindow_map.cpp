// The map beside the tree: its dock, its menu actions, and the links
// between a map event and its tree item.

#include "app/mainappwindow.h"

#include "app/mapwidget.h"
#include "service/quakedatamanager.h"

#include <QDockWidget>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTreeWidget>

namespace {
const char *const showMapKey = "view/showMap";
constexpr int MapWidth = 560;
}

void MainAppWindow::setupMap()
{
    m_map = new MapWidget;
    m_map->setObjectName(QStringLiteral("mapWidget"));
    m_mapDock = new QDockWidget(tr("Map"), this);
    m_mapDock->setObjectName(QStringLiteral("mapDock"));
    m_mapDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    m_mapDock->setTitleBarWidget(new QWidget(m_mapDock));   // no title: a pane, not a tool window
    m_mapDock->setWidget(m_map);
    addDockWidget(Qt::RightDockWidgetArea, m_mapDock);

    connect(m_map, SIGNAL(eventClicked(int)), this, SLOT(mapEventClicked(int)));
    connect(m_map, SIGNAL(eventHovered(int)), this, SLOT(mapEventHovered(int)));
    connect(findChild<QTreeWidget *>(QStringLiteral("treeWidget")),
            SIGNAL(currentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)),
            this, SLOT(treeCurrentItemChanged(QTreeWidgetItem*,QTreeWidgetItem*)));

    const bool shown = QSettings().value(QLatin1String(showMapKey), true).toBool();
    m_mapDock->setVisible(shown);
    // The window grows by the map's width when the map is shown.
    if (shown) {
        resize(width() + MapWidth, height() + 100);
        resizeDocks({ m_mapDock }, { MapWidth }, Qt::Horizontal);
    }
}

void MainAppWindow::setMapShown(bool shown)
{
    m_mapDock->setVisible(shown);
    QSettings().setValue(QLatin1String(showMapKey), shown);
}

void MainAppWindow::fitMapToEvents()
{
    m_map->fitToEvents();
}

void MainAppWindow::saveMapAs()
{
    QString selected;
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Map As"), QStringLiteral("harvix-map.png"),
                                                      tr("PNG image (*.png);;SVG drawing (*.svg)"), &selected);
    if (path.isEmpty())
        return;
    QString file = path;
    if (!file.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) && !file.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        file += selected.contains(QLatin1String("svg")) ? QStringLiteral(".svg") : QStringLiteral(".png");
    QString error;
    if (!m_map->save(file, &error))
        QMessageBox::warning(this, tr("Save Map As"), tr("The map was not saved: %1").arg(error));
    else
        statusBar()->showMessage(tr("The map was saved as %1.").arg(file), 0);
}

int MainAppWindow::mapIndexOf(QTreeWidgetItem *item) const
{
    auto *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    while (item && item->parent())
        item = item->parent();
    const int index = item ? tree->indexOfTopLevelItem(item) : -1;
    return index < m_map->eventCount() ? index : -1;
}

void MainAppWindow::mapEventClicked(int index)
{
    auto *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QTreeWidgetItem *item = tree->topLevelItem(index);
    if (!item)
        return;
    tree->setCurrentItem(item);
    item->setExpanded(true);
    tree->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void MainAppWindow::mapEventHovered(int index)
{
    const QString place = m_map->placeOf(index);
    if (!place.isEmpty())
        statusBar()->showMessage(place, 0);
}

void MainAppWindow::treeCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    const int index = mapIndexOf(current);
    m_map->setSelectedEvent(index);
    const QString place = m_map->placeOf(index);
    if (!place.isEmpty())
        statusBar()->showMessage(place, 0);
}
