#include "http/fdsnservice.h"

#include "catalogue/catalogue.h"
#include "formats/fdsntextwriter.h"
#include "formats/quakeml12writer.h"
#include "quakeml/text.h"
#include "geo/places.h"
#include "geo/shippeddata.h"
#include "http/fdsnquery.h"

#include <QDateTime>
#include <QSet>

#include <memory>

namespace {

constexpr std::size_t ChunkBytes = 64 * 1024;

const char *reasonOf(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 413: return "Request Entity Too Large";
    case 500: return "Internal Server Error";
    default: return "Error";
    }
}

QString placeOf(const EventRow &row)
{
    if (!row.latitude || !row.longitude)
        return QString();
    return ShippedData::places().catalogueName({ *row.latitude, *row.longitude });
}

// Reads the events of a query, skipping the first offset - 1 and giving at
// most limit, the circle tested.
class Selection
{
public:
    Selection(const Catalogue &catalogue, std::shared_ptr<const FdsnQuery> query)
        : m_query(std::move(query))
        , m_cursor(catalogue.select(m_query->selection))
    {
    }

    bool next(EventRow &row)
    {
        if (m_query->limit && m_given >= *m_query->limit)
            return false;
        while (m_cursor->next(row)) {
            if (!m_query->matches(row))
                continue;
            if (m_skipped + 1 < m_query->offset) {
                ++m_skipped;
                continue;
            }
            ++m_given;
            return true;
        }
        return false;
    }
    QString error() const { return m_cursor->error(); }

private:
    std::shared_ptr<const FdsnQuery> m_query;
    std::unique_ptr<Catalogue::Cursor> m_cursor;
    std::int64_t m_skipped = 0;
    std::int64_t m_given = 0;
};

} // namespace

FdsnService::FdsnService(const Catalogue &catalogue, std::optional<std::int64_t> maxEvents)
    : m_catalogue(catalogue)
    , m_maxEvents(maxEvents)
{
}

void FdsnService::answer(std::string_view route, std::string_view query, const QString &url, HttpReply &reply) const
{
    reply.headers.emplace_back("Access-Control-Allow-Origin", "*");
    if (route == "query") {
        this->query(query, url, reply);
    } else if (route == "version") {
        reply.body = std::string(version) + '\n';
    } else if (route == "application.wadl") {
        reply.type = "application/xml";
        reply.body = wadl();
    } else if (route == "catalogs" || route == "contributors") {
        sources(route == "contributors", reply);
    } else if (route.empty()) {
        reply.body = "The FDSN event service of harvix-gateway (fdsnws-event " + std::string(version)
            + "): query, version, application.wadl, catalogs, contributors.\n"
              "Example: query?starttime=2024-01-01&endtime=2024-01-31&minmagnitude=4&format=text\n";
    } else {
        error(reply, 404, QStringLiteral("No such method of the FDSN event service: %1")
                              .arg(QString::fromUtf8(route.data(), qsizetype(route.size()))), url);
    }
}

void FdsnService::error(HttpReply &reply, int status, const QString &details, const QString &url)
{
    reply.status = status;
    reply.type = HttpReply::textType;
    reply.stream = nullptr;
    reply.body = QStringLiteral("Error %1: %2\n\n%3\n\nUsage details are available from %4\n\nRequest:\n%5\n\n"
                                "Request Submitted:\n%6\n\nService version:\n%7\n")
                     .arg(status).arg(QLatin1String(reasonOf(status)), details, QLatin1String(root), url,
                          QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), QLatin1String(version))
                     .toStdString();
}

void FdsnService::query(std::string_view raw, const QString &url, HttpReply &reply) const
{
    Parsed<FdsnQuery> parsed = FdsnQuery::parse(raw);
    if (!parsed.value) {
        error(reply, 400, parsed.error, url);
        return;
    }
    if (!parsed.value->catalog.isEmpty() || !parsed.value->contributor.isEmpty()) {
        // The names that catalogs and contributors list, as sources.
        QStringList sources;
        const Read<QList<Catalogue::SourceSummary>> summary = m_catalogue.summary();
        if (summary.failed()) {
            error(reply, 503, QStringLiteral("the catalogue's sources could not be read"), url);
            return;
        }
        for (const Catalogue::SourceSummary &source : *summary) {
            if ((parsed.value->catalog.isEmpty() || source.source == parsed.value->catalog)
                && (parsed.value->contributor.isEmpty()
                    || Catalogue::agencyOf(source.source) == parsed.value->contributor))
                sources << source.source;
        }
        parsed.value->selection.sources = sources;
    }
    auto query = std::make_shared<const FdsnQuery>(std::move(*parsed.value));
    if (m_maxEvents) {
        Selection counting(m_catalogue, query);
        EventRow row;
        std::int64_t count = 0;
        while (count <= *m_maxEvents && counting.next(row))
            ++count;
        if (count > *m_maxEvents) {
            error(reply, 413, QStringLiteral("The query selects more than %1 events, the most that this service "
                                             "gives at once: narrow it, or page with limit and offset.")
                                  .arg(*m_maxEvents), url);
            return;
        }
    }
    auto selection = std::make_shared<Selection>(m_catalogue, query);
    // The first event is read before the reply starts: none is no data.
    auto first = std::make_shared<EventRow>();
    const bool any = selection->next(*first);
    if (!selection->error().isEmpty()) {
        error(reply, 500, QStringLiteral("The catalogue cannot be read: %1").arg(selection->error()), url);
        return;
    }
    if (!any) {
        if (query->noDataStatus == 404)
            error(reply, 404, QStringLiteral("No events match the query."), url);
        else
            reply.status = 204;
        return;
    }
    const bool text = query->format == FdsnQuery::Format::Text;
    reply.type = text ? HttpReply::textType : HttpReply::xmlType;
    reply.stream = [selection, first, text, started = false](std::string &chunk, bool &last) mutable {
        chunk.reserve(ChunkBytes + 4096);
        EventRow row;
        bool more = true;
        if (!started) {
            started = true;
            chunk = text ? FdsnTextWriter::header() : QuakeML12Writer::documentStart();
            row = std::move(*first);
        } else {
            more = selection->next(row);
        }
        while (more) {
            if (text)
                FdsnTextWriter::appendEvent(chunk, row, row.source, Catalogue::agencyOf(row.source), placeOf(row));
            else
                QuakeML12Writer::appendEvent(chunk, row, placeOf(row));
            if (chunk.size() >= ChunkBytes)
                return true;
            more = selection->next(row);
        }
        if (!selection->error().isEmpty())
            return false;
        if (!text)
            chunk += QuakeML12Writer::documentEnd();
        last = true;
        return true;
    };
}

void FdsnService::sources(bool agencies, HttpReply &reply) const
{
    const char *list = agencies ? "Contributors" : "Catalogs";
    const char *item = agencies ? "Contributor" : "Catalog";
    std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + list + '>';
    QSet<QString> seen;
    const Read<QList<Catalogue::SourceSummary>> summary = m_catalogue.summary();
    if (summary.failed()) {
        reply.text(503, QStringLiteral("the catalogue's sources could not be read"));
        return;
    }
    for (const Catalogue::SourceSummary &source : *summary) {
        const QString name = agencies ? Catalogue::agencyOf(source.source) : source.source;
        if (name.isEmpty() || seen.contains(name))
            continue;
        seen.insert(name);
        Text::appendTextElement(out, item, name);
    }
    out += std::string("</") + list + ">\n";
    reply.type = HttpReply::xmlType;
    reply.body = out;
}

std::string FdsnService::wadl()
{
    struct Parameter
    {
        const char *name;
        const char *type;
        const char *options;    // space-separated, or null
    };
    static const Parameter parameters[] = {
        { "starttime", "xs:dateTime", nullptr }, { "endtime", "xs:dateTime", nullptr },
        { "minlatitude", "xs:double", nullptr }, { "maxlatitude", "xs:double", nullptr },
        { "minlongitude", "xs:double", nullptr }, { "maxlongitude", "xs:double", nullptr },
        { "latitude", "xs:double", nullptr }, { "longitude", "xs:double", nullptr },
        { "minradius", "xs:double", nullptr }, { "maxradius", "xs:double", nullptr },
        { "mindepth", "xs:double", nullptr }, { "maxdepth", "xs:double", nullptr },
        { "minmagnitude", "xs:double", nullptr }, { "maxmagnitude", "xs:double", nullptr },
        { "magnitudetype", "xs:string", nullptr }, { "eventtype", "xs:string", nullptr },
        { "includeallorigins", "xs:boolean", "false" }, { "includeallmagnitudes", "xs:boolean", "false" },
        { "includearrivals", "xs:boolean", "false" }, { "eventid", "xs:string", nullptr },
        { "limit", "xs:int", nullptr }, { "offset", "xs:int", nullptr },
        { "orderby", "xs:string", "time time-asc magnitude magnitude-asc" },
        { "updatedafter", "xs:dateTime", nullptr }, { "format", "xs:string", "xml text" },
        { "nodata", "xs:int", "204 404" },
    };
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<application xmlns=\"http://wadl.dev.java.net/2009/02\" "
                      "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
                      "<resources base=\"/fdsnws/event/1/\">\n"
                      "<resource path=\"query\"><method name=\"GET\" id=\"query\"><request>\n";
    for (const Parameter &parameter : parameters) {
        out += std::string("<param name=\"") + parameter.name + "\" style=\"query\" type=\"" + parameter.type + '"';
        if (!parameter.options) {
            out += "/>\n";
            continue;
        }
        out += ">";
        const QStringList options = QString::fromLatin1(parameter.options).split(u' ');
        for (const QString &option : options)
            out += "<option value=\"" + option.toStdString() + "\"/>";
        out += "</param>\n";
    }
    out += "</request><response status=\"200\"><representation mediaType=\"application/xml\"/>"
           "<representation mediaType=\"text/plain\"/></response>"
           "<response status=\"204 400 404 413 500\"><representation mediaType=\"text/plain\"/></response>"
           "</method></resource>\n"
           "<resource path=\"catalogs\"><method name=\"GET\"><response><representation mediaType=\"application/xml\"/>"
           "</response></method></resource>\n"
           "<resource path=\"contributors\"><method name=\"GET\"><response><representation "
           "mediaType=\"application/xml\"/></response></method></resource>\n"
           "<resource path=\"version\"><method name=\"GET\"><response><representation mediaType=\"text/plain\"/>"
           "</response></method></resource>\n"
           "<resource path=\"application.wadl\"><method name=\"GET\"><response><representation "
           "mediaType=\"application/xml\"/></response></method></resource>\n"
           "</resources>\n</application>\n";
    return out;
}
