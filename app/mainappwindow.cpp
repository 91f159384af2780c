#include "app/mainappwindow.h"
#include "ui_mainappwindow.h"

#include "app/querycomposition.h"
#include "service/geonetservice.h"
#include "service/quakedatamanager.h"

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
    findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->setText(GeoNetService::searchUrl());

    setupMenuBar();

    connect(findChild<QTreeWidget *>(QStringLiteral("treeWidget")),
            SIGNAL(itemClicked(QTreeWidgetItem*,int)),
            this, SLOT(treeViewItemClicked(QTreeWidgetItem*,int)));

    statusBar()->showMessage(welcomeMessage(), 0);
}

MainAppWindow::~MainAppWindow()
{
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
    return assembleQueryString(QueryComposition::magnitudeLowerBound(magIndex),
                               QueryComposition::daysBack(dateIndex), searchUrl);
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
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(false);
    startQuery();
}

void MainAppWindow::startQuery()
{
    QString url = queryString();
    auto *manager = new QuakeDataManager(this, url);
    connect(manager, SIGNAL(quakeDataLoaded(QuakeDataManager*)),
            this, SLOT(quakeDataLoaded(QuakeDataManager*)));
    connect(manager, SIGNAL(quakeDataFailed(QuakeDataManager*)),
            this, SLOT(quakeDataFailed(QuakeDataManager*)));
    manager->performRequest();
}

void MainAppWindow::displayDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    statusBar()->showMessage(tr("%1 bytes received..").arg(bytesReceived), 0);
}

void MainAppWindow::quakeDataLoaded(QuakeDataManager *inQDMgr)
{
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
    buildTreeModel(inQDMgr, findChild<QTreeWidget *>(QStringLiteral("treeWidget")));
}

void MainAppWindow::quakeDataFailed(QuakeDataManager *inQDMgr)
{
    Q_UNUSED(inQDMgr);
    // The manager has shown the error; the tree and status bar keep what they had.
    findChild<QPushButton *>(QStringLiteral("searchCtrl"))->setEnabled(true);
}
