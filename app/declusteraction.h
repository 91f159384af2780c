#pragma once

// "Search → Decluster": the shown result declustered by Gardner and
// Knopoff's window or by nearest neighbours (geo/decluster.h), again for
// every result shown until "Not Declustered" is chosen. The work is done on
// a thread of its own, the latest asked for first; the clusters then go to
// the shown result (app/shownresult.h), if it is still the one declustered:
// the map and the plots show the mainshocks only, the list gains the
// Cluster and Mainshock columns, the export writes them. The status bar
// says how many clusters and mainshocks there are, after a new result's
// count.

#include "geo/decluster.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QMainWindow;
class QMenu;
class ShownResult;

class DeclusterAction : public QObject
{
    Q_OBJECT

public:
    enum Method { None, GardnerKnopoff, NearestNeighbours };

    DeclusterAction(QMainWindow *window, ShownResult *shown);
    // Waits for the work in hand, if any.
    ~DeclusterAction() override;

    // The submenu, for the Search menu.
    QMenu *menu() const { return m_menu; }
    Method method() const { return m_method; }
    // "Declustered by nearest neighbours: 1,234 mainshocks of 1,400 events;
    // 56 clusters of two or more events."
    QString summary() const { return m_summary; }

private:
    // The events to decluster, with a magnitude, a position and a time, in
    // time order then id, each with its index in the store.
    struct Job
    {
        quint64 serial = 0;
        Method method = None;
        std::size_t storeSize = 0;
        std::vector<QuakePoint> events;
        std::vector<std::int32_t> order;
    };
    // Declusters what is shown now; told tells the status bar when done.
    void apply(bool told);
    void work();
    void finish(const Job &job, const std::vector<Decluster::Membership> &memberships, bool told);

    QMainWindow *m_window;
    ShownResult *m_shown;
    QMenu *m_menu;
    Method m_method = None;
    QString m_summary;
    quint64 m_serial = 0;              // of the latest job asked
    // The worker and the job waiting for it.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::pair<Job, bool>> m_waiting;
    bool m_stopping = false;
    std::thread m_worker;
};
