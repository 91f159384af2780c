#pragma once

// The addresses of the quake service that Harvix knows: where searches go
// by default (the query is appended directly after the "?"), and the page
// of one event, to which an event's reference id is appended. The default
// service is harvix-gateway on this computer.

#include <QString>
#include <QUrl>

namespace QuakeService {

inline QString searchUrl()
{
    return QStringLiteral("http://127.0.0.1:8470/services/quake/search?");
}

inline QString eventPagePath()
{
    return QStringLiteral("/services/quake/quakeml/1.0.1/ref/");
}

inline QString eventPageUrl()
{
    return QStringLiteral("http://127.0.0.1:8470") + eventPagePath();
}

// The event pages of the service that answered a search: the scheme, host
// and port of the search's URL, then the event path. A URL without a host
// gives the default service's pages.
inline QString eventPageUrlFor(const QString &searchUrl)
{
    const QUrl url(searchUrl.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme().isEmpty())
        return eventPageUrl();
    QUrl origin;
    origin.setScheme(url.scheme());
    origin.setHost(url.host());
    origin.setPort(url.port());
    return origin.toString(QUrl::FullyEncoded) + eventPagePath();
}

} // namespace QuakeService
