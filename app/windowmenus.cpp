#include "app/windowmenus.h"

#include "app/mapwidget.h"
#include "app/panes.h"
#include "app/regionbar.h"
#include "app/watchplacesdialog.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

void WindowMenus::fill(QMainWindow *window, Panes *panes, RegionBar *region)
{
    QMenuBar *bar = window->menuBar();

    auto *saveMapAction = new QAction(QStringLiteral("Save Map As\u2026"), window);
    QObject::connect(saveMapAction, &QAction::triggered, panes, &Panes::saveMapAs);
    auto *exportAction = new QAction(QStringLiteral("Export Events As\u2026"), window);
    QObject::connect(exportAction, SIGNAL(triggered()), window, SLOT(exportEventsAs()));
    QMenu *fileMenu = bar->addMenu(QStringLiteral("File"));
    fileMenu->addAction(exportAction);
    fileMenu->addAction(saveMapAction);
    auto *savePlotAction = new QAction(QStringLiteral("Save Plot As\u2026"), window);
    QObject::connect(savePlotAction, &QAction::triggered, panes, &Panes::savePlotAs);
    fileMenu->addAction(savePlotAction);
    fileMenu->addSeparator();
    auto *quitAction = new QAction(QObject::tr("Quit"), window);
    quitAction->setObjectName(QStringLiteral("actionQuit"));
    quitAction->setShortcut(QKeySequence(QObject::tr("Ctrl+Q")));
    QObject::connect(quitAction, SIGNAL(triggered()), window, SLOT(close()));
    fileMenu->addAction(quitAction);

    auto *searchAction = new QAction(QStringLiteral("Search for earthquakes"), window);
    searchAction->setShortcut(QKeySequence(QObject::tr("Ctrl+R")));
    QObject::connect(searchAction, SIGNAL(triggered()), window, SLOT(on_searchCtrl_clicked()));

    auto *queryAction = new QAction(QStringLiteral("Show WebService Query String"), window);
    QObject::connect(queryAction, SIGNAL(triggered()), window, SLOT(showQueryString()));

    auto *clearRegionAction = new QAction(QObject::tr("Clear Region"), window);
    clearRegionAction->setObjectName(QStringLiteral("actionClearRegion"));
    QObject::connect(clearRegionAction, &QAction::triggered, region, &RegionBar::clear);

    auto *followAction = new QAction(QObject::tr("Follow Live"), window);
    followAction->setObjectName(QStringLiteral("actionFollowLive"));
    followAction->setCheckable(true);
    followAction->setShortcut(QKeySequence(QObject::tr("Ctrl+L")));
    followAction->setToolTip(QObject::tr("Search again every minute and mark what changed"));
    QObject::connect(followAction, SIGNAL(toggled(bool)), window, SLOT(setFollowLive(bool)));

    QMenu *searchMenu = bar->addMenu(QStringLiteral("Search"));
    searchMenu->addAction(searchAction);
    searchMenu->addAction(queryAction);
    searchMenu->addSeparator();
    searchMenu->addAction(clearRegionAction);
    auto *watchAction = new QAction(QObject::tr("Watch Places\u2026"), window);
    watchAction->setObjectName(QStringLiteral("actionWatchPlaces"));
    QObject::connect(watchAction, &QAction::triggered, window,
                     [window, region] { WatchPlacesDialog::edit(region->placeField()->completer(), QString(), window); });

    searchMenu->addSeparator();
    searchMenu->addAction(followAction);
    searchMenu->addAction(watchAction);

    auto *expandAction = new QAction(QStringLiteral("Expand All"), window);
    expandAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus));
    QObject::connect(expandAction, SIGNAL(triggered()), window, SLOT(treeViewExpandAll()));

    auto *collapseAction = new QAction(QStringLiteral("Collapse All"), window);
    collapseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QObject::connect(collapseAction, SIGNAL(triggered()), window, SLOT(treeViewCollapseAll()));

    QMenu *viewMenu = bar->addMenu(QStringLiteral("View"));
    viewMenu->addAction(expandAction);
    viewMenu->addAction(collapseAction);
    viewMenu->addSeparator();

    auto *showMapAction = new QAction(QStringLiteral("Show Map"), window);
    showMapAction->setObjectName(QStringLiteral("actionShowMap"));
    showMapAction->setCheckable(true);
    showMapAction->setChecked(panes->isMapShown());
    QObject::connect(showMapAction, &QAction::toggled, panes, &Panes::setMapShown);
    viewMenu->addAction(showMapAction);
    QObject::connect(panes, &Panes::mapWanted, showMapAction, [showMapAction] { showMapAction->setChecked(true); });

    auto *showPlotsAction = new QAction(QStringLiteral("Show Plots"), window);
    showPlotsAction->setObjectName(QStringLiteral("actionShowPlots"));
    showPlotsAction->setCheckable(true);
    showPlotsAction->setChecked(panes->arePlotsShown());
    QObject::connect(showPlotsAction, &QAction::toggled, panes, &Panes::setPlotsShown);
    viewMenu->addAction(showPlotsAction);
    QObject::connect(panes, &Panes::plotsWanted, showPlotsAction, [showPlotsAction] { showPlotsAction->setChecked(true); });

    auto *fitMapAction = new QAction(QStringLiteral("Fit Map to Events"), window);
    QObject::connect(fitMapAction, &QAction::triggered, panes->map(), &MapWidget::fitToEvents);
    viewMenu->addAction(fitMapAction);

    auto *goToPlaceAction = new QAction(QObject::tr("Go to Place\u2026"), window);
    goToPlaceAction->setObjectName(QStringLiteral("actionGoToPlace"));
    goToPlaceAction->setShortcut(QKeySequence(QObject::tr("Ctrl+G")));
    QObject::connect(goToPlaceAction, &QAction::triggered, panes, [panes, region] {
        panes->goToPlace(region->placeField()->text(), region->placeField()->completer());
    });
    viewMenu->addAction(goToPlaceAction);

    auto *drawSectionAction = new QAction(QObject::tr("Draw Section"), window);
    drawSectionAction->setObjectName(QStringLiteral("actionDrawSection"));
    drawSectionAction->setShortcut(QKeySequence(QObject::tr("Ctrl+Shift+D")));
    drawSectionAction->setToolTip(QObject::tr("Drag on the map from A to A\u2032 to plot the events' depths along it"));
    QObject::connect(drawSectionAction, &QAction::triggered, panes, &Panes::drawSection);
    viewMenu->addAction(drawSectionAction);

    bar->addSeparator();

    auto *aboutQtAction = new QAction(QStringLiteral("About Qt"), window);
    QObject::connect(aboutQtAction, SIGNAL(triggered()), qApp, SLOT(aboutQt()));

    auto *aboutAction = new QAction(QStringLiteral("About Harvix"), window);
    QObject::connect(aboutAction, SIGNAL(triggered()), window, SLOT(showAbout()));

    QMenu *helpMenu = bar->addMenu(QStringLiteral("Help"));
    helpMenu->addAction(aboutAction);
    helpMenu->addAction(aboutQtAction);
}
