#include "app/sequenceaction.h"

#include "app/resulttree.h"
#include "app/searchrunner.h"
#include "app/shownresult.h"
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

#include <charconv>
#include <cmath>

namespace {

// A value read as a float, as the decimal number it was written as
// (-45.5f is -45.5, 166.9f is 166.9 rather than 166.89999389648438).
double decimal(float value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double exact = value;
    std::from_chars(text, written.ptr, exact);
    return exact;
}

} // namespace

SequenceAction::SequenceAction(QMainWindow *window, QTreeWidget *tree, const SearchRunner *searches,
                               const ShownResult *shown)
    : QObject(window)
    , m_window(window)
    , m_tree(tree)
    , m_searches(searches)
    , m_shown(shown)
    , m_action(new QAction(tr("Show Its Sequence"), window))
    , m_page(new SequencePage)
{
    m_page->setObjectName(QStringLiteral("sequencePage"));
    m_action->setObjectName(QStringLiteral("actionShowSequence"));
    m_action->setToolTip(tr("Search the current event's aftershocks: the distance and days of Gardner and Knopoff's "
                            "window, at every magnitude"));
    connect(m_action, &QAction::triggered, this, &SequenceAction::showSequence);
    offerOn(m_tree);
    connect(shown, &ShownResult::resultShown, this, &SequenceAction::shown);
}

void SequenceAction::offerOn(QWidget *widget)
{
    widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    widget->addAction(m_action);
}

void SequenceAction::shown()
{
    const QuakeDataManager *search = m_shown->search();
    const SearchRequest *request = search ? m_searches->requestOf(search) : nullptr;
    if (!request || !m_request || *request != *m_request) {
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
    // The circle searched holds the whole window: its centre is the
    // event's, its radius the window's and 20 m more, to the next ten
    // metres, so that no event on the window's edge is rounded out.
    const double radiusKm = SequenceWindow::radiusKm(at.magnitude);
    SearchRequest request = m_searches->asked();
    request.region.box.reset();
    request.region.circle = SearchRegion::Circle { { decimal(at.latitude), decimal(at.longitude) },
                                                   std::ceil((radiusKm + 0.02) * 100) / 100 };
    request.period = std::make_pair(start, std::max(start, end));
    request.minMagnitude = 0;
    m_mainshock = { QString::fromLatin1(event.reference().data(), qsizetype(event.reference().size())),
                    ShippedData::places().describe({ at.latitude, at.longitude }),
                    event.utcSeconds, at.latitude, at.longitude, at.depthKm, at.magnitude,
                    radiusKm, start, std::max(start, end) };
    m_request.reset();
    m_page->clear();
    if (const QuakeDataManager *search = m_searches->ask(request))
        m_request = *m_searches->requestOf(search);
}
