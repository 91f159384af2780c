#include "app/shownresult.h"

#include "geo/places.h"
#include "geo/shippeddata.h"
#include "service/quakedatamanager.h"

namespace {

// While playing, views that read every event follow this often.
constexpr qint64 SettleMilliseconds = 250;

} // namespace

ShownResult::ShownResult(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("shownResult"));
}

void ShownResult::show(const QuakeDataManager *search, bool keepView)
{
    reset(search, search ? &search->quakeLocations() : nullptr, search ? &search->rawEvents() : nullptr, keepView);
}

void ShownResult::setEvents(const std::vector<LocatedEvent> *events, const std::vector<RawEvent> *raw, bool keepView)
{
    reset(nullptr, events, raw, keepView);
}

void ShownResult::reset(const QuakeDataManager *search, const std::vector<LocatedEvent> *events,
                        const std::vector<RawEvent> *raw, bool keepView)
{
    m_search = search;
    m_events = events;
    m_raw = raw;
    m_keepView = keepView;
    m_fixed.clear();
    if (events && raw) {
        for (const LocatedEvent &event : *events) {
            if (event.rawIndex >= 0 && isFixedDepth((*raw)[std::size_t(event.rawIndex)][RawEvent::DepthType]))
                m_fixed.insert(event.eventId);
        }
    }
    m_selected = -1;
    m_cluster.clear();
    m_mainshock.clear();
    m_hiddenCount = 0;
    m_hiddenNote.clear();
    m_added.clear();
    m_revised.clear();
    if (!keepView)
        m_withdrawn.clear();
    emit resultShown();
}

QString ShownResult::placeOf(int index) const
{
    if (index < 0 || index >= count())
        return QString();
    const QuakeLocation &at = (*m_events)[std::size_t(index)].location;
    if (!std::isfinite(at.latitude) || !std::isfinite(at.longitude) || std::fabs(at.latitude) > 90)
        return QString();
    return ShippedData::places().describe({ at.latitude, at.longitude });
}

void ShownResult::select(int index)
{
    if (index < 0 || index >= count())
        index = -1;
    if (index == m_selected)
        return;
    m_selected = index;
    emit selectionChanged(index);
}

void ShownResult::setClusters(std::vector<std::int32_t> cluster, std::vector<std::int32_t> mainshock, const QString &note)
{
    if (cluster.size() != std::size_t(count()) || mainshock.size() != cluster.size())
        cluster.clear(), mainshock.clear();
    m_cluster = std::move(cluster);
    m_mainshock = std::move(mainshock);
    m_hiddenCount = 0;
    for (std::size_t i = 0; i < m_mainshock.size(); ++i)
        m_hiddenCount += isHidden(i) ? 1 : 0;
    m_hiddenNote = m_cluster.empty() ? QString() : note;
    emit clustersChanged();
}

void ShownResult::setTimeShown(double until, double flashSpan)
{
    m_until = until;
    m_flashSpan = flashSpan;
    emit timeChanged();
    if (flashSpan <= 0 || !m_sinceSettled.isValid() || m_sinceSettled.elapsed() >= SettleMilliseconds) {
        m_sinceSettled.start();
        emit timeSettled();
    }
}

void ShownResult::setMarks(std::vector<int> added, std::vector<int> revised)
{
    m_added = std::move(added);
    m_revised = std::move(revised);
    emit marksChanged();
}

void ShownResult::setWithdrawn(std::vector<GeoPoint> places)
{
    m_withdrawn = std::move(places);
    emit withdrawnChanged();
}

void ShownResult::setFixedDepths(std::unordered_set<const std::string *> fixed)
{
    m_fixed = std::move(fixed);
    emit sectionChanged();
}

void ShownResult::setSection(const std::optional<CrossSection> &section)
{
    m_section = section;
    emit sectionChanged();
}
