#include "app/declusteraction.h"

#include "app/eventlist.h"
#include "app/eventlistmodel.h"
#include "app/mapwidget.h"
#include "app/panes.h"
#include "app/plotswidget.h"
#include "geo/decluster.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QActionGroup>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>

#include <cmath>
#include <numeric>

DeclusterAction::DeclusterAction(QMainWindow *window, Panes *panes)
    : QObject(window)
    , m_window(window)
    , m_panes(panes)
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
            apply(m_shown);
            m_window->statusBar()->showMessage(m_method == None ? tr("Not declustered: every event is shown.") : m_summary, 0);
        });
    }
    // A new result's count is said first; what declustering made of it
    // follows, once the window has said the count.
    connect(panes, &Panes::eventsShown, this, [this](const QuakeDataManager *search) {
        apply(search);
        if (m_summary.isEmpty())
            return;
        QMetaObject::invokeMethod(this, [this, search] {
            QStatusBar *bar = m_window->statusBar();
            if (search == m_shown && !m_summary.isEmpty() && !bar->currentMessage().endsWith(m_summary))
                bar->showMessage(bar->currentMessage() + u' ' + m_summary, 0);
        }, Qt::QueuedConnection);
    });
}

void DeclusterAction::apply(const QuakeDataManager *search)
{
    m_shown = search;
    m_cluster.clear();
    m_mainshock.clear();
    m_summary.clear();
    EventListModel *list = m_panes->list()->model();
    if (m_method == None || !search || search->quakeLocations().empty()) {
        list->setClusters(nullptr, nullptr);
        m_panes->map()->setHiddenEvents({});
        m_panes->plots()->setHiddenEvents({}, QString());
        return;
    }
    // The events with a magnitude, a position and a time, in time order
    // then id; each with its index in the store.
    const std::vector<LocatedEvent> &located = search->quakeLocations();
    std::vector<std::int32_t> order;
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
    std::vector<QuakePoint> events;
    events.reserve(order.size());
    for (const std::int32_t i : order) {
        const LocatedEvent &e = located[std::size_t(i)];
        events.push_back({ e.utcSeconds, e.location.latitude, e.location.longitude, e.location.magnitude, std::string(e.reference()) });
    }
    const std::vector<Decluster::Membership> memberships = m_method == GardnerKnopoff
        ? Decluster::gardnerKnopoff(events) : Decluster::nearestNeighbours(events).memberships;
    m_cluster.assign(located.size(), 0);
    m_mainshock.assign(located.size(), -1);
    std::vector<bool> hidden(located.size(), false);
    std::vector<int> sizes(events.size() + 1, 0);
    for (std::size_t k = 0; k < events.size(); ++k) {
        const std::size_t store = std::size_t(order[k]);
        m_cluster[store] = memberships[k].cluster;
        m_mainshock[store] = order[std::size_t(memberships[k].mainshock)];
        hidden[store] = memberships[k].mainshock != int(k);
        ++sizes[std::size_t(memberships[k].cluster)];
    }
    const int mainshocks = Decluster::clusterCount(memberships);
    const int clusters = int(std::count_if(sizes.begin(), sizes.end(), [](int size) { return size > 1; }));
    list->setClusters(&m_cluster, &m_mainshock);
    const QLocale c = QLocale::c();
    const qlonglong members = std::count(hidden.begin(), hidden.end(), true);
    m_panes->plots()->setHiddenEvents(hidden, members == 1 ? tr("1 event in a cluster (mainshocks shown)")
                                                           : tr("%1 events in clusters (mainshocks shown)").arg(c.toString(members)));
    m_panes->map()->setHiddenEvents(std::move(hidden));
    const auto counted = [&c](qlonglong n, const QString &one, const QString &many) {
        return n == 1 ? one : many.arg(c.toString(n));
    };
    m_summary = tr("Declustered %1: %2 of %3; %4 of two or more events.")
                    .arg(m_method == GardnerKnopoff ? tr("by Gardner and Knopoff's window") : tr("by nearest neighbours"),
                         counted(mainshocks, tr("1 mainshock"), tr("%1 mainshocks")),
                         counted(qlonglong(events.size()), tr("1 event"), tr("%1 events")),
                         counted(clusters, tr("1 cluster"), tr("%1 clusters")));
}
