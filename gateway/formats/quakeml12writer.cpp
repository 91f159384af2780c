#include "formats/quakeml12writer.h"

#include "formats/text.h"

#include <QStringList>

#include <cctype>

namespace QuakeML12Writer {

namespace {

using Text::appendEscaped;
using Text::appendTextElement;
using Text::appendValueElement;

// The event types of QuakeML 1.2.
const QStringList &schemaTypes()
{
    static const QStringList types = {
        "not existing", "not reported", "earthquake", "anthropogenic event", "collapse", "cavity collapse",
        "mine collapse", "building collapse", "explosion", "accidental explosion", "chemical explosion",
        "controlled explosion", "experimental explosion", "industrial explosion", "mining explosion",
        "quarry blast", "road cut", "blasting levee", "nuclear explosion", "induced or triggered event",
        "rock burst", "reservoir loading", "fluid injection", "fluid extraction", "crash", "plane crash",
        "train crash", "boat crash", "other event", "atmospheric event", "sonic boom", "sonic blast",
        "acoustic noise", "thunder", "avalanche", "snow avalanche", "debris avalanche", "hydroacoustic event",
        "ice quake", "slide", "landslide", "rockslide", "meteorite", "volcanic eruption",
    };
    return types;
}

constexpr const char *publicIdPrefix = "smi:harvix.gateway/event/";

bool plainIdCharacter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
        || c == '_';
}

void appendId(std::string &out, const std::string &id, const char *suffix = "")
{
    appendEscaped(out, QString::fromStdString(id));
    out += suffix;
}

} // namespace

QString eventType(const QString &type)
{
    const QString lower = type.trimmed().toLower();
    if (schemaTypes().contains(lower))
        return lower;
    // What agencies write beside the schema's words (USGS, ISC, EMSC).
    static const QList<QPair<QString, QString>> near = {
        { "quarry", "quarry blast" }, { "mining_explosion", "mining explosion" },
        { "quarry_blast", "quarry blast" }, { "nuclear_explosion", "nuclear explosion" },
        { "rock_burst", "rock burst" }, { "ice_quake", "ice quake" }, { "sonic_boom", "sonic boom" },
        { "volcanic_eruption", "volcanic eruption" }, { "volcanic event", "volcanic eruption" },
        { "induced earthquake", "induced or triggered event" }, { "ke", "earthquake" }, { "se", "earthquake" },
        { "km", "mining explosion" }, { "kr", "rock burst" }, { "kx", "explosion" }, { "kh", "chemical explosion" },
        { "other", "other event" },
    };
    for (const auto &[name, listed] : near) {
        if (lower == name)
            return listed;
    }
    return QString();
}

std::string publicIdOf(const QString &id)
{
    std::string out = publicIdPrefix;
    static const char hex[] = "0123456789ABCDEF";
    for (const unsigned char c : id.toUtf8()) {
        if (plainIdCharacter(c)) {
            out += char(c);
        } else {
            out += '~';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

QString idOf(const std::string &text)
{
    std::string_view id = text;
    if (id.substr(0, std::string_view(publicIdPrefix).size()) != publicIdPrefix)
        return QString::fromStdString(text);
    id.remove_prefix(std::string_view(publicIdPrefix).size());
    QByteArray bytes;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (id[i] == '~' && i + 2 < id.size() && std::isxdigit(static_cast<unsigned char>(id[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(id[i + 2]))) {
            bytes += char(std::stoi(std::string(id.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            bytes += id[i];
        }
    }
    return QString::fromUtf8(bytes);
}

std::string documentStart()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<q:quakeml xmlns=\"http://quakeml.org/xmlns/bed/1.2\" xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\">"
           "<eventParameters publicID=\"smi:harvix.gateway/fdsnws/event/1/query\">\n";
}

void appendEvent(std::string &out, const EventRow &row, const QString &place)
{
    const std::string id = publicIdOf(row.publicId);
    const bool hasOrigin = row.latitude && row.longitude;
    out += "<event publicID=\"";
    appendId(out, id);
    out += "\">";
    if (!place.isEmpty()) {
        out += "<description><text>";
        appendEscaped(out, place);
        out += "</text><type>region name</type></description>";
    }
    if (hasOrigin) {
        out += "<origin publicID=\"";
        appendId(out, id, "/origin");
        out += "\"><time><value>";
        Text::appendExactTime(out, row.originTimeUs);
        out += "</value></time>";
        appendValueElement(out, "latitude", row.latitude);
        appendValueElement(out, "longitude", row.longitude);
        if (row.depthKm)
            appendValueElement(out, "depth", std::optional<double>(*row.depthKm * 1000));
        const QString mode = row.evaluationMode.toLower();
        if (mode == QLatin1String("manual") || mode == QLatin1String("automatic"))
            appendTextElement(out, "evaluationMode", mode);
        const QString status = row.evaluationStatus.toLower();
        if (QStringList { "preliminary", "confirmed", "reviewed", "final", "rejected" }.contains(status))
            appendTextElement(out, "evaluationStatus", status);
        out += "</origin>";
    }
    if (row.magnitude) {
        out += "<magnitude publicID=\"";
        appendId(out, id, "/magnitude");
        out += "\">";
        appendValueElement(out, "mag", row.magnitude);
        appendTextElement(out, "type", row.magnitudeType);
        if (hasOrigin) {
            out += "<originID>";
            appendId(out, id, "/origin");
            out += "</originID>";
        }
        if (row.magnitudeStationCount && *row.magnitudeStationCount >= 0) {
            out += "<stationCount>";
            out += std::to_string(*row.magnitudeStationCount);
            out += "</stationCount>";
        }
        out += "</magnitude>";
    }
    if (hasOrigin) {
        out += "<preferredOriginID>";
        appendId(out, id, "/origin");
        out += "</preferredOriginID>";
    }
    if (row.magnitude) {
        out += "<preferredMagnitudeID>";
        appendId(out, id, "/magnitude");
        out += "</preferredMagnitudeID>";
    }
    appendTextElement(out, "type", eventType(row.eventType));
    out += "</event>\n";
}

std::string documentEnd()
{
    return "</eventParameters></q:quakeml>\n";
}

} // namespace QuakeML12Writer
