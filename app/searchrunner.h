#pragma once

// SearchRunner starts the window's searches and keeps what it must know of
// them: which result is shown, the request each one made (as values), and
// which are finished with. Each search is a QuakeDataManager, a child of the
// window, which it signals; the runner is told when each has read more
// events and when it goes. The window's parts ask for a search through it:
// the window shows the request in its bars and runs it as its button does.

#include "app/searchrequest.h"
#include "service/quakedatamanager.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <unordered_map>


class SearchRunner : public QObject
{
    Q_OBJECT

public:
    // The window: the searches' parent, whose quakeDataLoaded and
    // quakeDataFailed slots they signal.
    explicit SearchRunner(QObject *window);

    // A quiet search shows no message box.
    QuakeDataManager *start(const SearchRequest &request, bool quiet);
    // The request a search made; null for one not started here.
    const SearchRequest *requestOf(const QuakeDataManager *search) const;

    // What the window's controls ask for now, and how a request is asked:
    // shown in the controls and run as the button's search, or refused with
    // a message (null).
    void setControls(std::function<SearchRequest()> asked, std::function<QuakeDataManager *(const SearchRequest &)> ask)
    {
        m_asked = std::move(asked);
        m_ask = std::move(ask);
    }
    SearchRequest asked() const { return m_asked(); }
    QuakeDataManager *ask(const SearchRequest &request) const { return m_ask(request); }
    // A search whose result is not wanted any more: it goes, unseen.
    void cancel(QuakeDataManager *search);

    // The search whose result the tree shows: an older result that arrives
    // later is dropped, and event pages open at this search's service.
    QuakeDataManager *shown() const { return m_shown; }
    void setShown(QuakeDataManager *search) { m_shown = search; }
    // Whether a later search's result is shown already.
    bool isSuperseded(const QuakeDataManager *search) const;
    // "Retrieved 12 quake events matching search criteria within 50 km of
    // Christchurch."; where nothing was found, or the period reaches past
    // the end of what the service holds, the service may say why. The
    // first one also says what of the shipped data could not be read.
    QString resultMessage(const QuakeDataManager *search) const;
    // Every search but the one shown and those still in flight is
    // finished with: its store is not needed any more.
    void releaseIdle(const QuakeDataManager *shown);

    // An event's page at the shown search's service.
    QUrl pageOf(const QString &reference) const;

signals:
    void started(const QuakeDataManager *search);
    void eventsRead(QuakeDataManager *search);
    // However a search ends, before it goes.
    void ended(const QuakeDataManager *search);

private:
    QObject *m_window;
    QPointer<QuakeDataManager> m_shown;
    std::unordered_map<const QuakeDataManager *, SearchRequest> m_requests;
    std::function<SearchRequest()> m_asked;
    std::function<QuakeDataManager *(const SearchRequest &)> m_ask;
    mutable bool m_toldMissing = false;
};
