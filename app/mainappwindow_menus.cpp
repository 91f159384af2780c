// The menu bar and the small actions that only the menus reach.

#include "app/mainappwindow.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QInputDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTreeWidget>

void MainAppWindow::setupMenuBar()
{
    QMenuBar *bar = menuBar();

    auto *saveMapAction = new QAction(QStringLiteral("Save Map As\u2026"), this);
    connect(saveMapAction, SIGNAL(triggered()), this, SLOT(saveMapAs()));
    auto *exportAction = new QAction(QStringLiteral("Export Events As\u2026"), this);
    connect(exportAction, SIGNAL(triggered()), this, SLOT(exportEventsAs()));
    QMenu *fileMenu = bar->addMenu(QStringLiteral("File"));
    fileMenu->addAction(exportAction);
    fileMenu->addAction(saveMapAction);
    auto *savePlotAction = new QAction(QStringLiteral("Save Plot As\u2026"), this);
    connect(savePlotAction, SIGNAL(triggered()), this, SLOT(savePlotAs()));
    fileMenu->addAction(savePlotAction);
    fileMenu->addSeparator();
    auto *quitAction = new QAction(tr("Quit"), this);
    quitAction->setObjectName(QStringLiteral("actionQuit"));
    quitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(quitAction, SIGNAL(triggered()), this, SLOT(close()));
    fileMenu->addAction(quitAction);

    auto *searchAction = new QAction(QStringLiteral("Search for earthquakes"), this);
    searchAction->setShortcut(QKeySequence(tr("Ctrl+R")));
    connect(searchAction, SIGNAL(triggered()), this, SLOT(on_searchCtrl_clicked()));

    auto *queryAction = new QAction(QStringLiteral("Show WebService Query String"), this);
    connect(queryAction, SIGNAL(triggered()), this, SLOT(showQueryString()));

    auto *clearRegionAction = new QAction(tr("Clear Region"), this);
    clearRegionAction->setObjectName(QStringLiteral("actionClearRegion"));
    connect(clearRegionAction, SIGNAL(triggered()), this, SLOT(clearRegion()));

    auto *followAction = new QAction(tr("Follow Live"), this);
    followAction->setObjectName(QStringLiteral("actionFollowLive"));
    followAction->setCheckable(true);
    followAction->setShortcut(QKeySequence(tr("Ctrl+L")));
    followAction->setToolTip(tr("Search again every minute and mark what changed"));
    connect(followAction, SIGNAL(toggled(bool)), this, SLOT(setFollowLive(bool)));

    QMenu *searchMenu = bar->addMenu(QStringLiteral("Search"));
    searchMenu->addAction(searchAction);
    searchMenu->addAction(queryAction);
    searchMenu->addSeparator();
    searchMenu->addAction(clearRegionAction);
    auto *watchAction = new QAction(tr("Watch Places\u2026"), this);
    watchAction->setObjectName(QStringLiteral("actionWatchPlaces"));
    connect(watchAction, SIGNAL(triggered()), this, SLOT(watchPlaces()));

    searchMenu->addSeparator();
    searchMenu->addAction(followAction);
    searchMenu->addAction(watchAction);

    auto *expandAction = new QAction(QStringLiteral("Expand All"), this);
    expandAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus));
    connect(expandAction, SIGNAL(triggered()), this, SLOT(treeViewExpandAll()));

    auto *collapseAction = new QAction(QStringLiteral("Collapse All"), this);
    collapseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connect(collapseAction, SIGNAL(triggered()), this, SLOT(treeViewCollapseAll()));

    QMenu *viewMenu = bar->addMenu(QStringLiteral("View"));
    viewMenu->addAction(expandAction);
    viewMenu->addAction(collapseAction);
    viewMenu->addSeparator();

    auto *showMapAction = new QAction(QStringLiteral("Show Map"), this);
    showMapAction->setObjectName(QStringLiteral("actionShowMap"));
    showMapAction->setCheckable(true);
    showMapAction->setChecked(m_mapDock->isVisibleTo(this));
    connect(showMapAction, SIGNAL(toggled(bool)), this, SLOT(setMapShown(bool)));
    viewMenu->addAction(showMapAction);

    auto *showPlotsAction = new QAction(QStringLiteral("Show Plots"), this);
    showPlotsAction->setObjectName(QStringLiteral("actionShowPlots"));
    showPlotsAction->setCheckable(true);
    showPlotsAction->setChecked(m_plotsDock->isVisibleTo(this));
    connect(showPlotsAction, SIGNAL(toggled(bool)), this, SLOT(setPlotsShown(bool)));
    viewMenu->addAction(showPlotsAction);

    auto *fitMapAction = new QAction(QStringLiteral("Fit Map to Events"), this);
    connect(fitMapAction, SIGNAL(triggered()), this, SLOT(fitMapToEvents()));
    viewMenu->addAction(fitMapAction);

    auto *goToPlaceAction = new QAction(tr("Go to Place\u2026"), this);
    goToPlaceAction->setObjectName(QStringLiteral("actionGoToPlace"));
    goToPlaceAction->setShortcut(QKeySequence(tr("Ctrl+G")));
    connect(goToPlaceAction, SIGNAL(triggered()), this, SLOT(goToPlace()));
    viewMenu->addAction(goToPlaceAction);

    auto *drawSectionAction = new QAction(tr("Draw Section"), this);
    drawSectionAction->setObjectName(QStringLiteral("actionDrawSection"));
    drawSectionAction->setShortcut(QKeySequence(tr("Ctrl+Shift+D")));
    drawSectionAction->setToolTip(tr("Drag on the map from A to A\u2032 to plot the events' depths along it"));
    connect(drawSectionAction, SIGNAL(triggered()), this, SLOT(drawSection()));
    viewMenu->addAction(drawSectionAction);

    bar->addSeparator();

    auto *aboutQtAction = new QAction(QStringLiteral("About Qt"), this);
    connect(aboutQtAction, SIGNAL(triggered()), qApp, SLOT(aboutQt()));

    auto *aboutAction = new QAction(QStringLiteral("About Harvix"), this);
    connect(aboutAction, SIGNAL(triggered()), this, SLOT(showAbout()));

    QMenu *helpMenu = bar->addMenu(QStringLiteral("Help"));
    helpMenu->addAction(aboutAction);
    helpMenu->addAction(aboutQtAction);
}

void MainAppWindow::showAbout()
{
    QMessageBox::about(this, tr("About Harvix..."),
                       tr("The <b>Harvix</b> queries the WebService of the New Zealand GeoNet "
                          "project to retrieve data about earthquakes in New Zealand."));
}

void MainAppWindow::showQueryString()
{
    // Shown only so that the address can be copied; what comes back is ignored.
    QInputDialog::getText(this, tr("Query String"),
                          tr("Query String for current filter settings:"),
                          QLineEdit::Normal, queryString());
}

void MainAppWindow::treeViewExpandAll()
{
    findChild<QTreeWidget *>(QStringLiteral("treeWidget"))->expandAll();
}

void MainAppWindow::treeViewCollapseAll()
{
    findChild<QTreeWidget *>(QStringLiteral("treeWidget"))->collapseAll();
}
