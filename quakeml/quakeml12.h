#pragma once

// QuakeML 1.2 as Harvix's export and the gateway's FDSN replies write it:
// the event types, evaluation modes and statuses that its schema lists,
// ids made fit for its resource identifiers, and one event's element.

#include <QString>
#include <QStringList>

#include <functional>

#include <string>
#include <string_view>

namespace QuakeML12 {

bool isEventType(const QString &type);
// The listed type nearest to what an agency wrote ("quarry" is "quarry
// blast"), or empty when none is.
QString nearestEventType(const QString &type);
// The other spellings of the listed types that wanted takes ("quarry" for
// "quarry blast"), so that a search finds an event by the type it shows.
QStringList spellingsOf(const std::function<bool(const QString &listed)> &wanted);
bool isEvaluationMode(const QString &mode);
bool isEvaluationStatus(const QString &status);

// An id as the last part of a resource identifier: bytes other than
// letters, digits, '-', '.' and '_' are written ~XX (hexadecimal), which
// the schema's pattern allows; unescapedId reads it back.
std::string escapedId(std::string_view id);
std::string unescapedId(std::string_view escaped);

// One event as it is written: a preferred origin and a preferred magnitude,
// each value a text ready to write (numbers as decimal texts, the time in
// ISO 8601 UTC), empty where unknown. The origin needs its time and both
// coordinates, the magnitude its value. Whatever the schema does not allow
// (a type it does not list, a magnitude type over 32 characters) is left
// out, so that the document stays valid.
struct Event
{
    std::string id;                          // its resource identifier; its origin's
                                             // and magnitude's add "/origin", "/magnitude"
    QString description;                     // a region name
    std::string time;
    std::string latitude, longitude, depthMetres;
    QString mode, status;
    std::string magnitude;
    QString magnitudeType;
    std::string stationCount;                // digits
    QString type;
};
void appendEvent(std::string &out, const Event &event);

} // namespace QuakeML12
