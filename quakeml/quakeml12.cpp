#include "quakeml/quakeml12.h"

#include "quakeml/escapes.h"

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

} // namespace QuakeML12
