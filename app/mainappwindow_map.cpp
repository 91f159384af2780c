// The map and the plots beside the tree: their docks and their menu
// actions. EventLinks ties their events to the tree's items.

#include "app/mainappwindow.h"

#include "app/eventlinks.h"
#include "app/mainappwindow_live.h"
#include "app/mapwidget.h"
#include "app/picturefile.h"
#include "app/plotswidget.h"
#include "app/sectionplot.h"
#include "service/quakedatamanager.h"

#include <QDateTime>
#include <QDockWidget>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTreeWidget>


namespace {

const char *const showMapKey = "view/showMap";
const char *const showPlotsKey = "view/showPlots";
const char *const plotKey = "view/plot";
constexpr int MapWidth = 560;
constexpr int PlotsHeight = 260;

} // namespace

void MainAppWindow::setupPlots()
{
    m_plots = new PlotsWidget;
    m_plots->setObjectName(QStringLiteral("plotsWidget"));
    m_plotsDock = addPane(tr("Plots"), QStringLiteral("plotsDock"), m_plots, showPlotsKey);
    // The plot that was shown last.
    m_plots->setCurrentIndex(QSettings().value(QLatin1String(plotKey), 0).toInt());
    connect(m_plots, &QTabWidget::currentChanged, this, [](int index) { QSettings().setValue(QLatin1String(plotKey), index); });
    splitDockWidget(m_mapDock, m_plotsDock, Qt::Vertical);
    m_links = new EventLinks(findChild<QTreeWidget *>(QStringLiteral("treeWidget")), m_map, m_plots, statusBar(), this);
    if (m_plotsDock->isVisibleTo(this)) {
        resize(width(), height() + PlotsHeight);
        resizeDocks({ m_plotsDock }, { PlotsHeight }, Qt::Vertical);
    }
}

void MainAppWindow::setPlotsShown(bool shown)
{
    m_plotsDock->setVisible(shown);
    QSettings().setValue(QLatin1String(showPlotsKey), shown);
}

QDockWidget *MainAppWindow::addPane(const QString &title, const QString &name, QWidget *content, const char *shownKey)
{
    auto *dock = new QDockWidget(title, this);
    dock->setObjectName(name);
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock->setTitleBarWidget(new QWidget(dock));   // no title: a pane, not a tool window
    dock->setWidget(content);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->setVisible(QSettings().value(QLatin1String(shownKey), true).toBool());
    return dock;
}

void MainAppWindow::savePlotAs()
{
    const QString path = PictureFile::ask(this, tr("Save Plot As"), QStringLiteral("harvix-plot.png"));
    QString error;
    if (path.isEmpty())
        return;
    if (!m_plots->save(PlotsWidget::Plot(m_plots->currentIndex()), path, &error))
        QMessageBox::warning(this, tr("Save Plot As"), tr("The plot was not saved: %1").arg(error));
    else
        statusBar()->showMessage(tr("The plot was saved as %1.").arg(path), 0);
}

void MainAppWindow::showEventsBesideTree(QuakeDataManager *manager)
{
    std::unordered_set<const std::string *> fixed;
    for (const RawEvent &raw : manager->rawEvents()) {
        if (SectionPlot::isFixedDepth(raw[RawEvent::DepthType]))
            fixed.insert(raw.eventId);
    }
    m_plots->setFixedDepths(std::move(fixed));
    // The same events, in the same order as the tree's items.
    m_links->setEvents(manager->quakeLocations(), m_live->keepingView);
}

void MainAppWindow::setupMap()
{
    m_map = new MapWidget;
    m_map->setObjectName(QStringLiteral("mapWidget"));
    m_mapDock = addPane(tr("Map"), QStringLiteral("mapDock"), m_map, showMapKey);

    // The window grows by the map's width when the map is shown.
    if (m_mapDock->isVisibleTo(this)) {
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
    const QString path = PictureFile::ask(this, tr("Save Map As"), QStringLiteral("harvix-map.png"));
    QString error;
    if (path.isEmpty())
        return;
    if (!m_map->save(path, &error))
        QMessageBox::warning(this, tr("Save Map As"), tr("The map was not saved: %1").arg(error));
    else
        statusBar()->showMessage(tr("The map was saved as %1.").arg(path), 0);
}
