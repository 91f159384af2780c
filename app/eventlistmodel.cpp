#include "app/eventlistmodel.h"

#include "geo/places.h"
#include "geo/shippeddata.h"
#include "geo/statistics.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFont>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <thread>

namespace {

const QColor newColour(0xd9, 0x5f, 0x02);
const QColor revisedColour(0x1f, 0x5f, 0xbf);

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// A number's key for sorting; NaN for none.
double numberOf(const LocatedEvent &event, int column)
{
    switch (column) {
    case EventListModel::Time: return event.utcSeconds;
    case EventListModel::Magnitude: return double(event.location.magnitude);
    case EventListModel::Depth: return double(event.location.depthKm);
    default: return std::nan("");
    }
}

} // namespace

EventListModel::EventListModel(const ShownResult *shown, QObject *parent)
    : QAbstractTableModel(parent)
    , m_shown(shown)
{
    readEvents();
    connect(shown, &ShownResult::resultShown, this, &EventListModel::readEvents);
    connect(shown, &ShownResult::clustersChanged, this, &EventListModel::readClusters);
    connect(shown, &ShownResult::timeSettled, this, &EventListModel::readTime);
    connect(shown, &ShownResult::marksChanged, this, [this] {
        if (!m_rows.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), { Qt::ForegroundRole, Qt::FontRole });
    });
}

void EventListModel::readEvents()
{
    beginResetModel();
    // A new result is not declustered yet.
    m_declustered = m_shown->isDeclustered();
    if (m_sortColumn >= columnCount()) {
        m_sortColumn = Time;
        m_sortOrder = Qt::DescendingOrder;
    }
    const std::vector<LocatedEvent> *events = m_shown->events();
    m_events = events && !events->empty() ? events : nullptr;
    m_raw = m_events ? m_shown->raw() : nullptr;
    m_until = m_shown->until();
    m_rows.clear();
    m_rows.shrink_to_fit();
    arrange(m_rows);
    endResetModel();
}

bool EventListModel::passes(int event) const
{
    const LocatedEvent &located = (*m_events)[std::size_t(event)];
    if (!m_shown->isOfTimeShown(std::size_t(event)))
        return false;
    if (m_filter.isEmpty())
        return true;
    return latin1(located.reference()).contains(m_filter, Qt::CaseInsensitive)
        || text(event, Place).contains(m_filter, Qt::CaseInsensitive);
}

void EventListModel::arrange(std::vector<std::int32_t> &rows) const
{
    rows.clear();
    if (!m_events)
        return;
    rows.reserve(m_events->size());
    for (std::size_t i = 0; i < m_events->size(); ++i) {
        if (passes(int(i)))
            rows.push_back(std::int32_t(i));
    }
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    const std::vector<LocatedEvent> &events = *m_events;
    // Equal values keep the store's order; missing ones go last either way.
    const auto byKey = [ascending](const auto &keyOf) {
        return [ascending, keyOf](std::int32_t a, std::int32_t b) {
            const auto ka = keyOf(a), kb = keyOf(b);
            if (ka.first != kb.first)
                return ka.first;   // a has a value and b has none
            if (ka.first && ka.second != kb.second)
                return ascending ? ka.second < kb.second : kb.second < ka.second;
            return a < b;
        };
    };
    switch (m_sortColumn) {
    case Time:
    case Magnitude:
    case Depth: {
        const int column = m_sortColumn;
        std::sort(rows.begin(), rows.end(), byKey([&events, column](std::int32_t i) {
                      const double value = numberOf(events[std::size_t(i)], column);
                      return std::make_pair(!std::isnan(value), value);
                  }));
        break;
    }
    case Cluster: {
        const std::vector<std::int32_t> *cluster = clusters();
        std::sort(rows.begin(), rows.end(), byKey([cluster](std::int32_t i) {
                      const std::int32_t value = cluster ? (*cluster)[std::size_t(i)] : 0;
                      return std::make_pair(value > 0, value);
                  }));
        break;
    }
    case Mainshock:
    case Type:
    case Reference: {
        const int column = m_sortColumn;
        const std::vector<RawEvent> *raw = m_raw;
        const std::vector<std::int32_t> *mainshock = mainshocks();
        std::sort(rows.begin(), rows.end(), byKey([&events, raw, mainshock, column](std::int32_t i) {
                      const LocatedEvent &event = events[std::size_t(i)];
                      std::string_view key;
                      if (column == Reference)
                          key = event.reference();
                      else if (column == Mainshock)
                          key = mainshock && (*mainshock)[std::size_t(i)] >= 0
                              ? events[std::size_t((*mainshock)[std::size_t(i)])].reference() : std::string_view();
                      else if (raw && event.rawIndex >= 0)
                          key = (*raw)[std::size_t(event.rawIndex)][RawEvent::MagnitudeType];
                      return std::make_pair(!key.empty(), key);
                  }));
        break;
    }
    case Place: {
        // By the town that names the event, then by how far from it: the
        // nearest place found once an event, its name ranked once a place.
        const Places &places = ShippedData::places();
        const std::vector<Places::Place> &all = places.all();
        std::vector<std::int32_t> byName(all.size());
        std::iota(byName.begin(), byName.end(), 0);
        std::sort(byName.begin(), byName.end(), [&all](std::int32_t a, std::int32_t b) {
            return all[std::size_t(a)].name.compare(all[std::size_t(b)].name, Qt::CaseInsensitive) < 0;
        });
        std::vector<std::int32_t> rank(all.size());
        for (std::size_t i = 0; i < byName.size(); ++i)
            rank[std::size_t(byName[i])] = std::int32_t(i);
        struct Key
        {
            std::int32_t place = -1;   // its name's rank; -1 for none
            float km = 0;
        };
        std::vector<Key> keys(events.size());
        const auto find = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const std::int32_t row = rows[i];
                const QuakeLocation &at = events[std::size_t(row)].location;
                double km = 0;
                const Places::Place *place = std::isfinite(at.latitude) && std::isfinite(at.longitude)
                    ? places.nearest({ at.latitude, at.longitude }, &km) : nullptr;
                if (place)
                    keys[std::size_t(row)] = { rank[std::size_t(place - all.data())], float(km) };
            }
        };
        // Half on a second thread for a long list: the lookups are most of the sort.
        if (rows.size() > 20000 && std::thread::hardware_concurrency() > 1) {
            std::thread other(find, rows.size() / 2, rows.size());
            find(0, rows.size() / 2);
            other.join();
        } else {
            find(0, rows.size());
        }
        std::sort(rows.begin(), rows.end(), byKey([&keys](std::int32_t i) {
                      const Key &key = keys[std::size_t(i)];
                      return std::make_pair(key.place >= 0, std::make_pair(key.place, key.km));
                  }));
        break;
    }
    }
}

void EventListModel::readClusters()
{
    const bool shown = m_declustered, showing = m_shown->isDeclustered();
    if (showing && !shown)
        beginInsertColumns(QModelIndex(), Cluster, Mainshock);
    else if (shown && !showing)
        beginRemoveColumns(QModelIndex(), Cluster, Mainshock);
    m_declustered = showing;
    if (showing && !shown)
        endInsertColumns();
    else if (shown && !showing)
        endRemoveColumns();
    if (showing && shown && !m_rows.empty())
        emit dataChanged(index(0, Cluster), index(rowCount() - 1, Mainshock));
    if (!showing && m_sortColumn >= ColumnCount)
        sort(Time, Qt::DescendingOrder);
}

void EventListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount())
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The selection and the current row stay on their events.
    const QModelIndexList persistent = persistentIndexList();
    std::vector<std::int32_t> events;
    for (const QModelIndex &index : persistent)
        events.push_back(eventAt(index.row()));
    arrange(m_rows);
    QModelIndexList moved;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const int row = events[i] < 0 ? -1 : rowOf(events[i]);
        moved << (row < 0 ? QModelIndex() : createIndex(row, persistent[qsizetype(i)].column()));
    }
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EventListModel::setFilter(const QString &text)
{
    const QString filter = text.trimmed();
    if (filter == m_filter)
        return;
    beginResetModel();
    m_filter = filter;
    arrange(m_rows);
    endResetModel();
}

QString EventListModel::localTime(double utcSeconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::floor(utcSeconds)), Qt::UTC)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
}

void EventListModel::readTime()
{
    if (m_shown->until() == m_until)
        return;
    beginResetModel();
    m_until = m_shown->until();
    arrange(m_rows);
    endResetModel();
}

EventListModel::Mark EventListModel::markOf(int event) const
{
    // Few events are marked at a time: a look through them is enough.
    const auto holds = [event](const std::vector<int> &marked) {
        return std::find(marked.begin(), marked.end(), event) != marked.end();
    };
    return holds(m_shown->added()) ? New : holds(m_shown->revised()) ? Revised : Unmarked;
}

int EventListModel::eventAt(int row) const
{
    return row >= 0 && std::size_t(row) < m_rows.size() ? m_rows[std::size_t(row)] : -1;
}

int EventListModel::rowOf(int event) const
{
    const auto found = std::find(m_rows.begin(), m_rows.end(), event);
    return found == m_rows.end() ? -1 : int(found - m_rows.begin());
}

int EventListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EventListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_declustered ? DeclusteredCount : ColumnCount;
}

QString EventListModel::text(int event, Column column) const
{
    if (!m_events || event < 0 || std::size_t(event) >= m_events->size())
        return QString();
    const LocatedEvent &located = (*m_events)[std::size_t(event)];
    const QuakeLocation &at = located.location;
    switch (column) {
    case Time: {
        if (!std::isfinite(located.utcSeconds))
            return QString();
        return localTime(located.utcSeconds);
    }
    case Magnitude:
        return std::isfinite(at.magnitude) ? QString::number(Statistics::binOf(at.magnitude) / 10.0, 'f', 1) : QString();
    case Type:
        if (!m_raw || located.rawIndex < 0 || std::size_t(located.rawIndex) >= m_raw->size())
            return QString();
        return QString::fromUtf8((*m_raw)[std::size_t(located.rawIndex)][RawEvent::MagnitudeType]);
    case Depth:
        return std::isfinite(at.depthKm) ? QString::number(double(at.depthKm), 'f', 1) : QString();
    case Place:
        if (!std::isfinite(at.latitude) || !std::isfinite(at.longitude))
            return QString();
        return ShippedData::places().describe({ at.latitude, at.longitude });
    case Reference:
        return latin1(located.referenceLength < 0 ? std::string_view(*located.eventId) : located.reference());
    case Cluster:
        return m_declustered && m_shown->clusters()[std::size_t(event)] > 0
            ? QString::number(m_shown->clusters()[std::size_t(event)]) : QString();
    case Mainshock:
        if (!m_declustered || m_shown->mainshocks()[std::size_t(event)] < 0)
            return QString();
        return text(m_shown->mainshocks()[std::size_t(event)], Reference);
    case DeclusteredCount:
        break;
    }
    return QString();
}

QVariant EventListModel::data(const QModelIndex &index, int role) const
{
    const int event = eventAt(index.row());
    if (event < 0)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return text(event, Column(index.column()));
    case Qt::TextAlignmentRole:
        if (index.column() == Magnitude || index.column() == Depth || index.column() == Cluster)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    case Qt::ForegroundRole:
        switch (markOf(event)) {
        case New: return QBrush(newColour);
        case Revised: return QBrush(revisedColour);
        case Unmarked: break;
        }
        if (index.column() == Reference)
            return QBrush(QColor(0x1a, 0x5f, 0xb4));   // a link: a click opens its page
        return QVariant();
    case Qt::FontRole:
        if (markOf(event) == New) {
            QFont bold;
            bold.setWeight(QFont::Bold);
            return bold;
        }
        return QVariant();
    case Qt::ToolTipRole:
        switch (markOf(event)) {
        case New: return tr("New since following began; not looked at yet");
        case Revised: return tr("Revised since the last run: the tree shows what it was");
        case Unmarked: break;
        }
        return index.column() == Reference ? tr("Open the event's page") : QVariant();
    default:
        return QVariant();
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time: return tr("Time");
    case Magnitude: return tr("Magnitude");
    case Type: return tr("Type");
    case Depth: return tr("Depth (km)");
    case Place: return tr("Place");
    case Reference: return tr("Reference ID");
    case Cluster: return tr("Cluster");
    case Mainshock: return tr("Mainshock");
    default: return QVariant();
    }
}
