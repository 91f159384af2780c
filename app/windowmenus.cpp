#include "app/windowmenus.h"

#include "app/mapwidget.h"
#include "app/panes.h"
#include "app/regionbar.h"
#include "app/timeplayer.h"
#include "app/watchplacesdialog.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

// An action of the window's, named for tests and settings where it has a
// name, with its shortcut if any.
QAction *action(QMainWindow *window, const QString &text, const char *name = nullptr,
                const QKeySequence &shortcut = QKeySequence())
{
    auto *made = new QAction(text, window);
    if (name)
        made->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty())
        made->setShortcut(shortcut);
    return made;
}

// A checkable action that follows its pane: checked when the pane asks to
// be shown.
QAction *paneAction(QMainWindow *window, const QString &text, const char *name, bool shown)
{
    QAction *made = action(window, text, name);
    made->setCheckable(true);
    made->setChecked(shown);
    return made;
}

void addFileMenu(QMainWindow *window, Panes *panes, QAction *exportAnimation)
{
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("File"));
    QAction *exportAction = menu->addAction(QStringLiteral("Export Events As\u2026"));
    QObject::connect(exportAction, SIGNAL(triggered()), window, SLOT(exportEventsAs()));
    QObject::connect(menu->addAction(QStringLiteral("Save Map As\u2026")), &QAction::triggered, panes, &Panes::saveMapAs);
    QObject::connect(menu->addAction(QStringLiteral("Save Plot As\u2026")), &QAction::triggered, panes, &Panes::savePlotAs);
    menu->addAction(exportAnimation);
    menu->addSeparator();
    QAction *quit = action(window, QObject::tr("Quit"), "actionQuit", QKeySequence(QObject::tr("Ctrl+Q")));
    QObject::connect(quit, SIGNAL(triggered()), window, SLOT(close()));
    menu->addAction(quit);
}

void addSearchMenu(QMainWindow *window, RegionBar *region, QAction *showSequence, QMenu *decluster)
{
    QAction *search = action(window, QStringLiteral("Search for earthquakes"), nullptr, QKeySequence(QObject::tr("Ctrl+R")));
    QObject::connect(search, SIGNAL(triggered()), window, SLOT(on_searchCtrl_clicked()));
    QAction *query = action(window, QStringLiteral("Show WebService Query String"));
    QObject::connect(query, SIGNAL(triggered()), window, SLOT(showQueryString()));
    QAction *clear = action(window, QObject::tr("Clear Region"), "actionClearRegion");
    QObject::connect(clear, &QAction::triggered, region, &RegionBar::clear);
    QAction *follow = action(window, QObject::tr("Follow Live"), "actionFollowLive", QKeySequence(QObject::tr("Ctrl+L")));
    follow->setCheckable(true);
    follow->setToolTip(QObject::tr("Search again every minute and mark what changed"));
    QAction *watch = action(window, QObject::tr("Watch Places\u2026"), "actionWatchPlaces");
    QObject::connect(watch, &QAction::triggered, window,
                     [window, region] { WatchPlacesDialog::edit(region->placeField()->completer(), QString(), window); });

    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("Search"));
    menu->addActions({ search, query });
    menu->addSeparator();
    menu->addAction(clear);
    menu->addSeparator();
    menu->addActions({ follow, watch });
    menu->addSeparator();
    menu->addAction(showSequence);
    menu->addMenu(decluster);
}

QMenu *addViewMenu(QMainWindow *window, Panes *panes, RegionBar *region)
{
    QAction *expand = action(window, QStringLiteral("Expand All"), nullptr, QKeySequence(Qt::CTRL | Qt::Key_Plus));
    QObject::connect(expand, SIGNAL(triggered()), window, SLOT(treeViewExpandAll()));
    QAction *collapse = action(window, QStringLiteral("Collapse All"), nullptr, QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QObject::connect(collapse, SIGNAL(triggered()), window, SLOT(treeViewCollapseAll()));
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("View"));
    menu->addActions({ expand, collapse });
    menu->addSeparator();

    QAction *showMap = paneAction(window, QStringLiteral("Show Map"), "actionShowMap", panes->isMapShown());
    QObject::connect(showMap, &QAction::toggled, panes, &Panes::setMapShown);
    QObject::connect(panes, &Panes::mapWanted, showMap, [showMap] { showMap->setChecked(true); });
    QAction *showPlots = paneAction(window, QStringLiteral("Show Plots"), "actionShowPlots", panes->arePlotsShown());
    QObject::connect(showPlots, &QAction::toggled, panes, &Panes::setPlotsShown);
    QObject::connect(panes, &Panes::plotsWanted, showPlots, [showPlots] { showPlots->setChecked(true); });
    QAction *fit = action(window, QStringLiteral("Fit Map to Events"));
    QObject::connect(fit, &QAction::triggered, panes->map(), &MapWidget::fitToEvents);
    QAction *goTo = action(window, QObject::tr("Go to Place\u2026"), "actionGoToPlace", QKeySequence(QObject::tr("Ctrl+G")));
    QObject::connect(goTo, &QAction::triggered, panes, [panes, region] {
        panes->goToPlace(region->placeField()->text(), region->placeField()->completer());
    });
    QAction *section = action(window, QObject::tr("Draw Section"), "actionDrawSection", QKeySequence(QObject::tr("Ctrl+Shift+D")));
    section->setToolTip(QObject::tr("Drag on the map from A to A\u2032 to plot the events' depths along it"));
    QObject::connect(section, &QAction::triggered, panes, &Panes::drawSection);
    menu->addActions({ showMap, showPlots, fit, goTo, section });
    return menu;
}

void addHelpMenu(QMainWindow *window)
{
    QAction *aboutQt = action(window, QStringLiteral("About Qt"));
    QObject::connect(aboutQt, SIGNAL(triggered()), qApp, SLOT(aboutQt()));
    QAction *about = action(window, QStringLiteral("About Harvix"));
    QObject::connect(about, SIGNAL(triggered()), window, SLOT(showAbout()));
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("Help"));
    menu->addActions({ about, aboutQt });
}

} // namespace

void WindowMenus::fill(QMainWindow *window, Panes *panes, RegionBar *region, QAction *showSequence, QMenu *decluster,
                       TimePlayer *player)
{
    addFileMenu(window, panes, player->exportAction());
    addSearchMenu(window, region, showSequence, decluster);
    addViewMenu(window, panes, region)->addAction(player->action());
    window->menuBar()->addSeparator();
    addHelpMenu(window);
}
