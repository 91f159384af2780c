#pragma once

// Harvix, a browser for New Zealand earthquakes.
//
// MainAppWindow  the one window: filters, search button, result tree, menus,
//                and the map and plots docks beside the tree. It keeps no
//                pointers to its controls and finds each one by object name
//                when it needs it.
// QueryComposition  turns the filters into the request URL (app/).
// QuakeDataManager  one search: fetches the reply and reads it into an event
//                store, then signals the window (service/).
// QuakeMLReader, QuakeEventParser  read the QuakeML document and each <event>
//                into display-ready records (quakeml/).
// MapWidget, PlotsWidget  the events on a map and in three plots, from the
//                locations the reader noted (app/, with geo/ for projection,
//                land, places, scales and statistics); EventLinks ties an
//                event on them to its tree item.
// EventExport    the tree's events as CSV, GeoJSON or QuakeML 1.2 (app/).
// The service Harvix searches by default is harvix-gateway (gateway/).

#include "geo/searchregion.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class EventLinks;
class MapWidget;
class PlotsWidget;
class QDate;
class QDockWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QuakeDataManager;
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
    // suffix, whole or not at all; false with a reason, or an empty one when
    // the user cancelled.
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
    void setMapShown(bool shown);
    void fitMapToEvents();
    void saveMapAs();
    void exportEventsAs();
    void setPlotsShown(bool shown);
    void savePlotAs();
    // The whole service again, at any depth.
    void clearRegion();
    // Asks for a place and centres the map on it.
    void goToPlace();
    // The next drag on the map draws a cross-section's profile.
    void drawSection();
    // Runs the search now and then every live/intervalSeconds, each result
    // shown in place with what changed marked; remembered.
    void setFollowLive(bool on);
    // The places whose new events are told as desktop notifications; a
    // place given is proposed for adding.
    void watchPlaces(const QString &proposed = QString());

private:
    struct TreeBuild;
    struct Live;
    // An item made for an event while its search is read, before the
    // result is shown: the event's identifier in the search's store and
    // the item, not in the tree yet.
    struct PreparedItem
    {
        const std::string *eventId;
        QTreeWidgetItem *item;
    };

    // Makes the items of the events a search has read since the last call,
    // so that showing its result needs only to insert them.
    void prepareTreeItems(QuakeDataManager *manager);
    // The prepared items in the store's order, one per entry; false, with
    // none left, when they are not all there.
    bool takePreparedItems(const QuakeDataManager *manager, QList<QTreeWidgetItem *> &items);
    void dropPreparedItems(const QuakeDataManager *manager);

    void showResultMessage(const QuakeDataManager *search);
    // Starts a search of what the controls say; a quiet one shows no
    // message box (app/mainappwindow_live.cpp runs them).
    QuakeDataManager *startSearch(bool quiet);
    // Following live (app/mainappwindow_live.cpp).
    void setupLive();
    void runLive();
    bool isLiveRun(const QuakeDataManager *search) const;
    void showLiveResult(QuakeDataManager *search);
    void liveRunFailed(QuakeDataManager *search);
    void markSeen(QTreeWidgetItem *current);
    void updateLiveTitle();
    // Tells of the new events inside watched places.
    void notifyWatchers(const QuakeDataManager *search, const std::vector<std::string> &added);
    // Raises the window with the event of this reference selected.
    void showNotifiedEvent(const QString &reference);
    // The region row under the form (app/mainappwindow_region.cpp).
    void setupRegionBar();
    void regionChanged();
    // The region the controls choose, and in words ("within 50 km of
    // Christchurch"), empty for the whole service.
    SearchRegion searchRegion(QString *words = nullptr) const;
    // False, having said why, when the controls name no region yet.
    bool regionIsSearchable();
    // Shows the profile between the ends, with the half-width the control
    // holds, on the map and as the Section plot; remembered.
    void showSection(bool remember);
    void setupMap();
    void setupPlots();
    // A pane on the right: a dock without a title bar, shown or hidden as
    // the setting of that key remembers (shown at first).
    QDockWidget *addPane(const QString &title, const QString &name, QWidget *content, const char *shownKey);
    // Shows the shown search's events on the map and the plots.
    void showEventsBesideTree(QuakeDataManager *manager);
    void releaseIdleSearches(QuakeDataManager *shown);

    Ui_MainAppWindow *ui;
    // The search whose result the tree shows: an older result that arrives
    // later is dropped, and event pages open at this search's service.
    QPointer<QuakeDataManager> m_shownSearch;
    // While buildTreeModel runs: the items that newTreeItemForQuakeEvent
    // makes, inserted in one call at the end, with the font and label
    // texts that they share.
    TreeBuild *m_treeBuild = nullptr;
    std::unordered_map<const QuakeDataManager *, std::vector<PreparedItem>> m_prepared;
    // The map beside the tree, in a dock of its own so that the form stays
    // as it is.
    QDockWidget *m_mapDock = nullptr;
    MapWidget *m_map = nullptr;
    QDockWidget *m_plotsDock = nullptr;
    PlotsWidget *m_plots = nullptr;
    EventLinks *m_links = nullptr;
    std::optional<SearchRegion::Box> m_drawnBox;
    // A and A′ of the cross-section drawn last.
    std::optional<std::pair<GeoPoint, GeoPoint>> m_sectionEnds;
    std::unique_ptr<Live> m_live;
    // Each search's region in words, for its result's message.
    std::unordered_map<const QuakeDataManager *, QString> m_regionWords;
};
