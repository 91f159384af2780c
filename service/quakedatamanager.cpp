#include "service/quakedatamanager.h"

#include "quakeml/quakemlreader.h"

#include <QDate>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QUrlQuery>
#include <QWidget>
#include <QXmlStreamReader>

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

quint64 nextSerial()
{
    static quint64 serial = 0;
    return ++serial;
}

} // namespace

QuakeDataManager::QuakeDataManager(QObject *parent, QString &url)
    : QObject(parent)
    , m_url(url)
    , m_networkManager(new QNetworkAccessManager(this))
    , m_serial(nextSerial())
{
    connect(m_networkManager, SIGNAL(finished(QNetworkReply*)),
            this, SLOT(handleReply(QNetworkReply*)));
}

QuakeDataManager::~QuakeDataManager() = default;

void QuakeDataManager::performRequest()
{
    QNetworkRequest request(QUrl(m_url, QUrl::TolerantMode));
    request.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply *reply = m_networkManager->get(request);
    m_inFlight = true;

    // readyRead comes with every piece of the body (downloadProgress is
    // throttled), and metaDataChanged with an announced length.
    connect(reply, SIGNAL(metaDataChanged()), this, SLOT(checkReplySize()));
    connect(reply, SIGNAL(readyRead()), this, SLOT(checkReplySize()));
    if (parent()) {
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
    m_replyTooLarge = m_replyTooLarge || isTooLarge(networkReply);
    if (m_replyTooLarge || networkReply->error() != QNetworkReply::NoError) {
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
        QMessageBox::critical(parentWidget(), tr("NW Error"),
                              tr("A network error occured:\n\n") + reason);
        emit quakeDataFailed(this);
        m_inFlight = false;
        return;
    }

    // Body and text are each freed as soon as the next form exists: a big
    // catalogue is hundreds of megabytes in every one of them. (Written as
    // one expression, the body would live on as a temporary to its end.)
    readServiceNote(networkReply);
    QByteArray body = networkReply->readAll();
    QString text = QuakeMLReader::decodeReply(body);
    body = QByteArray();
    readText(std::move(text));

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
    if (start.isValid() && start > last)
        m_serviceNote = tr("The service holds events up to %1").arg(text(last));
    else if (end.isValid() && end < first)
        m_serviceNote = tr("The service holds events from %1 on").arg(text(first));
    else
        m_serviceNote = tr("The service holds events from %1 to %2").arg(text(first), text(last));
    const QByteArray upstream = reply->rawHeader("Harvix-Upstream-Failed");
    if (!upstream.isEmpty())
        m_serviceNote += tr(" and could not reach %1").arg(QString::fromUtf8(upstream).left(80));
    m_serviceNote += u'.';
}

void QuakeDataManager::parseResponse(QString &text)
{
    readText(text);
}

void QuakeDataManager::readText(QString text)
{
    const QuakeMLError error = QuakeMLReader::readDocument(
        std::move(text), [this](QXmlStreamReader &reader) { parseEventParameters(reader); });
    QuakeMLReader::alignLocations(m_locations);
    if (!error.isError())
        return;
    const QString position = QString::asprintf("\n\n(Line #%ld, Column #%ld)",
                                               long(error.line), long(error.column));
    QMessageBox::critical(parentWidget(), tr("XML Error"),
                          tr("An XML error occured:\n\n") + error.text + position);
}

void QuakeDataManager::parseEventParameters(QXmlStreamReader &reader)
{
    QuakeMLReader::readEventParameters(reader, m_quakeEvents, m_locations, &m_rawEvents);
}
