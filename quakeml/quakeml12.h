#pragma once

// The words of QuakeML 1.2 that writers of it need, for Harvix's export and
// the gateway's FDSN replies alike: the event types, evaluation modes and
// statuses that its schema lists, and ids made fit for its resource
// identifiers.

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

} // namespace QuakeML12
