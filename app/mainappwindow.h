#pragma once

// Harvix, a browser for New Zealand earthquakes.
//
// MainAppWindow  the one window: the form (filters, search button, result
//                tree) and the menus, composing parts of one job each:
// SearchRunner   starts the searches, each a request of values, and knows
//                which result is shown.
// ShownResult    what is shown of that result, which the views read and
//                the features write.
// ResultTree     the tree's prepared items and its state across results.
// RegionBar      where a search looks, and the cross-section's profile.
// Panes          the map and the plots beside the tree, and saving them.
// LiveFollower   following a search live, with notifications.
// QueryComposition  turns the filters into the request URL (app/).
// QuakeDataManager  one search: fetches the reply and reads it into an event
//                store, then signals the window (service/).
// QuakeMLReader, QuakeEventParser  read the QuakeML document and each <event>
//                into display-ready records (quakeml/).
// The service Harvix searches by default is harvix-gateway (gateway/).
// The window keeps no pointers to the form's controls and finds each one
// by object name when it needs it.

#include "app/resulttree.h"
#include "app/searchrequest.h"

#include <QMainWindow>
#include <QString>

#include <map>
#include <memory>
#include <string>

class DeclusterAction;
class LiveFollower;
class Panes;
class PeriodBar;
class QTreeWidget;
class QTreeWidgetItem;
class QuakeDataManager;
class RegionBar;
class SearchRunner;
class SequenceAction;
class ShownResult;
class TimePlayer;
class Ui_MainAppWindow;

class MainAppWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainAppWindow(QWidget *parent = nullptr);
    ~MainAppWindow() override;

    void setupMenuBar();
    QString queryString();
    QString assembleQueryString(int magnitudeLower, int daysBack, QString &searchUrl);
    void startQuery();
    void buildTreeModel(QuakeDataManager *manager, QTreeWidget *tree);
    void newTreeItemForQuakeEvent(QTreeWidget *tree, const std::string &eventId,
                                  std::map<std::string, std::string> &fields);

    static QString welcomeMessage();

    // Writes the tree's events as CSV, GeoJSON or QuakeML 1.2 by the name's
    // suffix, whole or not at all; false with the reason, a cancel included.
    bool exportEvents(const QString &path, QString *error);

public slots:
    void on_searchCtrl_clicked();
    void quakeDataLoaded(QuakeDataManager *inQDMgr);
    void showQueryString();
    void showAbout();
    void displayDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void treeViewItemClicked(QTreeWidgetItem *item, int column);
    void treeViewExpandAll();
    void treeViewCollapseAll();
    void quakeDataFailed(QuakeDataManager *inQDMgr);
    void exportEventsAs();

private:
    // What the controls ask for.
    SearchRequest request() const;
    // Starts a search of what the controls say; a quiet one shows no
    // message box.
    QuakeDataManager *startSearch(bool quiet);
    // The button's search, refused with a message box where the controls
    // cannot make one; null then.
    QuakeDataManager *searchAsked();
    void openEventPage(const QString &reference);

    Ui_MainAppWindow *ui;
    // While buildTreeModel runs: the items that newTreeItemForQuakeEvent
    // makes, inserted in one call at the end, with the font they share.
    ResultTree::Build *m_treeBuild = nullptr;
    SearchRunner *m_searches;
    ShownResult *m_shown;
    std::unique_ptr<ResultTree> m_results;
    Panes *m_panes;
    RegionBar *m_region;
    PeriodBar *m_period;
    LiveFollower *m_live;
    SequenceAction *m_sequence;
    TimePlayer *m_player;
    DeclusterAction *m_decluster;
};
