#include "service/quakedatamanager.h"

#include "quakeml/quakemlreader.h"
#include "quakeml/storeorder.h"
#include "quakeml/replybody.h"
#include "geo/searchregion.h"
#include "service/disposal.h"

#include <QDate>
#include <QElapsedTimer>
#include <QLocale>
#include <QMessageBox>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QUrlQuery>
#include <QWidget>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// "1 GiB", "64 KiB" or "1000 bytes": the largest unit that divides the size.
QString sizeText(qint64 bytes)
{
    static const char *const units[] = { "GiB", "MiB", "KiB" };
    for (int i = 0; i < 3; ++i) {
        const qint64 unit = qint64(1) << (10 * (3 - i));
        if (bytes >= unit && bytes % unit == 0)
            return QStringLiteral("%1 %2").arg(bytes / unit).arg(QLatin1String(units[i]));
    }
    return QStringLiteral("%1 bytes").arg(bytes);
}

// The network thread receives a reply in pieces that are freed once it is
// read whole, and reading frees texts by the million; the allocator keeps
// all that for itself unless asked: a third of a big reply's size, while
// the result is built beside it.
void giveBackFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// Whether an event, as its reply wrote it, lies in the region; a value is
// read as the parser reads it for the map.
bool liesIn(const SearchRegion &region, const QuakeEventParser::Texts &texts)
{
    const auto number = [&texts](RawEvent::Field field) { return QuakeEventParser::numberOf(texts.raw[field]); };
    return region.contains(number(RawEvent::Latitude), number(RawEvent::Longitude), number(RawEvent::Depth));
}

quint64 nextSerial()
{
    static quint64 serial = 0;
    return ++serial;
}

// Events the reading thread hands over at a time, and how long the manager
// converts them before it lets the window work (paint, take input).
constexpr std::size_t BatchEvents = 128;
constexpr qint64 ConvertingSliceNs = 20'000'000;
// How often memory freed while reading is given back: the first time
// returns what the network left behind, later ones cost next to nothing.
constexpr std::size_t GiveBackEvents = 16384;

} // namespace

// A reply read on a thread of its own, as it arrives. It hands the events'
// texts over in batches, and the manager gives the emptied batches back to be filled
// again: with no big blocks allocated in turn by the two threads, the
// allocator stays out of the way.
struct QuakeDataManager::Reading
{
    using Batch = std::vector<QuakeEventParser::Texts>;

    std::unique_ptr<ReplyBody> body;
    std::thread thread;
    std::atomic<bool> cancelled { false };

    QMutex mutex;   // guards the five below
    std::deque<Batch> handedOver;
    std::vector<Batch> emptied;
    bool takingQueued = false;
    bool finished = false;
    QuakeMLError error;

    // The manager's own: the batch it converts, and how far it is.
    Batch taken;
    std::size_t converted = 0;
    std::size_t nextGiveBack = GiveBackEvents;

    // A batch to fill once cleared; the caller holds the mutex. The reading
    // thread clears it: the allocator takes texts back at once from the
    // thread that made them, while texts freed by the manager kept the
    // reading thread's memory growing by most of the reply's size.
    Batch batchToFill()
    {
        Batch batch;
        if (emptied.empty()) {
            batch.reserve(BatchEvents);
        } else {
            batch = std::move(emptied.back());
            emptied.pop_back();
        }
        return batch;
    }
};

QuakeDataManager::QuakeDataManager(QObject *parent, QString &url)
    : QObject(parent)
    , m_url(url)
    , m_networkManager(new QNetworkAccessManager(this))
    , m_serial(nextSerial())
{
    connect(m_networkManager, SIGNAL(finished(QNetworkReply*)),
            this, SLOT(handleReply(QNetworkReply*)));
}

QuakeDataManager::~QuakeDataManager()
{
    stopReading();
    discardEvents();
}

void QuakeDataManager::stopReading()
{
    if (!m_reading)
        return;
    m_reading->cancelled = true;
    m_reading->body->finish();   // a reader waiting for more goes on
    m_reading->thread.join();
    m_reading.reset();
}

void QuakeDataManager::discardEvents()
{
    // The locations and raw values point into the store: they go together,
    // freed on the side (a big result takes the window a tenth of a second).
    struct Result
    {
        QuakeEventStore events;
        std::vector<LocatedEvent> locations;
        std::vector<RawEvent> raw;
    };
    if (!m_quakeEvents.empty() || !m_locations.empty())
        Disposal::later(Result { std::move(m_quakeEvents), std::move(m_locations), std::move(m_rawEvents) });
    m_quakeEvents.clear();
    m_locations.clear();
    m_rawEvents.clear();
}

void QuakeDataManager::performRequest()
{
    QNetworkRequest request(QUrl(m_url, QUrl::TolerantMode));
    request.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply *reply = m_networkManager->get(request);
    m_inFlight = true;

    // readyRead comes with every piece of the body (downloadProgress is
    // throttled), and metaDataChanged with an announced length.
    connect(reply, SIGNAL(metaDataChanged()), this, SLOT(checkReplySize()));
    connect(reply, SIGNAL(readyRead()), this, SLOT(receiveBody()));
    // A quiet search keeps the window's status bar as it is.
    if (parent() && !m_quiet) {
        connect(reply, SIGNAL(downloadProgress(qint64,qint64)),
                parent(), SLOT(displayDownloadProgress(qint64,qint64)));
    }
}

bool QuakeDataManager::isTooLarge(QNetworkReply *reply) const
{
    return reply->bytesAvailable() > m_maximumReplySize
        || reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > m_maximumReplySize;
}

void QuakeDataManager::checkReplySize()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (reply && !m_replyTooLarge && reply->isRunning() && isTooLarge(reply)) {
        m_replyTooLarge = true;
        reply->abort();
    }
}

void QuakeDataManager::receiveBody()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || m_replyTooLarge || !reply->isRunning())
        return;
    // A search's events are read while its reply arrives; an HTTP error's
    // body stays in the reply, for its reason to be shown.
    if (!m_reading && !m_readWhenWhole) {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
            return;
        std::unique_ptr<ReplyBody> body = ReplyBody::reserve(m_maximumReplySize);
        if (!body) {
            m_readWhenWhole = true;   // read as it comes, once it has come
            return;
        }
        readServiceNote(reply);
        startReading(std::move(body));
    }
    if (m_readWhenWhole ? isTooLarge(reply) : !m_reading->body->receive(*reply)) {
        m_replyTooLarge = true;
        reply->abort();   // handleReply has run when this returns
    }
}

QWidget *QuakeDataManager::parentWidget() const
{
    return qobject_cast<QWidget *>(parent());
}

void QuakeDataManager::handleReply(QNetworkReply *networkReply)
{
    // The reply is ours to free on every path; deleteLater keeps it valid
    // while a message box runs its own event loop below.
    networkReply->deleteLater();

    // The last piece of a reply may arrive together with its end.
    m_replyTooLarge = m_replyTooLarge || isTooLarge(networkReply)
        || (m_reading && !m_reading->body->receive(*networkReply));
    if (m_replyTooLarge || networkReply->error() != QNetworkReply::NoError) {
        // What was read of a reply that broke off is not a result.
        stopReading();
        discardEvents();
        // Harvix aborts a reply only for these two reasons; Qt reports both
        // as a cancelled operation, which would tell the user nothing.
        QString reason = networkReply->errorString();
        if (m_replyTooLarge)
            reason = tr("The reply was larger than %1, so it was not read.")
                         .arg(sizeText(m_maximumReplySize));
        else if (networkReply->error() == QNetworkReply::OperationCanceledError)
            reason = tr("No data arrived for %1 seconds, so the transfer was stopped.")
                         .arg(m_transferTimeoutMs / 1000.0);
        // A service that says in one line of text why it refused the search
        // (harvix-gateway does) has that line shown under Qt's words.
        const QString said = serverReason(networkReply);
        if (!said.isEmpty())
            reason += QStringLiteral("\n\n") + said;
        m_errorText = reason.simplified();
        if (!m_quiet)
            QMessageBox::critical(parentWidget(), tr("NW Error"),
                                  tr("A network error occured:\n\n") + reason);
        emit quakeDataFailed(this);
        m_inFlight = false;
        return;
    }

    // The body is read on a thread of its own and never held as text: a
    // big catalogue is hundreds of megabytes, twice that as text. The
    // result is signalled once the last event is stored.
    if (m_reading) {
        m_reading->body->finish();
    } else {
        // Nothing came before the end, or there was no room to read it
        // as it came.
        readServiceNote(networkReply);
        startReading(std::make_unique<ReplyBody>(networkReply->readAll()));
    }
    m_replyFinished = true;
    QMutexLocker lock(&m_reading->mutex);
    queueTaking(m_reading.get());
}

void QuakeDataManager::queueTaking(Reading *reading)
{
    if (!reading->takingQueued) {
        reading->takingQueued = true;
        QMetaObject::invokeMethod(this, [this] { takeReadEvents(); }, Qt::QueuedConnection);
    }
}

void QuakeDataManager::startReading(std::unique_ptr<ReplyBody> body)
{
    m_reading = std::make_unique<Reading>();
    m_reading->body = std::move(body);
    Reading *const reading = m_reading.get();
    // A search of a region shows nothing outside it, whatever the service
    // sent.
    reading->thread = std::thread([this, reading, region = m_region] {
        Reading::Batch batch;
        {
            QMutexLocker lock(&reading->mutex);
            batch = reading->batchToFill();
        }
        const QuakeMLError error = QuakeMLReader::readReply(*reading->body, [&](QXmlStreamReader &reader) {
            QuakeMLReader::readEventTexts(reader, [&](QuakeEventParser::Texts &&texts) {
                if (region.isWhole() || liesIn(region, texts))
                    batch.push_back(std::move(texts));
                if (batch.size() == BatchEvents) {
                    QMutexLocker lock(&reading->mutex);
                    reading->handedOver.push_back(std::move(batch));
                    batch = reading->batchToFill();
                    queueTaking(reading);
                    lock.unlock();
                    batch.clear();
                }
                if (reading->cancelled)
                    reader.raiseError();
            });
        });
        QMutexLocker lock(&reading->mutex);
        reading->handedOver.push_back(std::move(batch));
        reading->error = error;
        reading->finished = true;
        queueTaking(reading);
    });
}

void QuakeDataManager::takeReadEvents()
{
    Reading *const reading = m_reading.get();
    if (!reading)
        return;   // the reading was stopped, or has been finished
    QElapsedTimer slice;
    slice.start();
    bool finished = false;
    for (;;) {
        if (reading->converted == reading->taken.size()) {
            reading->converted = 0;
            QMutexLocker lock(&reading->mutex);
            if (reading->taken.capacity())
                reading->emptied.push_back(std::move(reading->taken));
            reading->taken = Reading::Batch();
            finished = reading->finished;
            if (reading->handedOver.empty()) {
                reading->takingQueued = false;
                break;
            }
            reading->taken = std::move(reading->handedOver.front());
            reading->handedOver.pop_front();
            continue;
        }
        QuakeEventParser::Texts &texts = reading->taken[reading->converted++];
        QuakeEventParser parser(std::move(texts));
        QuakeMLReader::storeEvent(parser, m_quakeEvents, m_locations, &m_rawEvents);
        texts = parser.takeTexts();
        if (slice.nsecsElapsed() > ConvertingSliceNs) {
            // The rest comes after whatever the window has to do.
            QMetaObject::invokeMethod(this, [this] { takeReadEvents(); }, Qt::QueuedConnection);
            emit eventsRead(qint64(m_locations.size()));
            return;
        }
    }
    emit eventsRead(qint64(m_locations.size()));
    if (m_locations.size() >= reading->nextGiveBack) {
        giveBackFreedMemory();
        reading->nextGiveBack = m_locations.size() + GiveBackEvents;
    }
    if (!finished || !m_replyFinished)
        return;
    reading->thread.join();
    const QuakeMLError error = reading->error;
    m_reading.reset();
    giveBackFreedMemory();
    finishReading(error);
    emit quakeDataLoaded(this);
    m_inFlight = false;
}

QString QuakeDataManager::serverReason(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (status < 400 || !type.startsWith("text/plain"))
        return QString();
    QString line = QString::fromUtf8(reply->read(512)).trimmed();
    if (line.isEmpty() || line.contains(u'\n') || line.size() > 300)
        return QString();
    for (QChar &c : line) {
        if (!c.isPrint())
            c = u'?';
    }
    return line;
}

void QuakeDataManager::readServiceNote(const QNetworkReply *reply)
{
    // "Harvix-Catalogue-Range: 2003-08-21/2026-06-30", the UTC days that
    // the gateway's catalogue holds, and "Harvix-Upstream-Failed: GeoNet".
    const QList<QByteArray> range = reply->rawHeader("Harvix-Catalogue-Range").split('/');
    if (range.size() != 2)
        return;
    const QDate first = QDate::fromString(QString::fromLatin1(range.at(0)), Qt::ISODate);
    const QDate last = QDate::fromString(QString::fromLatin1(range.at(1)), Qt::ISODate);
    if (!first.isValid() || !last.isValid())
        return;
    const QUrlQuery query(QUrl(m_url, QUrl::TolerantMode));
    const QDate start = QDate::fromString(query.queryItemValue(QStringLiteral("startDate")), Qt::ISODate);
    const QDate end = QDate::fromString(query.queryItemValue(QStringLiteral("endDate")), Qt::ISODate);
    const auto text = [](const QDate &date) { return QLocale::c().toString(date, QStringLiteral("d MMM yyyy")); };
    if (start.isValid() && start > last) {
        m_serviceNote = tr("The service holds events up to %1").arg(text(last));
        m_catalogueEndsBefore = last;
    } else if (end.isValid() && end < first) {
        m_serviceNote = tr("The service holds events from %1 on").arg(text(first));
    } else if (start.isValid() && end.isValid() && end > last) {
        // Part of the period is past its end: how much of it it holds.
        const qint64 searched = start.daysTo(end) + 1, held = std::max(start, first).daysTo(last) + 1;
        m_serviceNote = tr("The service holds events up to %1: %2 of the %3 days searched")
                            .arg(text(last)).arg(held).arg(searched);
        m_catalogueEndsBefore = last;
    } else {
        m_serviceNote = tr("The service holds events from %1 to %2").arg(text(first), text(last));
    }
    const QByteArray upstream = reply->rawHeader("Harvix-Upstream-Failed");
    if (!upstream.isEmpty())
        m_serviceNote += tr(" and could not reach %1").arg(QString::fromUtf8(upstream).left(80));
    m_serviceNote += u'.';
}

void QuakeDataManager::parseResponse(QString &text)
{
    finishReading(QuakeMLReader::readDocument(
        text, [this](QXmlStreamReader &reader) { parseEventParameters(reader); }));
}

void QuakeDataManager::finishReading(const QuakeMLError &error)
{
    StoreOrder::alignLocations(m_locations);
    if (!error.isError())
        return;
    const QString position = QString::asprintf("\n\n(Line #%ld, Column #%ld)",
                                               long(error.line), long(error.column));
    m_errorText = error.text + u' ' + position.simplified();
    if (!m_quiet)
        QMessageBox::critical(parentWidget(), tr("XML Error"),
                              tr("An XML error occured:\n\n") + error.text + position);
}

void QuakeDataManager::parseEventParameters(QXmlStreamReader &reader)
{
    QuakeMLReader::readEventParameters(reader, m_quakeEvents, m_locations, &m_rawEvents);
}
