#include "app/sequenceaction.h"

#include "app/periodbar.h"
#include "app/regionbar.h"
#include "app/resulttree.h"
#include "app/searchrunner.h"
#include "geo/sequencewindow.h"

#include <QAction>
#include <QDateTime>
#include <QMainWindow>
#include <QStatusBar>
#include <QTreeWidget>

#include <cmath>

SequenceAction::SequenceAction(QMainWindow *window, QTreeWidget *tree, const SearchRunner *searches, RegionBar *region,
                               PeriodBar *period)
    : QObject(window)
    , m_window(window)
    , m_tree(tree)
    , m_searches(searches)
    , m_region(region)
    , m_period(period)
    , m_action(new QAction(tr("Show Its Sequence"), window))
{
    m_action->setObjectName(QStringLiteral("actionShowSequence"));
    m_action->setToolTip(tr("Search the current event's aftershocks: the distance and days of Gardner and Knopoff's "
                            "window, at every magnitude"));
    connect(m_action, &QAction::triggered, this, &SequenceAction::showSequence);
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_tree->addAction(m_action);
}

void SequenceAction::showSequence()
{
    const QuakeDataManager *shown = m_searches->shown();
    const int index = ResultTree::eventIndexOf(m_tree, m_tree->currentItem());
    if (!shown || index < 0 || std::size_t(index) >= shown->quakeLocations().size()) {
        m_window->statusBar()->showMessage(tr("Select an event first: its sequence is searched around it."), 0);
        return;
    }
    const LocatedEvent &event = shown->quakeLocations()[std::size_t(index)];
    const QuakeLocation &at = event.location;
    if (!std::isfinite(at.magnitude) || !std::isfinite(at.latitude) || !std::isfinite(at.longitude)
        || !std::isfinite(event.utcSeconds)) {
        m_window->statusBar()->showMessage(tr("This event's magnitude, place or time is not known: its sequence cannot "
                                              "be searched."), 0);
        return;
    }
    const QDate start = QDateTime::fromSecsSinceEpoch(qint64(std::floor(event.utcSeconds)), Qt::UTC).date();
    const QDate today = QDateTime::currentDateTimeUtc().date();
    const QDate end = std::min(start.addDays(qint64(std::ceil(SequenceWindow::days(at.magnitude)))), today);
    m_region->setAroundPlace(QStringLiteral("%1, %2").arg(at.latitude, 0, 'f', 4).arg(at.longitude, 0, 'f', 4),
                             SequenceWindow::radiusKm(at.magnitude));
    m_period->setPeriod(start, std::max(start, end));
    m_period->setMinMagnitude(0);
    QMetaObject::invokeMethod(m_window, "on_searchCtrl_clicked");
}
