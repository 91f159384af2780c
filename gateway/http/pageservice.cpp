#include "http/pageservice.h"

#include <algorithm>

#include "catalogue/catalogue.h"
#include "catalogue/eventquery.h"
#include "geo/places.h"
#include "geo/shippeddata.h"
#include "http/pages.h"
#include "http/sequenceservice.h"
#include "upstream/upstream.h"

#include <functional>
#include <vector>

void PageService::home(const QString &searchUrl, HttpReply &reply)
{
    reply.type = HttpReply::htmlType;
    QString heard;
    if (m_upstream) {
        const std::optional<std::int64_t> last = m_catalogue.lastFetched(m_upstream->key());
        heard = last ? QStringLiteral("The catalogue last heard from %1 (%2) at %3 (%4).")
                           .arg(m_upstream->name(), m_upstream->url().toString(), Pages::utcText(*last),
                                Pages::newZealandText(*last))
                     : QStringLiteral("The catalogue has not heard from %1 (%2) yet.")
                           .arg(m_upstream->name(), m_upstream->url().toString());
    }
    const std::shared_ptr<const Home> parts = home();
    reply.body = Pages::home(parts->sources, searchUrl, parts->pictures, heard);
}

void PageService::notFound(const QString &path, HttpReply &reply) const
{
    reply.status = 404;
    reply.type = HttpReply::htmlType;
    reply.body = Pages::notFound(QStringLiteral("Nothing is at %1.").arg(path));
}

void PageService::event(const QString &text, HttpReply &reply) const
{
    // No id holds a control character: one that seems to (a NUL, a line
    // end) is a mistake, not an id to look for.
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; })) {
        reply.text(400, QStringLiteral("an event id holds no control characters"));
        return;
    }
    reply.type = HttpReply::htmlType;
    const Read<EventRow> row = m_catalogue.find(text);
    if (row.failed()) {
        reply.status = 503;
        reply.body = Pages::notFound(QStringLiteral("The catalogue could not be read: try again in a moment."));
        return;
    }
    if (!row) {
        reply.status = 404;
        reply.body = Pages::notFound(QStringLiteral("The catalogue holds no event with the id %1.").arg(text));
        return;
    }
    QString place;
    Pages::Neighbours neighbours;
    if (row->latitude && row->longitude) {
        const GeoPoint at { *row->latitude, *row->longitude };
        place = ShippedData::places().catalogueName(at);
        // The events within 100 km in the 30 days before it and after it,
        // read once to count them and find the largest after it, and again
        // as the map draws them.
        constexpr std::int64_t month = std::int64_t(30) * 86400 * 1000000;
        EventQuery around;
        around.startUs = row->originTimeUs - month;
        around.endUs = row->originTimeUs + month;
        around.minLatitude = *row->latitude - 1;
        around.maxLatitude = *row->latitude + 1;
        around.order = EventQuery::Order::TimeAscending;
        const Catalogue &catalogue = m_catalogue;
        const QString self = row->publicId;
        const auto eachNeighbour = [&catalogue, around, at, self](const std::function<void(const EventRow &, double km)> &take) {
            const std::unique_ptr<Catalogue::Cursor> cursor = catalogue.select(around);
            EventRow other;
            while (cursor->next(other)) {
                if (other.publicId == self || !other.latitude || !other.longitude)
                    continue;
                const double km = Geo::distanceKm(at, { *other.latitude, *other.longitude });
                if (km <= 100)
                    take(other, km);
            }
        };
        using Listed = Pages::Neighbours::Listed;
        const auto larger = [](const Listed &a, const Listed &b) { return a.magnitude.value_or(-99) > b.magnitude.value_or(-99); };
        eachNeighbour([&](const EventRow &other, double km) {
            if (other.originTimeUs < row->originTimeUs) {
                ++neighbours.before;
                return;
            }
            ++neighbours.after;
            std::vector<Listed> &largest = neighbours.largestAfter;
            const Listed listed { other.publicId, other.originTimeUs, other.magnitude, km };
            if (largest.size() == Pages::Neighbours::MostListed && !larger(listed, largest.back()))
                return;
            largest.insert(std::upper_bound(largest.begin(), largest.end(), listed, larger), listed);
            if (largest.size() > Pages::Neighbours::MostListed)
                largest.pop_back();
        });
        neighbours.events = [eachNeighbour](const std::function<void(const SvgEvent &)> &take) {
            eachNeighbour([&take](const EventRow &other, double) {
                take({ { *other.latitude, *other.longitude }, other.magnitude, other.depthKm, other.originTimeUs });
            });
        };
    }
    // Its sequence, for an event of M4 or more whose window holds no more
    // events than a page may study (/sequence studies any).
    if (row->magnitude && *row->magnitude >= Pages::Neighbours::SequenceMagnitude && row->latitude && row->longitude) {
        QString error;
        neighbours.sequence = SequenceService::study(m_catalogue, *row, std::nullopt, std::nullopt, &error,
                                                     Pages::Neighbours::SequenceMostEvents);
    }
    reply.body = Pages::event(*row, place, neighbours);
}

std::shared_ptr<const PageService::Home> PageService::home()
{
    // Made again only when the catalogue has changed: a catalogue that hears
    // of every change says so with its serial, else its count and latest
    // change tell. Either is read before making, so that a change while
    // making is made again next time.
    // One that cannot be read now is not kept.
    const std::optional<std::uint64_t> serial = m_catalogue.changeSerial();
    const std::optional<qint64> count = serial ? std::nullopt : m_catalogue.eventCount();
    const std::optional<qint64> modified = serial ? std::nullopt : m_catalogue.lastModified();
    const bool known = serial || (count && modified);
    const std::pair<std::int64_t, std::int64_t> version
        = serial ? std::pair<std::int64_t, std::int64_t>(-1, std::int64_t(*serial))
                 : std::pair<std::int64_t, std::int64_t>(count.value_or(-1), modified.value_or(-1));
    {
        std::lock_guard<std::mutex> lock(m_picturesMutex);
        if (m_home && known && m_picturesVersion == version)
            return m_home;
    }
    // The catalogue is gone through a few times, never held whole.
    const SvgMap::EventSource events = [this](const std::function<void(const SvgEvent &)> &take) {
        EventQuery all;
        all.order = EventQuery::Order::TimeAscending;
        const std::unique_ptr<Catalogue::Cursor> cursor = m_catalogue.select(all);
        EventRow row;
        while (cursor->next(row)) {
            if (row.latitude && row.longitude)
                take({ { *row.latitude, *row.longitude }, row.magnitude, row.depthKm, row.originTimeUs });
        }
    };
    auto made = std::make_shared<Home>();
    made->sources = m_catalogue.summary().valueOrEmpty();
    made->pictures = Pages::homePictures(m_catalogue.outline().valueOrEmpty(), (serial ? m_catalogue.eventCount() : count).value_or(0), events);
    if (!known)
        return made;
    std::lock_guard<std::mutex> lock(m_picturesMutex);
    m_home = made;
    m_picturesVersion = version;
    return made;
}
