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

#include <cmath>
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
            apply();
            m_window->statusBar()->showMessage(m_method == None ? tr("Not declustered: every event is shown.") : m_summary, 0);
        });
    }
    // A new result's count is said first; what declustering made of it
    // follows, once the window has said the count.
    connect(shown, &ShownResult::resultShown, this, [this] {
        const QuakeDataManager *search = m_shown->search();
        apply();
        if (m_summary.isEmpty())
            return;
        QMetaObject::invokeMethod(this, [this, search] {
            QStatusBar *bar = m_window->statusBar();
            if (search == m_shown->search() && !m_summary.isEmpty() && !bar->currentMessage().endsWith(m_summary))
                bar->showMessage(bar->currentMessage() + u' ' + m_summary, 0);
        }, Qt::QueuedConnection);
    });
}

void DeclusterAction::apply()
{
    m_summary.clear();
    if (m_method == None || m_shown->count() == 0) {
        if (m_shown->isDeclustered())
            m_shown->setClusters({}, {}, QString());
        return;
    }
    // The events with a magnitude, a position and a time, in time order
    // then id; each with its index in the store.
    const std::vector<LocatedEvent> &located = *m_shown->events();
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
    std::vector<std::int32_t> cluster(located.size(), 0), mainshock(located.size(), -1);
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
                    .arg(m_method == GardnerKnopoff ? tr("by Gardner and Knopoff's window") : tr("by nearest neighbours"),
                         counted(mainshocks, tr("1 mainshock"), tr("%1 mainshocks")),
                         counted(qlonglong(events.size()), tr("1 event"), tr("%1 events")),
                         counted(clusters, tr("1 cluster"), tr("%1 clusters")));
}
