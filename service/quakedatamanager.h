#pragma once

// QuakeDataManager performs one search: it fetches the request URL, reads the
// QuakeML reply into its event store and signals the window. One manager
// serves one search, as a child of the window, which releases it once a
// later result is shown.

#include "geo/searchregion.h"
#include "quakeml/quakeeventrecord.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QXmlStreamReader;
class ReplyBody;
struct QuakeMLError;

class QuakeDataManager : public QObject
{
    Q_OBJECT

public:
    // Replies larger than this are aborted and reported as a network error.
    static constexpr qint64 MaximumReplySize = qint64(1) << 30;
    // A transfer that makes no progress for this long is aborted.
    static constexpr int TransferTimeoutMs = 60000;

    // Both limits may be lowered before performRequest, as tests do.
    void setMaximumReplySize(qint64 bytes) { m_maximumReplySize = bytes; }
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }
    // A quiet search shows no message box for a network or XML error and
    // no progress in the window's status bar; the error's text is kept for
    // the window to say (a search that runs by itself, over and over, must
    // not stack boxes).
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // The region searched: an event the reply holds outside it is not
    // shown, whatever the service sent. The whole world unless set.
    void setRegion(const SearchRegion &region) { m_region = region; }

    // What went wrong, for a quiet search; empty when nothing did.
    QString errorText() const { return m_errorText; }

    QuakeDataManager(QObject *parent, QString &url);
    ~QuakeDataManager() override;

    void performRequest();
    void parseResponse(QString &text);
    void parseEventParameters(QXmlStreamReader &reader);

    const QuakeEventStore &quakeEvents() const { return m_quakeEvents; }
    // Each event's location, in the store's order (the map draws them).
    const std::vector<LocatedEvent> &quakeLocations() const { return m_locations; }
    // The reply's own texts of each event's values, for exports (read order).
    const std::vector<RawEvent> &rawEvents() const { return m_rawEvents; }
    // What harvix-gateway says of a search beyond the days its catalogue
    // holds ("The service holds events up to 30 Jun 2026 and could not
    // reach GeoNet."), from its reply's headers; empty otherwise.
    QString serviceNote() const { return m_serviceNote; }
    // The last UTC day the gateway's catalogue holds, when the search's
    // period reaches past it; null otherwise.
    QDate catalogueEndsBefore() const { return m_catalogueEndsBefore; }
    QString url() const { return m_url; }

    // Searches are numbered in the order in which they start.
    quint64 serial() const { return m_serial; }
    // From performRequest until handleReply has returned, message boxes included.
    bool isInFlight() const { return m_inFlight; }

signals:
    void quakeDataLoaded(QuakeDataManager *);
    // While a reply is read: how many events have been stored so far.
    void eventsRead(qint64 count);
    // Emitted after a network error has been reported, instead of quakeDataLoaded.
    void quakeDataFailed(QuakeDataManager *);

public slots:
    void handleReply(QNetworkReply *networkReply);

private slots:
    void checkReplySize();
    // Takes what has arrived of the body, reading it from the first piece on.
    void receiveBody();

private:
    struct Reading;

    bool isTooLarge(QNetworkReply *reply) const;
    QWidget *parentWidget() const;
    // Reads a reply's body on a thread of its own, as it arrives, which
    // hands the events' texts over in batches; the manager converts and
    // stores them between the window's other work and, once the reply has
    // ended well, finishes as parseResponse does and signals.
    void startReading(std::unique_ptr<ReplyBody> body);
    // Asks for takeReadEvents, unless it was asked already; the caller
    // holds the reading's mutex.
    void queueTaking(Reading *reading);
    void takeReadEvents();
    // Stops a reading, waiting for its thread; what it stored stays.
    void stopReading();
    // Lets the stored events go, freed on the side.
    void discardEvents();
    // Puts the locations in the store's order and reports an XML error.
    void finishReading(const QuakeMLError &error);
    void readServiceNote(const QNetworkReply *reply);
    // The one line of plain text in which a service says why it refused a
    // search (an HTTP error), or nothing.
    static QString serverReason(QNetworkReply *reply);

    std::unique_ptr<Reading> m_reading;
    QuakeEventStore m_quakeEvents;
    std::vector<LocatedEvent> m_locations;
    std::vector<RawEvent> m_rawEvents;
    QString m_url;
    SearchRegion m_region;
    QString m_serviceNote;
    QDate m_catalogueEndsBefore;
    QString m_errorText;
    QNetworkAccessManager *m_networkManager;
    qint64 m_maximumReplySize = MaximumReplySize;
    int m_transferTimeoutMs = TransferTimeoutMs;
    quint64 m_serial;
    bool m_inFlight = false;
    bool m_replyTooLarge = false;
    bool m_replyFinished = false;
    bool m_readWhenWhole = false;
    bool m_quiet = false;
};
