#include "app/mainappwindow.h"
#include "ui_mainappwindow.h"

#include "app/querycomposition.h"
#include "service/quakeservice.h"
#include "service/quakedatamanager.h"

#include "app/mainappwindow_live.h"
#include "app/mapwidget.h"

#include <QComboBox>
#include <QDate>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

MainAppWindow::MainAppWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainAppWindow)
{
    ui->setupUi(this);
    // The default address is kept with the other service address rather than in the form.
    findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(QuakeService::searchUrl());

    setupMap();
    setupPlots();
    setupRegionBar();
    setupMenuBar();
    setupLive();

    connect(findChild<QTreeWidget *>(QStringLiteral("treeWidget")),
            SIGNAL(itemClicked(QTreeWidgetItem*,int)),
            this, SLOT(treeViewItemClicked(QTreeWidgetItem*,int)));
    // A default button works only in dialogs: Enter in the URL field presses
    // the search button here, which does nothing while a search runs.
    connect(findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl")), SIGNAL(returnPressed()),
            findChild<QPushButton *>(QStringLiteral("searchCtrl")), SLOT(click()));

    statusBar()->showMessage(welcomeMessage(), 0);
}

MainAppWindow::~MainAppWindow()
{
    // The searches go first, while this is still the window their
    // connections expect (each one's end drops its prepared items).
    qDeleteAll(findChildren<QuakeDataManager *>(Qt::FindDirectChildrenOnly));
    delete ui;
}

QString MainAppWindow::welcomeMessage()
{
    return tr("Welcome to Harvix") + QLatin1String(" (") + QLatin1String(__DATE__)
        + QLatin1Char(')');
}

QString MainAppWindow::queryString()
{
    QString searchUrl = findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text();
    const int magIndex = findChild<QComboBox *>(QStringLiteral("magRangeCtrl"))->currentIndex();
    const int dateIndex = findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"))->currentIndex();
    // A region's keys follow the five of every search.
    return assembleQueryString(QueryComposition::magnitudeLowerBound(magIndex),
                               QueryComposition::daysBack(dateIndex), searchUrl)
        + searchRegion().queryKeys();
}

QString MainAppWindow::assembleQueryString(int magnitudeLower, int daysBack, QString &searchUrl)
{
    return QueryComposition::assemble(magnitudeLower, daysBack, searchUrl,
                                      QDate::currentDate());
}

void MainAppWindow::on_searchCtrl_clicked()
{
    if (findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text().isEmpty()) {
        QMessageBox::critical(this, tr("No Search URL"),
                              tr("Cannot perform search without a URL of the web service!"));
        return;
    }
    if (!regionIsSearchable())
        return;
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(false);
    startQuery();
}

void MainAppWindow::startQuery()
{
    startSearch(false);
}

QuakeDataManager *MainAppWindow::startSearch(bool quiet)
{
    QString url = queryString();
    auto *manager = new QuakeDataManager(this, url);
    manager->setQuiet(quiet);
    QString words;
    const SearchRegion region = searchRegion(&words);
    m_map->setRegion(region);
    m_regionWords[manager] = words;
    connect(manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)),
            this, SLOT(quakeDataLoaded(QuakeDataManager*)));
    connect(manager, SIGNAL(quakeDataFailed(QuakeDataManager*)),
            this, SLOT(quakeDataFailed(QuakeDataManager*)));
    // While the reply is read, its events' items are made between the
    // pieces of reading, and the window goes on painting. (The status bar
    // keeps the bytes received until the result.)
    connect(manager, &QuakeDataManager::eventsRead, this, [this, manager] { prepareTreeItems(manager); });
    // However a search ends, its items that were not shown go with it.
    connect(manager, &QObject::destroyed, this, [this, manager] {
        dropPreparedItems(manager);
        m_regionWords.erase(manager);
    });
    manager->performRequest();
    return manager;
}

void MainAppWindow::displayDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    statusBar()->showMessage(tr("%1 bytes received..").arg(bytesReceived), 0);
}

void MainAppWindow::quakeDataLoaded(QuakeDataManager *inQDMgr)
{
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
    // A search that started after this one has its result on screen already
    // (this one may have waited behind its error box). Its progress messages
    // may have covered that result's count.
    if (m_shownSearch && inQDMgr->serial() < m_shownSearch->serial()) {
        showResultMessage(m_shownSearch);
        inQDMgr->deleteLater();
        return;
    }
    if (isLiveRun(inQDMgr)) {
        showLiveResult(inQDMgr);
    } else {
        // A search of the button's starts what following compares afresh.
        m_live->restart();
        updateLiveTitle();
        buildTreeModel(inQDMgr, findChild<QTreeWidget *>(QStringLiteral("treeWidget")));
    }
    releaseIdleSearches(inQDMgr);
}

void MainAppWindow::quakeDataFailed(QuakeDataManager *inQDMgr)
{
    if (isLiveRun(inQDMgr)) {
        liveRunFailed(inQDMgr);
        return;
    }
    // The manager has shown the error; the tree keeps what it had.
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
    statusBar()->showMessage(tr("Search failed: see the message."), 0);
    inQDMgr->deleteLater();
}

// Every search but the one shown and those still in flight is finished with:
// its store is not needed any more.
void MainAppWindow::releaseIdleSearches(QuakeDataManager *shown)
{
    for (QuakeDataManager *manager : findChildren<QuakeDataManager *>(Qt::FindDirectChildrenOnly)) {
        if (manager != shown && !manager->isInFlight())
            manager->deleteLater();
    }
}
