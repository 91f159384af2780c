#include "quakeml/quakeml12.h"

#include "quakeml/escapes.h"
#include "quakeml/text.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

namespace QuakeML12 {

bool isEventType(const QString &type)
{
    static const QStringList types = QStringLiteral(
        "not existing|not reported|earthquake|anthropogenic event|collapse|cavity collapse|mine collapse|"
        "building collapse|explosion|accidental explosion|chemical explosion|controlled explosion|"
        "experimental explosion|industrial explosion|mining explosion|quarry blast|road cut|blasting levee|"
        "nuclear explosion|induced or triggered event|rock burst|reservoir loading|fluid injection|"
        "fluid extraction|crash|plane crash|train crash|boat crash|other event|atmospheric event|sonic boom|"
        "sonic blast|acoustic noise|thunder|avalanche|snow avalanche|debris avalanche|hydroacoustic event|"
        "ice quake|slide|landslide|rockslide|meteorite|volcanic eruption").split(u'|');
    return types.contains(type);
}

namespace {

// What agencies write beside the schema's words (USGS, ISC, EMSC).
const QList<QPair<QString, QString>> &nearEventTypes()
{
    static const QList<QPair<QString, QString>> near = {
        { "quarry", "quarry blast" }, { "mining_explosion", "mining explosion" },
        { "quarry_blast", "quarry blast" }, { "nuclear_explosion", "nuclear explosion" },
        { "rock_burst", "rock burst" }, { "ice_quake", "ice quake" }, { "sonic_boom", "sonic boom" },
        { "volcanic_eruption", "volcanic eruption" }, { "volcanic event", "volcanic eruption" },
        { "induced earthquake", "induced or triggered event" }, { "ke", "earthquake" }, { "se", "earthquake" },
        { "km", "mining explosion" }, { "kr", "rock burst" }, { "kx", "explosion" }, { "kh", "chemical explosion" },
        { "other", "other event" },
    };
    return near;
}

} // namespace

QString nearestEventType(const QString &type)
{
    const QString lower = type.trimmed().toLower();
    if (isEventType(lower))
        return lower;
    for (const auto &[name, listed] : nearEventTypes()) {
        if (lower == name)
            return listed;
    }
    return QString();
}

QStringList spellingsOf(const std::function<bool(const QString &listed)> &wanted)
{
    QStringList spellings;
    for (const auto &[name, listed] : nearEventTypes()) {
        if (wanted(listed))
            spellings << name;
    }
    return spellings;
}

bool isEvaluationMode(const QString &mode)
{
    return mode == QLatin1String("manual") || mode == QLatin1String("automatic");
}

bool isEvaluationStatus(const QString &status)
{
    static const QStringList statuses = { "preliminary", "confirmed", "reviewed", "final", "rejected" };
    return statuses.contains(status);
}

std::string escapedId(std::string_view id)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(id.size());
    for (const unsigned char c : id) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_') {
            out += char(c);
        } else {
            out += '~';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string unescapedId(std::string_view escaped)
{
    return Escapes::decoded(escaped, '~');
}

namespace {

void appendValue(std::string &out, const char *name, const std::string &number)
{
    if (number.empty())
        return;
    out += '<';
    out += name;
    out += "><value>";
    out += number;
    out += "</value></";
    out += name;
    out += '>';
}

// <name>id/part</name>: a reference to a part of the event.
void appendReference(std::string &out, const char *name, const std::string &id, const char *part)
{
    out += '<';
    out += name;
    out += '>';
    Text::appendEscaped(out, id);
    out += part;
    out += "</";
    out += name;
    out += '>';
}

} // namespace

void appendEvent(std::string &out, const Event &event)
{
    const bool hasOrigin = !event.time.empty() && !event.latitude.empty() && !event.longitude.empty();
    const bool hasMagnitude = !event.magnitude.empty();
    out += "<event publicID=\"";
    Text::appendEscaped(out, event.id);
    out += "\">";
    if (!event.description.isEmpty()) {
        out += "<description><text>";
        Text::appendEscaped(out, event.description);
        out += "</text><type>region name</type></description>";
    }
    if (hasOrigin) {
        out += "<origin publicID=\"";
        Text::appendEscaped(out, event.id);
        out += "/origin\"><time><value>";
        Text::appendEscaped(out, event.time);
        out += "</value></time>";
        appendValue(out, "latitude", event.latitude);
        appendValue(out, "longitude", event.longitude);
        appendValue(out, "depth", event.depthMetres);
        if (isEvaluationMode(event.mode))
            Text::appendTextElement(out, "evaluationMode", event.mode);
        if (isEvaluationStatus(event.status))
            Text::appendTextElement(out, "evaluationStatus", event.status);
        out += "</origin>";
    }
    if (hasMagnitude) {
        out += "<magnitude publicID=\"";
        Text::appendEscaped(out, event.id);
        out += "/magnitude\">";
        appendValue(out, "mag", event.magnitude);
        if (event.magnitudeType.size() <= 32)
            Text::appendTextElement(out, "type", event.magnitudeType);
        if (hasOrigin)
            appendReference(out, "originID", event.id, "/origin");
        if (!event.stationCount.empty())
            Text::appendTextElement(out, "stationCount", event.stationCount);
        out += "</magnitude>";
    }
    if (hasOrigin)
        appendReference(out, "preferredOriginID", event.id, "/origin");
    if (hasMagnitude)
        appendReference(out, "preferredMagnitudeID", event.id, "/magnitude");
    if (isEventType(event.type))
        Text::appendTextElement(out, "type", event.type);
    out += "</event>\n";
}

} // namespace QuakeML12
