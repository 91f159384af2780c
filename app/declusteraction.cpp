#include "app/declusteraction.h"

#include "app/shownresult.h"
#include "geo/decluster.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QActionGroup>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

DeclusterAction::DeclusterAction(QMainWindow *window, ShownResult *shown)
    : QObject(window)
    , m_window(window)
    , m_shown(shown)
    , m_menu(new QMenu(tr("Decluster"), window))
{
    m_menu->setObjectName(QStringLiteral("menuDecluster"));
    auto *group = new QActionGroup(this);
    const struct
    {
        const char *name;
        const char *text;
        Method method;
    } choices[] = { { "actionDeclusterNone", "Not Declustered", None },
                    { "actionDeclusterGardnerKnopoff", "By Gardner and Knopoff's Window", GardnerKnopoff },
                    { "actionDeclusterNearestNeighbours", "By Nearest Neighbours (Zaliapin and Ben-Zion)", NearestNeighbours } };
    for (const auto &choice : choices) {
        QAction *action = m_menu->addAction(tr(choice.text));
        action->setObjectName(QLatin1String(choice.name));
        action->setCheckable(true);
        action->setChecked(choice.method == None);
        group->addAction(action);
        const Method method = choice.method;
        connect(action, &QAction::triggered, this, [this, method] {
            m_method = method;
            if (method == None)
                m_window->statusBar()->showMessage(tr("Not declustered: every event is shown."), 0);
            apply(true);
        });
    }
    // A new result's count is said first; what declustering made of it
    // follows.
    connect(shown, &ShownResult::resultShown, this, [this] { apply(false); });
    m_worker = std::thread(&DeclusterAction::work, this);
}

DeclusterAction::~DeclusterAction()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void DeclusterAction::apply(bool told)
{
    m_summary.clear();
    ++m_serial;
    if (m_method == None || m_shown->count() == 0) {
        if (m_shown->isDeclustered())
            m_shown->setClusters({}, {}, QString());
        return;
    }
    // The events with a magnitude, a position and a time, in time order
    // then id; each with its index in the store.
    const std::vector<LocatedEvent> &located = *m_shown->events();
    Job job;
    job.serial = m_serial;
    job.method = m_method;
    job.storeSize = located.size();
    std::vector<std::int32_t> &order = job.order;
    for (std::size_t i = 0; i < located.size(); ++i) {
        const LocatedEvent &e = located[i];
        if (std::isfinite(e.location.magnitude) && std::isfinite(e.location.latitude) && std::isfinite(e.location.longitude)
            && std::isfinite(e.utcSeconds))
            order.push_back(std::int32_t(i));
    }
    std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        const LocatedEvent &x = located[std::size_t(a)], &y = located[std::size_t(b)];
        return x.utcSeconds != y.utcSeconds ? x.utcSeconds < y.utcSeconds : x.reference() < y.reference();
    });
    job.events.reserve(order.size());
    for (const std::int32_t i : order) {
        const LocatedEvent &e = located[std::size_t(i)];
        job.events.push_back({ e.utcSeconds, e.location.latitude, e.location.longitude, e.location.magnitude, std::string(e.reference()) });
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting = std::make_pair(std::move(job), told);
    }
    m_wake.notify_one();
}

void DeclusterAction::work()
{
    for (;;) {
        std::pair<Job, bool> next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_waiting; });
            if (m_stopping)
                return;
            next = std::move(*m_waiting);
            m_waiting.reset();
        }
        const Job &job = next.first;
        auto memberships = std::make_shared<std::vector<Decluster::Membership>>(
            job.method == GardnerKnopoff ? Decluster::gardnerKnopoff(job.events)
                                         : Decluster::nearestNeighbours(job.events).memberships);
        auto done = std::make_shared<std::pair<Job, bool>>(std::move(next));
        // Back on the window's thread; a job overtaken by a later one goes.
        QMetaObject::invokeMethod(this, [this, done, memberships] {
            if (done->first.serial == m_serial)
                finish(done->first, *memberships, done->second);
        }, Qt::QueuedConnection);
    }
}

void DeclusterAction::finish(const Job &job, const std::vector<Decluster::Membership> &memberships, bool told)
{
    const std::vector<QuakePoint> &events = job.events;
    const std::vector<std::int32_t> &order = job.order;
    std::vector<std::int32_t> cluster(job.storeSize, 0), mainshock(job.storeSize, -1);
    std::vector<int> sizes(events.size() + 1, 0);
    qlonglong members = 0;
    for (std::size_t k = 0; k < events.size(); ++k) {
        const std::size_t store = std::size_t(order[k]);
        cluster[store] = memberships[k].cluster;
        mainshock[store] = order[std::size_t(memberships[k].mainshock)];
        members += memberships[k].mainshock != int(k) ? 1 : 0;
        ++sizes[std::size_t(memberships[k].cluster)];
    }
    const int mainshocks = Decluster::clusterCount(memberships);
    const int clusters = int(std::count_if(sizes.begin(), sizes.end(), [](int size) { return size > 1; }));
    const QLocale c = QLocale::c();
    m_shown->setClusters(std::move(cluster), std::move(mainshock),
                         members == 1 ? tr("1 event in a cluster (mainshocks shown)")
                                      : tr("%1 events in clusters (mainshocks shown)").arg(c.toString(members)));
    const auto counted = [&c](qlonglong n, const QString &one, const QString &many) {
        return n == 1 ? one : many.arg(c.toString(n));
    };
    m_summary = tr("Declustered %1: %2 of %3; %4 of two or more events.")
                    .arg(job.method == GardnerKnopoff ? tr("by Gardner and Knopoff's window") : tr("by nearest neighbours"),
                         counted(mainshocks, tr("1 mainshock"), tr("%1 mainshocks")),
                         counted(qlonglong(events.size()), tr("1 event"), tr("%1 events")),
                         counted(clusters, tr("1 cluster"), tr("%1 clusters")));
    // Chosen from the menu, the summary alone; after a new result's count,
    // beside it.
    QStatusBar *bar = m_window->statusBar();
    if (told)
        bar->showMessage(m_summary, 0);
    else if (!bar->currentMessage().endsWith(m_summary))
        bar->showMessage(bar->currentMessage() + u' ' + m_summary, 0);
}
