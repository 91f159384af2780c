#include "app/sequenceaction.h"

#include "app/periodbar.h"
#include "app/regionbar.h"
#include "app/resulttree.h"
#include "app/searchrunner.h"
#include "geo/sequencewindow.h"
#include "geo/places.h"
#include "geo/shippeddata.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QDateTime>
#include <QMainWindow>
#include <QStatusBar>
#include <QTabWidget>
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
    , m_page(new SequencePage)
{
    m_page->setObjectName(QStringLiteral("sequencePage"));
    m_action->setObjectName(QStringLiteral("actionShowSequence"));
    m_action->setToolTip(tr("Search the current event's aftershocks: the distance and days of Gardner and Knopoff's "
                            "window, at every magnitude"));
    connect(m_action, &QAction::triggered, this, &SequenceAction::showSequence);
    offerOn(m_tree);
    connect(searches, &SearchRunner::started, this, [this](const QuakeDataManager *search) {
        if (m_asking)
            m_url = search->url();
    });
    connect(searches, &SearchRunner::shownChanged, this, &SequenceAction::shown);
}

void SequenceAction::offerOn(QWidget *widget)
{
    widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    widget->addAction(m_action);
}

void SequenceAction::shown(const QuakeDataManager *search)
{
    if (!search || m_url.isEmpty() || search->url() != m_url) {
        m_page->setResult(search ? &search->quakeLocations() : nullptr);
        return;
    }
    const bool first = !m_page->hasSequence();
    m_page->setSequence(m_mainshock, search->quakeLocations());
    // The page comes forward once, not at every run of following live.
    for (QWidget *above = m_page->parentWidget(); first && above; above = above->parentWidget()) {
        if (auto *tabs = qobject_cast<QTabWidget *>(above)) {
            tabs->setCurrentWidget(m_page);
            break;
        }
    }
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
    // The circle searched holds the whole window: its centre is written to
    // about 10 m, so its radius is the window's and 20 m more, to the next
    // ten metres.
    const double radiusKm = SequenceWindow::radiusKm(at.magnitude);
    m_region->setAroundPlace(QStringLiteral("%1, %2").arg(at.latitude, 0, 'f', 4).arg(at.longitude, 0, 'f', 4),
                             std::ceil((radiusKm + 0.02) * 100) / 100);
    m_period->setPeriod(start, std::max(start, end));
    m_period->setMinMagnitude(0);
    m_mainshock = { QString::fromLatin1(event.reference().data(), qsizetype(event.reference().size())),
                    ShippedData::places().describe({ at.latitude, at.longitude }),
                    event.utcSeconds, at.latitude, at.longitude, at.depthKm, at.magnitude,
                    radiusKm, start, std::max(start, end) };
    m_url.clear();
    m_page->clear();
    m_asking = true;
    QMetaObject::invokeMethod(m_window, "on_searchCtrl_clicked");
    m_asking = false;
}
