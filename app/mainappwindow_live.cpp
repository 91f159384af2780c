// Following a search live: the search runs again every so often, each
// result shown in place of the last with what changed marked, the view as
// the user left it.

#include "app/mainappwindow_live.h"

#include "app/desktopnotifier.h"
#include "app/eventlinks.h"
#include "app/livechanges.h"
#include "app/mapwidget.h"
#include "app/watchedplaces.h"
#include "app/watchplacesdialog.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QDateTime>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTime>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

namespace {

const char followingKey[] = "live/following";
const char intervalKey[] = "live/intervalSeconds";
constexpr int DefaultIntervalSeconds = 60;
constexpr int LeastIntervalSeconds = 10;

const QColor newColour(200, 90, 0);
const std::string referenceLabel = "Reference ID:";

// An event's reference, or its key when it has none.
const std::string &referenceOf(const QuakeDataManager *search, const std::string &key)
{
    const QuakeFieldMap &fields = search->quakeEvents().at(key);
    const auto reference = fields.find(referenceLabel);
    return reference != fields.end() && !reference->second.empty() ? reference->second : key;
}

// The event a tree item belongs to: its top-level item's index.
int eventIndexOf(const QTreeWidget *tree, QTreeWidgetItem *item)
{
    while (item && item->parent())
        item = item->parent();
    return item ? tree->indexOfTopLevelItem(item) : -1;
}

const std::string *eventIdAt(const QuakeDataManager *search, int index)
{
    if (!search || index < 0 || std::size_t(index) >= search->quakeLocations().size())
        return nullptr;
    return search->quakeLocations()[std::size_t(index)].eventId;
}

// A row of the tree by its event and its place under it (-1: the event's own).
struct RowOfEvent
{
    std::string eventId;
    int row = -1;
};

// What the user made of the tree: collapsed events, the current row and
// the row at the top of the view, by event, to be found again in the next
// result.
struct TreeState
{
    std::unordered_set<std::string> collapsed;
    std::optional<RowOfEvent> current;
    int currentColumn = 0;
    std::optional<RowOfEvent> top;
    int horizontal = 0;
};

std::optional<RowOfEvent> rowOf(const QTreeWidget *tree, const QuakeDataManager *search, QTreeWidgetItem *item)
{
    const std::string *id = eventIdAt(search, eventIndexOf(tree, item));
    if (!id)
        return std::nullopt;
    return RowOfEvent { *id, item->parent() ? item->parent()->indexOfChild(item) : -1 };
}

TreeState stateOf(QTreeWidget *tree, const QuakeDataManager *search)
{
    TreeState state;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (!tree->topLevelItem(i)->isExpanded()) {
            if (const std::string *id = eventIdAt(search, i))
                state.collapsed.insert(*id);
        }
    }
    state.current = rowOf(tree, search, tree->currentItem());
    state.currentColumn = std::max(0, tree->currentColumn());
    state.top = rowOf(tree, search, tree->itemAt(QPoint(0, 0)));
    state.horizontal = tree->horizontalScrollBar()->value();
    return state;
}

void restore(QTreeWidget *tree, const QuakeDataManager *search, const TreeState &state)
{
    std::unordered_map<std::string, int> indexOf;
    indexOf.reserve(search->quakeLocations().size());
    for (std::size_t i = 0; i < search->quakeLocations().size(); ++i)
        indexOf.emplace(*search->quakeLocations()[i].eventId, int(i));
    const auto itemOf = [&](const std::optional<RowOfEvent> &row) -> QTreeWidgetItem * {
        const auto found = row ? indexOf.find(row->eventId) : indexOf.end();
        QTreeWidgetItem *item = found == indexOf.end() ? nullptr : tree->topLevelItem(found->second);
        return item && row->row >= 0 ? item->child(row->row) : item;
    };
    for (const std::string &id : state.collapsed) {
        if (const auto found = indexOf.find(id); found != indexOf.end())
            tree->topLevelItem(found->second)->setExpanded(false);
    }
    if (QTreeWidgetItem *current = itemOf(state.current))
        tree->setCurrentItem(current, state.currentColumn);
    if (QTreeWidgetItem *top = itemOf(state.top))
        tree->scrollToItem(top, QAbstractItemView::PositionAtTop);
    tree->horizontalScrollBar()->setValue(state.horizontal);
}

QString listed(const std::vector<std::string> &ids)
{
    // A few are named; many are counted.
    if (ids.empty() || ids.size() > 3)
        return QString();
    QStringList names;
    for (const std::string &id : ids) {
        // "[2026p123456] Tue, ..." by its reference.
        const QString text = QString::fromLatin1(id.data(), qsizetype(id.size()));
        const qsizetype end = text.indexOf(u']');
        names << (text.startsWith(u'[') && end > 0 ? text.mid(1, end - 1) : text);
    }
    return QStringLiteral(" (%1)").arg(names.join(QStringLiteral(", ")));
}

} // namespace

void MainAppWindow::setupLive()
{
    m_live = std::make_unique<Live>();
    m_live->baseTitle = windowTitle();
    m_live->timer = new QTimer(this);
    m_live->timer->setObjectName(QStringLiteral("liveTimer"));
    connect(m_live->timer, &QTimer::timeout, this, &MainAppWindow::runLive);
    connect(findChild<QTreeWidget *>(QStringLiteral("treeWidget")), &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { markSeen(current); });
    m_live->notifier = new DesktopNotifier(statusBar(), this);
    connect(m_live->notifier, &DesktopNotifier::activated, this, &MainAppWindow::showNotifiedEvent);
    auto *follow = findChild<QAction *>(QStringLiteral("actionFollowLive"));
    follow->setChecked(QSettings().value(QLatin1String(followingKey), false).toBool());
}

void MainAppWindow::setFollowLive(bool on)
{
    QSettings().setValue(QLatin1String(followingKey), on);
    m_live->restart();
    if (!on) {
        m_live->timer->stop();
        // The run in flight goes, unseen.
        if (QuakeDataManager *running = m_live->running) {
            disconnect(running, nullptr, this, nullptr);
            dropPreparedItems(running);
            m_regionWords.erase(running);
            running->deleteLater();
        }
        m_live->running = nullptr;
        m_map->setMarkedEvents({});
        m_map->setWithdrawn({});
        QTreeWidget *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
        // The withdrawn ones go with the marks.
        const int events = m_shownSearch ? int(m_shownSearch->quakeLocations().size()) : 0;
        while (tree->topLevelItemCount() > events)
            delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            tree->topLevelItem(i)->setText(1, QString());
        updateLiveTitle();
        statusBar()->showMessage(tr("Following live stopped."), 0);
        return;
    }
    const int seconds = std::max(LeastIntervalSeconds,
                                 QSettings().value(QLatin1String(intervalKey), DefaultIntervalSeconds).toInt());
    m_live->timer->start(seconds * 1000);
    runLive();
}

void MainAppWindow::runLive()
{
    if (m_live->running)
        return;
    // A search that cannot run says so once, in the status bar.
    if (findChild<QLineEdit *>(QStringLiteral("searchUrlCtrl"))->text().isEmpty()) {
        statusBar()->showMessage(tr("Following live: there is no URL of the web service to search."), 0);
        return;
    }
    m_live->running = startSearch(true);
}

bool MainAppWindow::isLiveRun(const QuakeDataManager *search) const
{
    return m_live && search && m_live->running == search;
}

void MainAppWindow::liveRunFailed(QuakeDataManager *search)
{
    m_live->running = nullptr;
    statusBar()->showMessage(tr("Following live: the search at %1 failed (%2); the last result is still shown.")
                                 .arg(QTime::currentTime().toString(QStringLiteral("HH:mm")), search->errorText()),
                             0);
    search->deleteLater();
}

void MainAppWindow::showLiveResult(QuakeDataManager *search)
{
    if (!search->errorText().isEmpty()) {
        liveRunFailed(search);
        return;
    }
    m_live->running = nullptr;
    QTreeWidget *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    const bool comparing = m_live->comparing && m_shownSearch;
    LiveChanges changes;
    if (comparing)
        changes = LiveChanges::between(m_shownSearch->quakeEvents(), search->quakeEvents());
    const TreeState state = stateOf(tree, m_shownSearch);
    // The withdrawn events as they were shown, before their items go.
    if (comparing && !changes.withdrawn.empty()) {
        const std::unordered_set<std::string> gone(changes.withdrawn.begin(), changes.withdrawn.end());
        const std::vector<LocatedEvent> &before = m_shownSearch->quakeLocations();
        for (std::size_t i = 0; i < before.size(); ++i) {
            QTreeWidgetItem *item = tree->topLevelItem(int(i));
            if (!item || !gone.count(*before[i].eventId))
                continue;
            const QuakeLocation &at = before[i].location;
            std::optional<GeoPoint> where;
            if (std::isfinite(at.latitude) && std::isfinite(at.longitude))
                where = GeoPoint { at.latitude, at.longitude };
            m_live->withdrawn.push_back({ *before[i].eventId, std::unique_ptr<QTreeWidgetItem>(item->clone()), where });
        }
    }

    // The new result in place of the last, painted once.
    tree->setUpdatesEnabled(false);
    m_live->keepingView = comparing;
    buildTreeModel(search, tree);
    m_live->keepingView = false;
    m_live->revised = std::move(changes.revised);
    for (const std::string &id : changes.added)
        m_live->unseen.insert(id);
    // Marked: the new events not seen yet that are still there.
    std::vector<int> marked;
    std::unordered_set<std::string> unseen;
    for (std::size_t i = 0; i < search->quakeLocations().size(); ++i) {
        const std::string &id = *search->quakeLocations()[i].eventId;
        QTreeWidgetItem *item = tree->topLevelItem(int(i));
        if (m_live->unseen.count(id)) {
            item->setText(1, tr("new"));
            item->setForeground(1, newColour);
            marked.push_back(int(i));
            unseen.insert(id);
        }
        const auto revised = m_live->revised.find(id);
        if (revised == m_live->revised.end())
            continue;
        for (int row = 0; row < item->childCount(); ++row) {
            QTreeWidgetItem *child = item->child(row);
            const auto was = revised->second.find(child->text(0).toStdString());
            if (was != revised->second.end())
                child->setText(1, tr("%1 (was %2)").arg(child->text(1).trimmed(),
                                                        QString::fromLatin1(was->second.data(), qsizetype(was->second.size()))
                                                            .trimmed()));
        }
    }
    m_live->unseen = std::move(unseen);
    // The withdrawn ones after the events, greyed, unless they are back.
    std::unordered_set<std::string> present;
    for (const LocatedEvent &event : search->quakeLocations())
        present.insert(*event.eventId);
    std::vector<GeoPoint> crossed;
    auto &withdrawn = m_live->withdrawn;
    withdrawn.erase(std::remove_if(withdrawn.begin(), withdrawn.end(),
                                   [&](const Live::Withdrawn &trace) { return present.count(trace.id) > 0; }),
                    withdrawn.end());
    for (const Live::Withdrawn &trace : withdrawn) {
        QTreeWidgetItem *item = trace.item->clone();
        item->setText(1, tr("withdrawn"));
        const QColor grey(130, 130, 130);
        std::function<void(QTreeWidgetItem *)> paleAll = [&](QTreeWidgetItem *row) {
            for (int column = 0; column < 2; ++column)
                row->setForeground(column, grey);
            for (int child = 0; child < row->childCount(); ++child)
                paleAll(row->child(child));
        };
        paleAll(item);
        tree->addTopLevelItem(item);
        if (trace.at)
            crossed.push_back(*trace.at);
    }
    if (comparing)
        restore(tree, search, state);
    tree->setUpdatesEnabled(true);
    m_map->setWithdrawn(crossed);
    m_map->setMarkedEvents(marked);
    updateLiveTitle();

    showResultMessage(search);
    const QString at = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    statusBar()->showMessage(
        statusBar()->currentMessage() + u' '
            + (comparing ? tr("Following live: %1 new, %2 revised, %3 withdrawn%4 at %5")
                               .arg(changes.added.size())
                               .arg(m_live->revised.size())
                               .arg(changes.withdrawn.size())
                               .arg(listed(changes.withdrawn), at)
                         : tr("Following live from %1").arg(at)),
        0);
    m_live->comparing = true;
    // Never for the first result: only what is new since following began.
    if (comparing)
        notifyWatchers(search, changes.added);
}

void MainAppWindow::markSeen(QTreeWidgetItem *current)
{
    QTreeWidget *tree = findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    const int index = eventIndexOf(tree, current);
    const std::string *id = eventIdAt(m_shownSearch, index);
    if (!id || !m_live->unseen.erase(*id))
        return;
    tree->topLevelItem(index)->setText(1, QString());
    std::vector<int> marked = m_map->markedEvents();
    marked.erase(std::remove(marked.begin(), marked.end(), index), marked.end());
    m_map->setMarkedEvents(marked);
    updateLiveTitle();
}

void MainAppWindow::updateLiveTitle()
{
    const std::size_t unseen = m_live->unseen.size();
    setWindowTitle(unseen > 0 ? QStringLiteral("(%1) %2").arg(unseen).arg(m_live->baseTitle) : m_live->baseTitle);
}

void MainAppWindow::notifyWatchers(const QuakeDataManager *search, const std::vector<std::string> &added)
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
        const std::string &reference = referenceOf(search, *event.eventId);
        if (inside == watched.end() || !m_live->notified.insert(reference).second)
            continue;
        const QuakeLocation &at = event.location;
        QString place = m_map->placeOf(int(i));
        if (place.isEmpty())
            place = inside->name;
        QStringList details;
        if (std::isfinite(at.depthKm))
            details << tr("depth %1 km").arg(at.depthKm, 0, 'f', 0);
        if (std::isfinite(event.utcSeconds)) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(qint64(event.utcSeconds), Qt::LocalTime);
            details << local.toString(QStringLiteral("ddd d MMM, HH:mm ")) + local.timeZoneAbbreviation();
        }
        m_live->notifier->notify(tr("M%1 earthquake").arg(at.magnitude, 0, 'f', 1),
                                 place + u'\n' + details.join(QStringLiteral(", ")),
                                 QString::fromLatin1(reference.data(), qsizetype(reference.size())));
    }
}

void MainAppWindow::showNotifiedEvent(const QString &reference)
{
    showNormal();
    raise();
    activateWindow();
    if (!m_shownSearch)
        return;
    const std::string wanted = reference.toLatin1().toStdString();
    const std::vector<LocatedEvent> &events = m_shownSearch->quakeLocations();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (referenceOf(m_shownSearch, *events[i].eventId) == wanted) {
            m_links->showInTree(int(i));
            return;
        }
    }
}

void MainAppWindow::watchPlaces(const QString &proposed)
{
    WatchPlacesDialog dialog(WatchedPlace::load(), findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->completer(), this);
    dialog.propose(proposed);
    if (dialog.exec() == QDialog::Accepted)
        WatchedPlace::save(dialog.places());
}
