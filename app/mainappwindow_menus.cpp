// The menu bar and the small actions that only the menus reach.

#include "app/mainappwindow.h"

#include <QAction>
#include <QApplication>
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

    auto *searchAction = new QAction(QStringLiteral("Search for earthquakes"), this);
    searchAction->setShortcut(QKeySequence(tr("Ctrl+R")));
    connect(searchAction, SIGNAL(triggered()), this, SLOT(on_searchCtrl_clicked()));

    auto *queryAction = new QAction(QStringLiteral("Show WebService Query String"), this);
    connect(queryAction, SIGNAL(triggered()), this, SLOT(showQueryString()));

    QMenu *searchMenu = bar->addMenu(QStringLiteral("Search"));
    searchMenu->addAction(searchAction);
    searchMenu->addAction(queryAction);

    auto *expandAction = new QAction(QStringLiteral("Expand All"), this);
    expandAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus));
    connect(expandAction, SIGNAL(triggered()), this, SLOT(treeViewExpandAll()));

    auto *collapseAction = new QAction(QStringLiteral("Collapse All"), this);
    collapseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connect(collapseAction, SIGNAL(triggered()), this, SLOT(treeViewCollapseAll()));

    QMenu *viewMenu = bar->addMenu(QStringLiteral("View"));
    viewMenu->addAction(expandAction);
    viewMenu->addAction(collapseAction);

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
