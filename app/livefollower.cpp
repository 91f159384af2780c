#include "app/livefollower.h"

#include "app/desktopnotifier.h"
#include "app/livechanges.h"
#include "app/searchrunner.h"
#include "app/shownresult.h"
#include "app/resultitems.h"
#include "app/resulttree.h"
#include "quakeml/quakelabels.h"
#include "app/watchedplaces.h"
#include "service/quakedatamanager.h"

#include <QDateTime>
#include <QMainWindow>
#include <QSettings>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

namespace {

const char followingKey[] = "live/following";
const char intervalKey[] = "live/intervalSeconds";
constexpr int DefaultIntervalSeconds = 60;
constexpr int LeastIntervalSeconds = 10;

const QColor newColour(200, 90, 0);
const QColor withdrawnColour(130, 130, 130);

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// An event's reference, or its identifier when it has none.
std::string_view referenceOf(const LocatedEvent &event)
{
    return event.reference().empty() ? std::string_view(*event.eventId) : event.reference();
}

QString listed(const std::vector<std::string> &ids, const QuakeEventStore &before)
{
    // A few are named; many are counted.
    if (ids.empty() || ids.size() > 3)
        return QString();
    QStringList names;
    for (const std::string &id : ids) {
        const auto fields = before.find(id);
        const auto reference = fields == before.end() ? QuakeFieldMap::const_iterator()
                                                      : fields->second.find(QuakeLabels::Reference);
        const bool known = fields != before.end() && reference != fields->second.end() && !reference->second.empty();
        names << latin1(known ? reference->second : id);
    }
    return QStringLiteral(" (%1)").arg(names.join(QStringLiteral(", ")));
}

void paleAll(QTreeWidgetItem *row)
{
    for (int column = 0; column < 2; ++column)
        row->setForeground(column, withdrawnColour);
    for (int child = 0; child < row->childCount(); ++child)
        paleAll(row->child(child));
}

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm"));
}

} // namespace

// A withdrawn event's item as it was, and where it was.
struct LiveFollower::Withdrawn
{
    std::string id;
    std::unique_ptr<QTreeWidgetItem> item;
    std::optional<GeoPoint> at;
};

LiveFollower::LiveFollower(QMainWindow *window, QTreeWidget *tree, ShownResult *shown, SearchRunner *searches)
    : QObject(window)
    , m_window(window)
    , m_tree(tree)
    , m_shown(shown)
    , m_searches(searches)
    , m_timer(new QTimer(window))
    , m_notifier(new DesktopNotifier(window->statusBar(), this))
    , m_baseTitle(window->windowTitle())
{
    m_timer->setObjectName(QStringLiteral("liveTimer"));
    connect(this, &LiveFollower::runDue, this, &LiveFollower::run);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_held)
            m_missed = true;
        else
            emit runDue();
    });
    connect(m_notifier, &DesktopNotifier::activated, this, [this](const QString &reference) {
        m_window->showNormal();
        m_window->raise();
        m_window->activateWindow();
        emit eventWanted(reference);
    });
}

LiveFollower::~LiveFollower() = default;

bool LiveFollower::wasFollowing()
{
    return QSettings().value(QLatin1String(followingKey), false).toBool();
}

void LiveFollower::restart()
{
    m_comparing = false;
    m_unseen.clear();
    m_revised.clear();
    m_revisedEvents.clear();
    m_withdrawn.clear();
}

void LiveFollower::setHeld(bool held)
{
    m_held = held;
    if (held)
        return;
    const bool due = m_missed && m_timer->isActive();
    m_missed = false;
    if (due)
        emit runDue();
}

void LiveFollower::setMarks(const std::vector<int> &added)
{
    m_shown->setMarks(added, m_revisedEvents);
}

void LiveFollower::setFollowing(bool on)
{
    if (!on && m_running)
        m_searches->cancel(m_running);
    on ? start() : stop(m_searches->shown());
}

void LiveFollower::run()
{
    if (m_running)
        return;
    const SearchRequest asked = m_searches->asked();
    if (asked.serviceUrl.isEmpty())
        m_window->statusBar()->showMessage(tr("Following live: there is no URL of the web service to search."), 0);
    else
        m_running = m_searches->start(asked, true);
}

void LiveFollower::start()
{
    QSettings().setValue(QLatin1String(followingKey), true);
    restart();
    const int seconds = std::max(LeastIntervalSeconds,
                                 QSettings().value(QLatin1String(intervalKey), DefaultIntervalSeconds).toInt());
    m_timer->start(seconds * 1000);
    emit runDue();
}

void LiveFollower::stop(const QuakeDataManager *shown)
{
    QSettings().setValue(QLatin1String(followingKey), false);
    restart();
    m_timer->stop();
    m_running = nullptr;
    setMarks({});
    m_shown->setWithdrawn({});
    // The withdrawn ones go with the marks.
    const int events = shown ? int(shown->quakeLocations().size()) : 0;
    while (m_tree->topLevelItemCount() > events)
        delete m_tree->takeTopLevelItem(m_tree->topLevelItemCount() - 1);
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        m_tree->topLevelItem(i)->setText(1, QString());
    updateTitle();
    m_window->statusBar()->showMessage(tr("Following live stopped."), 0);
}

void LiveFollower::runFailed(QuakeDataManager *search)
{
    m_running = nullptr;
    m_window->statusBar()->showMessage(
        tr("Following live: the search at %1 failed (%2); the last result is still shown.").arg(now(), search->errorText()),
        0);
    search->deleteLater();
}

bool LiveFollower::showResult(QuakeDataManager *search, const QuakeDataManager *shown,
                              const std::function<void()> &build, const QString &resultMessage)
{
    if (!search->errorText().isEmpty()) {
        runFailed(search);
        return false;
    }
    m_running = nullptr;
    const bool comparing = m_comparing && shown;
    LiveChanges changes;
    if (comparing)
        changes = LiveChanges::between(shown->quakeEvents(), search->quakeEvents());
    const std::vector<LocatedEvent> none;
    const std::vector<LocatedEvent> &before = shown ? shown->quakeLocations() : none;
    const ResultTree::State state = ResultTree::stateOf(m_tree, before);
    const QString withdrawnNames = comparing ? listed(changes.withdrawn, shown->quakeEvents()) : QString();
    if (comparing)
        keepWithdrawn(changes.withdrawn, before);

    // The new result in place of the last, painted once.
    m_tree->setUpdatesEnabled(false);
    m_keepingView = comparing;
    build();
    m_keepingView = false;
    m_revised = std::move(changes.revised);
    for (const std::string &id : changes.added)
        m_unseen.insert(id);
    const std::vector<LocatedEvent> &after = search->quakeLocations();
    const std::vector<int> marked = markChanges(search);
    const std::vector<GeoPoint> crossed = showWithdrawn(after);
    if (comparing)
        ResultTree::restore(m_tree, after, state);
    m_tree->setUpdatesEnabled(true);
    m_shown->setWithdrawn(std::move(crossed));
    setMarks(marked);
    updateTitle();

    m_window->statusBar()->showMessage(
        resultMessage + u' '
            + (comparing ? tr("Following live: %1 new, %2 revised, %3 withdrawn%4 at %5")
                               .arg(changes.added.size())
                               .arg(m_revised.size())
                               .arg(changes.withdrawn.size())
                               .arg(withdrawnNames, now())
                         : tr("Following live from %1").arg(now())),
        0);
    m_comparing = true;
    // Never for the first result: only what is new since following began.
    if (comparing)
        notifyWatchers(search, changes.added);
    return true;
}

void LiveFollower::keepWithdrawn(const std::vector<std::string> &withdrawn, const std::vector<LocatedEvent> &before)
{
    // The withdrawn events as they were shown, before their items go.
    const std::unordered_set<std::string> gone(withdrawn.begin(), withdrawn.end());
    for (std::size_t i = 0; i < before.size(); ++i) {
        QTreeWidgetItem *item = m_tree->topLevelItem(int(i));
        if (!item || !gone.count(*before[i].eventId))
            continue;
        const QuakeLocation &at = before[i].location;
        std::optional<GeoPoint> where;
        if (std::isfinite(at.latitude) && std::isfinite(at.longitude))
            where = GeoPoint { at.latitude, at.longitude };
        m_withdrawn.push_back(std::make_unique<Withdrawn>(
            Withdrawn { *before[i].eventId, std::unique_ptr<QTreeWidgetItem>(item->clone()), where }));
    }
}

std::vector<int> LiveFollower::markChanges(const QuakeDataManager *search)
{
    const std::vector<LocatedEvent> &after = search->quakeLocations();
    // Marked: the new events not seen yet that are still there.
    std::vector<int> marked;
    m_revisedEvents.clear();
    std::unordered_set<std::string> unseen;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const std::string &id = *after[i].eventId;
        QTreeWidgetItem *item = m_tree->topLevelItem(int(i));
        if (m_unseen.count(id)) {
            item->setText(1, tr("new"));
            item->setForeground(1, newColour);
            marked.push_back(int(i));
            unseen.insert(id);
        }
        const auto revised = m_revised.find(id);
        if (revised == m_revised.end())
            continue;
        m_revisedEvents.push_back(int(i));
        const QuakeFieldMap &fields = search->quakeEvents().at(id);
        for (const auto &[label, was] : revised->second) {
            if (QTreeWidgetItem *row = item->child(ResultItems::rowOf(fields, label)))
                row->setText(1, tr("%1 (was %2)").arg(row->text(1).trimmed(), latin1(was).trimmed()));
        }
    }
    m_unseen = std::move(unseen);
    return marked;
}

std::vector<GeoPoint> LiveFollower::showWithdrawn(const std::vector<LocatedEvent> &after)
{
    // The withdrawn ones after the events, greyed, unless they are back.
    std::unordered_set<std::string> present;
    for (const LocatedEvent &event : after)
        present.insert(*event.eventId);
    m_withdrawn.erase(std::remove_if(m_withdrawn.begin(), m_withdrawn.end(),
                                     [&](const auto &trace) { return present.count(trace->id) > 0; }),
                      m_withdrawn.end());
    std::vector<GeoPoint> crossed;
    for (const auto &trace : m_withdrawn) {
        QTreeWidgetItem *item = trace->item->clone();
        item->setText(1, tr("withdrawn"));
        paleAll(item);
        m_tree->addTopLevelItem(item);
        if (trace->at)
            crossed.push_back(*trace->at);
    }
    return crossed;
}

void LiveFollower::markSeen(QTreeWidgetItem *current, const QuakeDataManager *shown)
{
    const int index = ResultTree::eventIndexOf(m_tree, current);
    if (!shown || index < 0 || std::size_t(index) >= shown->quakeLocations().size()
        || !m_unseen.erase(*shown->quakeLocations()[std::size_t(index)].eventId))
        return;
    m_tree->topLevelItem(index)->setText(1, QString());
    std::vector<int> marked = m_shown->added();
    marked.erase(std::remove(marked.begin(), marked.end(), index), marked.end());
    setMarks(marked);
    updateTitle();
}

void LiveFollower::updateTitle()
{
    const std::size_t unseen = m_unseen.size();
    m_window->setWindowTitle(unseen > 0 ? QStringLiteral("(%1) %2").arg(unseen).arg(m_baseTitle) : m_baseTitle);
}

void LiveFollower::notifyWatchers(const QuakeDataManager *search, const std::vector<std::string> &added)
{
    const QList<WatchedPlace> watched = WatchedPlace::load();
    if (watched.isEmpty() || added.empty())
        return;
    const std::unordered_set<std::string> isNew(added.begin(), added.end());
    for (std::size_t i = 0; i < search->quakeLocations().size(); ++i) {
        const LocatedEvent &event = search->quakeLocations()[i];
        if (!isNew.count(*event.eventId))
            continue;
        const auto inside = std::find_if(watched.begin(), watched.end(),
                                         [&](const WatchedPlace &place) { return place.holds(event.location); });
        const std::string reference(referenceOf(event));
        if (inside == watched.end() || !m_notified.insert(reference).second)
            continue;
        const QuakeLocation &at = event.location;
        QString place = m_shown->placeOf(int(i));
        if (place.isEmpty())
            place = inside->name;
        QStringList details;
        if (std::isfinite(at.depthKm))
            details << tr("depth %1 km").arg(at.depthKm, 0, 'f', 0);
        if (std::isfinite(event.utcSeconds)) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(qint64(event.utcSeconds), Qt::LocalTime);
            details << local.toString(QStringLiteral("ddd d MMM, HH:mm ")) + local.timeZoneAbbreviation();
        }
        m_notifier->notify(tr("M%1 earthquake").arg(at.magnitude, 0, 'f', 1),
                           place + u'\n' + details.join(QStringLiteral(", ")), latin1(reference));
    }
}

int LiveFollower::indexOfReference(const QuakeDataManager *search, const QString &reference)
{
    if (!search)
        return -1;
    const std::string wanted = reference.toLatin1().toStdString();
    const std::vector<LocatedEvent> &events = search->quakeLocations();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (referenceOf(events[i]) == wanted)
            return int(i);
    }
    return -1;
}
