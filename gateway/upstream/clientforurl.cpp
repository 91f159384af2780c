// Which client asks an upstream, by its URL.

#include "upstream/fdsneventclient.h"
#include "upstream/quakesearchclient.h"
#include "upstream/upstream.h"

std::unique_ptr<Upstream> Upstream::forUrl(const QString &text, const Options &options, QString *error)
{
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *error = QStringLiteral("the upstream must be an http or https URL, not '%1'").arg(text);
        return nullptr;
    }
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    url.setQuery(QString());
    std::unique_ptr<UpstreamClient> client;
    if (url.path().endsWith(QLatin1String("fdsnws/event/1/")))
        client = std::make_unique<FdsnEventClient>(url, options);
    else
        client = std::make_unique<QuakeSearchClient>(url, options);
    return std::make_unique<Upstream>(url, options, std::move(client));
}
