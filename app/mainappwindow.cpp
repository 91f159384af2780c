#include "app/mainappwindow.h"
#include "ui_mainappwindow.h"

#include "app/declusteraction.h"
#include "app/eventlinks.h"
#include "app/eventlist.h"
#include "app/lastyearoffer.h"
#include "app/livefollower.h"
#include "app/mapwidget.h"
#include "app/panes.h"
#include "app/periodbar.h"
#include "app/querycomposition.h"
#include "app/regionbar.h"
#include "app/resultitems.h"
#include "app/resulttree.h"
#include "app/searchrunner.h"
#include "app/sequenceaction.h"
#include "app/shownresult.h"
#include "app/timeplayer.h"
#include "app/windowmenus.h"
#include "quakeml/quakelabels.h"
#include "service/quakedatamanager.h"
#include "service/quakeservice.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QDockWidget>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>

MainAppWindow::MainAppWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainAppWindow)
{
    ui->setupUi(this);
    // The default address is kept with the other service address rather than in the form.
    findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(QuakeService::searchUrl());
    QTreeWidget *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));

    m_searches = new SearchRunner(this);
    m_shown = new ShownResult(this);
    m_results = std::make_unique<ResultTree>(tree);
    m_panes = new Panes(this, tree, m_shown);
    MapWidget *map = m_panes->map();
    m_region = new RegionBar([map] { return map->visibleBox(); }, this);
    addToolBar(Qt::TopToolBarArea, m_region);
    addToolBarBreak();
    m_period = new PeriodBar(findChild<QComboBox *>(QStringLiteral("magRangeCtrl")),
                             findChild<QComboBox *>(QStringLiteral("dateRangeCtrl")), this);
    addToolBar(Qt::TopToolBarArea, m_period);
    m_period->keepForm(findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl")));
    // The parts ask for searches as values: shown in the bars, run as the button's.
    m_searches->setControls([this] { return request(); }, [this](const SearchRequest &asked) {
        m_region->show(asked.region);
        m_period->show(asked);
        return searchAsked();
    });
    new LastYearOffer(this, m_searches, m_shown);
    m_live = new LiveFollower(this, tree, m_shown, m_searches);
    m_sequence = new SequenceAction(this, tree, m_searches, m_shown);
    m_panes->addSequence(m_sequence);
    connect(m_panes->list(), &EventList::pageWanted, this, &MainAppWindow::openEventPage);
    m_player = new TimePlayer(this, m_panes, m_shown, m_live);
    m_decluster = new DeclusterAction(this, m_shown);
    setupMenuBar();
    // A reply's events get their items and circles between pieces of reading.
    connect(m_searches, &SearchRunner::eventsRead, this,
            [this](QuakeDataManager *search) { m_panes->prepareFor(m_results->prepare(search)); });
    connect(m_searches, &SearchRunner::ended, this, [this](const QuakeDataManager *search) { m_results->dropPrepared(search); });

    m_panes->linkRegion(m_region);
    connect(m_region, &RegionBar::searchRequested, this, &MainAppWindow::on_searchCtrl_clicked);
    m_region->announce();

    // Each search's region is outlined on the map as it starts.
    connect(m_searches, &SearchRunner::started, this, [this](const QuakeDataManager *search) {
        m_panes->map()->setRegion(m_searches->requestOf(search)->region);
    });
    connect(tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { m_live->markSeen(current, m_searches->shown()); });
    connect(m_live, &LiveFollower::eventWanted, this, [this](const QString &reference) {
        m_panes->links()->showInTree(LiveFollower::indexOfReference(m_searches->shown(), reference));
    });
    QAction *follow = findChild<QAction *>(QStringLiteral("actionFollowLive"));
    connect(follow, &QAction::toggled, m_live, &LiveFollower::setFollowing);
    follow->setChecked(LiveFollower::wasFollowing());

    connect(tree, SIGNAL(itemClicked(QTreeWidgetItem*,int)), this, SLOT(treeViewItemClicked(QTreeWidgetItem*,int)));
    // A default button works only in dialogs: Enter in the URL field presses
    // the search button here, which does nothing while a search runs.
    connect(findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl")), SIGNAL(returnPressed()),
            findChild<QPushButton *>(QStringLiteral("searchCtrl")), SLOT(click()));

    statusBar()->showMessage(welcomeMessage(), 0);
}

MainAppWindow::~MainAppWindow()
{
    // The searches go first, while the parts they reach are still there;
    // then the panes, before the result they read.
    qDeleteAll(findChildren<QuakeDataManager *>(Qt::FindDirectChildrenOnly));
    qDeleteAll(findChildren<QDockWidget *>(Qt::FindDirectChildrenOnly));
    delete ui;
}

QString MainAppWindow::welcomeMessage()
{
    return tr("Welcome to Harvix") + QLatin1String(" (") + QLatin1String(__DATE__) + QLatin1Char(')');
}

void MainAppWindow::setupMenuBar()
{
    WindowMenus::fill(this, m_panes, m_region, m_sequence->action(), m_decluster->menu(), m_player);
}

SearchRequest MainAppWindow::request() const
{
    SearchRequest asked = m_period->request(findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text());
    asked.region = m_region->region(&asked.regionWords);
    return asked;
}

QString MainAppWindow::queryString()
{
    SearchRequest asked = request();
    // A period or a magnitude of the bar's in place of the lists'; a region's keys follow the five of every search.
    return asked.overridesLists() ? asked.url(QDate::currentDate())
                                  : assembleQueryString(asked.listMagnitude, asked.listDays, asked.serviceUrl)
            + asked.region.queryKeys();
}

QString MainAppWindow::assembleQueryString(int magnitudeLower, int daysBack, QString &searchUrl)
{
    return QueryComposition::assemble(magnitudeLower, daysBack, searchUrl, QDate::currentDate());
}

void MainAppWindow::on_searchCtrl_clicked() { searchAsked(); }

QuakeDataManager *MainAppWindow::searchAsked()
{
    if (findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text().isEmpty()) {
        QMessageBox::critical(this, tr("No Search URL"),
                              tr("Cannot perform search without a URL of the web service!"));
        return nullptr;
    }
    for (const auto &[title, problem] : { std::pair(tr("Region"), m_region->problem()),
                                          std::pair(tr("Period"), m_period->problem()) }) {
        if (!problem.isEmpty()) {
            QMessageBox::critical(this, title, problem);
            return nullptr;
        }
    }
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(false);
    return startSearch(false);
}

void MainAppWindow::startQuery() { startSearch(false); }

QuakeDataManager *MainAppWindow::startSearch(bool quiet)
{
    return m_searches->start(request(), quiet);
}

void MainAppWindow::displayDownloadProgress(qint64 bytesReceived, qint64 /*bytesTotal*/)
{
    statusBar()->showMessage(tr("%1 bytes received..").arg(bytesReceived), 0);
}

void MainAppWindow::quakeDataLoaded(QuakeDataManager *inQDMgr)
{
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
    // A search that started after this one has its result on screen already
    // (this one may have waited behind its error box). Its progress messages
    // may have covered that result's count.
    if (m_searches->isSuperseded(inQDMgr)) {
        statusBar()->showMessage(m_searches->resultMessage(m_searches->shown()), 0);
        inQDMgr->deleteLater();
        return;
    }
    QTreeWidget *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    if (m_live->isRun(inQDMgr)) {
        if (!m_live->showResult(inQDMgr, m_searches->shown(), [&] { buildTreeModel(inQDMgr, tree); },
                                m_searches->resultMessage(inQDMgr)))
            return;
    } else {
        // A search of the button's starts what following compares afresh.
        m_live->restart();
        buildTreeModel(inQDMgr, tree);
    }
    m_searches->releaseIdle(inQDMgr);
}

void MainAppWindow::quakeDataFailed(QuakeDataManager *inQDMgr)
{
    if (m_live->isRun(inQDMgr)) {
        m_live->runFailed(inQDMgr);
        return;
    }
    // The manager has shown the error; the tree keeps what it had.
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
    statusBar()->showMessage(tr("Search failed: see the message."), 0);
    inQDMgr->deleteLater();
}

void MainAppWindow::buildTreeModel(QuakeDataManager *manager, QTreeWidget *tree)
{
    if (!tree || !manager)
        return;
    m_searches->setShown(manager);
    tree->clear();

    const QuakeEventStore &events = manager->quakeEvents();
    ResultTree::Build build;
    if (!m_results->takePrepared(manager, build.items)) {
        build.boldFont = ResultTree::boldFont(tree);
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
    m_shown->show(manager, m_live->isKeepingView());
    statusBar()->showMessage(m_searches->resultMessage(manager), 0);
}

void MainAppWindow::newTreeItemForQuakeEvent(QTreeWidget *tree, const std::string &eventId,
                                             std::map<std::string, std::string> &fields)
{
    // One font shared by all items of a build, rather than a copy each.
    QTreeWidgetItem *eventItem = ResultItems::eventItem(eventId, fields, m_treeBuild ? m_treeBuild->boldFont
                                                                                        : ResultTree::boldFont(tree));
    if (m_treeBuild)
        m_treeBuild->items.append(eventItem);
    else
        tree->addTopLevelItem(eventItem);
}

void MainAppWindow::treeViewItemClicked(QTreeWidgetItem *item, int column)
{
    if (column == 1 && item && item->text(0).toLatin1() == QuakeLabels::Reference.c_str())
        openEventPage(item->text(1));
}

void MainAppWindow::openEventPage(const QString &reference)
{
    const QUrl page = m_searches->pageOf(reference);
    if (!QDesktopServices::openUrl(page))
        statusBar()->showMessage(tr("The web browser could not be started to show %1").arg(page.toString()));
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
    QInputDialog::getText(this, tr("Query String"), tr("Query String for current filter settings:"),
                          QLineEdit::Normal, queryString());
}

void MainAppWindow::treeViewExpandAll() { findChild<QTreeWidget *>(QStringLiteral("treeWidget"))->expandAll(); }

void MainAppWindow::treeViewCollapseAll() { findChild<QTreeWidget *>(QStringLiteral("treeWidget"))->collapseAll(); }

bool MainAppWindow::exportEvents(const QString &path, QString *error)
{
    const Outcome exported = m_panes->exportEvents(path);
    *error = exported.kind == Outcome::Cancelled ? tr("the export was cancelled") : exported.error;
    return exported.kind == Outcome::Done;
}

void MainAppWindow::exportEventsAs() { m_panes->exportEventsAs(); }
