#include "app/searchrunner.h"

#include "geo/shippeddata.h"
#include "service/quakedatamanager.h"
#include "service/quakeservice.h"


SearchRunner::SearchRunner(QObject *window)
    : QObject(window)
    , m_window(window)
{
}

QuakeDataManager *SearchRunner::start(const SearchRequest &request, bool quiet)
{
    QString url = request.url(QDate::currentDate());
    auto *search = new QuakeDataManager(m_window, url);
    search->setQuiet(quiet);
    search->setRegion(request.region);
    m_requests[search] = request;
    connect(search, SIGNAL(quakeDataLoaded(QuakeDataManager*)), m_window, SLOT(quakeDataLoaded(QuakeDataManager*)));
    connect(search, SIGNAL(quakeDataFailed(QuakeDataManager*)), m_window, SLOT(quakeDataFailed(QuakeDataManager*)));
    // While the reply is read, its events' items are made between the
    // pieces of reading, and the window goes on painting.
    connect(search, &QuakeDataManager::eventsRead, this, [this, search] { emit eventsRead(search); });
    connect(search, &QObject::destroyed, this, [this, search] {
        emit ended(search);
        m_requests.erase(search);
    });
    emit started(search);
    search->performRequest();
    return search;
}

const SearchRequest *SearchRunner::requestOf(const QuakeDataManager *search) const
{
    const auto found = m_requests.find(search);
    return found == m_requests.end() ? nullptr : &found->second;
}

void SearchRunner::cancel(QuakeDataManager *search)
{
    disconnect(search, nullptr, m_window, nullptr);
    disconnect(search, &QuakeDataManager::eventsRead, this, nullptr);
    search->deleteLater();
}

bool SearchRunner::isSuperseded(const QuakeDataManager *search) const
{
    return m_shown && search->serial() < m_shown->serial();
}

QString SearchRunner::resultMessage(const QuakeDataManager *search) const
{
    const std::size_t count = search->quakeEvents().size();
    QString message = tr("Retrieved %1 quake events matching search criteria").arg(qulonglong(count));
    if (const SearchRequest *request = requestOf(search); request && !request->words().isEmpty())
        message += u' ' + request->words();
    message += u'.';
    if ((count == 0 || search->catalogueEndsBefore().isValid()) && !search->serviceNote().isEmpty())
        message += u' ' + search->serviceNote();
    // A copy without its data folder still searches and shows; what it
    // lacks is said with the first result.
    if (!m_toldMissing) {
        m_toldMissing = true;
        if (const QString missing = ShippedData::missing(); !missing.isEmpty())
            message += u' ' + tr("Harvix's data folder lacks its %1.").arg(missing);
    }
    return message;
}

void SearchRunner::releaseIdle(const QuakeDataManager *shown)
{
    for (QuakeDataManager *search : m_window->findChildren<QuakeDataManager *>(Qt::FindDirectChildrenOnly)) {
        if (search != shown && !search->isInFlight())
            search->deleteLater();
    }
}

QUrl SearchRunner::pageOf(const QString &reference) const
{
    // The page belongs to the service that gave the result, not to whatever
    // the URL field holds now.
    const QString pages = m_shown ? QuakeService::eventPageUrlFor(m_shown->url()) : QuakeService::eventPageUrl();
    return QUrl(pages + reference);
}
