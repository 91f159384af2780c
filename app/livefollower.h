#pragma once

// LiveFollower: following a search live. The search runs again every so
// often; each result is shown in place of the last with what changed
// marked (new events until they are selected, revised values beside what
// they were, withdrawn events greyed after the rest and crossed out on the
// map) and the view as the user left it. New events inside watched places
// are told as desktop notifications, each once. The window runs the
// searches and builds the tree; the follower keeps the rest.

#include "geo/projection.h"
#include "quakeml/quakeeventrecord.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class DesktopNotifier;
class QMainWindow;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QuakeDataManager;
class SearchRunner;
class ShownResult;

class LiveFollower : public QObject
{
    Q_OBJECT

public:
    // Marks the window's tree, and the shown result for the views; counts
    // the unseen events in the window's title. Its runs are the runner's
    // quiet searches of what the window's controls ask.
    LiveFollower(QMainWindow *window, QTreeWidget *tree, ShownResult *shown, SearchRunner *searches);
    ~LiveFollower() override;

    // Whether following was on when the program last ran.
    static bool wasFollowing();
    // Starts following (a run is due at once and then every interval) or
    // stops it; remembered. Stopping leaves the result shown without its
    // marks; the run in flight is the caller's to cancel.
    void start();
    void stop(const QuakeDataManager *shown);
    // Starts or stops following, the run in flight cancelled unseen.
    void setFollowing(bool on);

    // The run in flight, if any: runs never overlap.
    QuakeDataManager *running() const { return m_running; }
    void setRunning(QuakeDataManager *search) { m_running = search; }
    bool isRun(const QuakeDataManager *search) const { return search && m_running == search; }

    // Held (while a result plays through time), no run is due, so that the
    // result and its marks stay; released, a run missed meanwhile is due at
    // once.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }
    // Forgets what was compared: the next result is the first.
    void restart();
    // While a followed result replaces the last: the map keeps its view.
    bool isKeepingView() const { return m_keepingView; }

    // Shows a run's result in place of the shown one: build puts it in the
    // tree; then its changes are marked and told, after the result's
    // message. False, the run having failed, when it holds an error.
    bool showResult(QuakeDataManager *search, const QuakeDataManager *shown,
                    const std::function<void()> &build, const QString &resultMessage);
    void runFailed(QuakeDataManager *search);
    // The tree's current item is seen: its event is not new any more.
    void markSeen(QTreeWidgetItem *current, const QuakeDataManager *shown);

    // The index of the event of this reference among the search's, or -1.
    static int indexOfReference(const QuakeDataManager *search, const QString &reference);

signals:
    void runDue();
    // A notification was chosen: the window is raised, and the event of
    // this reference is wanted.
    void eventWanted(const QString &reference);

private:
    // A run of the search when none is in flight; a search that cannot run
    // says so once, in the status bar.
    void run();
    void setMarks(const std::vector<int> &added);
    struct Withdrawn;
    void updateTitle();
    // What the next result withdraws, kept as the tree shows it now.
    void keepWithdrawn(const std::vector<std::string> &withdrawn, const std::vector<LocatedEvent> &before);
    // The new events marked until seen, the revised values beside what they
    // were; the indices of the new ones.
    std::vector<int> markChanges(const QuakeDataManager *search);
    // The withdrawn events after the rest, greyed, unless they are back;
    // where they were, to cross out.
    std::vector<GeoPoint> showWithdrawn(const std::vector<LocatedEvent> &after);
    // Tells of the new events inside watched places.
    void notifyWatchers(const QuakeDataManager *search, const std::vector<std::string> &added);

    QMainWindow *m_window;
    QTreeWidget *m_tree;
    ShownResult *m_shown;
    SearchRunner *m_searches;
    QTimer *m_timer;
    DesktopNotifier *m_notifier;
    QString m_baseTitle;
    QPointer<QuakeDataManager> m_running;
    std::vector<int> m_revisedEvents;   // the indices of m_revised's events
    // A result of following is shown: the next one is compared with it.
    bool m_comparing = false;
    bool m_keepingView = false;
    bool m_held = false;
    bool m_missed = false;
    // New events not selected yet, and the earlier values of what the last
    // run revised.
    std::unordered_set<std::string> m_unseen;
    std::map<std::string, QuakeFieldMap> m_revised;
    // Events told of already, by reference: never twice.
    std::unordered_set<std::string> m_notified;
    // What runs withdrew, until following starts afresh or the event is back.
    std::vector<std::unique_ptr<Withdrawn>> m_withdrawn;
};
