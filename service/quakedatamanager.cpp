#include "service/quakedatamanager.h"

#include "quakeml/quakemlreader.h"

#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QWidget>

QuakeDataManager::QuakeDataManager(QObject *parent, QString &url)
    : QObject(parent)
    , m_url(url)
    , m_networkManager(new QNetworkAccessManager(this))
{
    connect(m_networkManager, SIGNAL(finished(QNetworkReply*)),
            this, SLOT(handleReply(QNetworkReply*)));
}

QuakeDataManager::~QuakeDataManager() = default;

void QuakeDataManager::performRequest()
{
    QNetworkRequest request(QUrl(m_url, QUrl::TolerantMode));
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply *reply = m_networkManager->get(request);

    connect(reply, SIGNAL(downloadProgress(qint64,qint64)),
            this, SLOT(checkReplySize(qint64,qint64)));
    if (parent()) {
        connect(reply, SIGNAL(downloadProgress(qint64,qint64)),
                parent(), SLOT(displayDownloadProgress(qint64,qint64)));
    }
}

void QuakeDataManager::checkReplySize(qint64 bytesReceived, qint64 bytesTotal)
{
    if (bytesReceived <= MaximumReplySize && bytesTotal <= MaximumReplySize)
        return;
    if (auto *reply = qobject_cast<QNetworkReply *>(sender()); reply && !m_replyTooLarge) {
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

    if (networkReply->error() != QNetworkReply::NoError) {
        // Harvix aborts a reply only for these two reasons; Qt reports both
        // as a cancelled operation, which would tell the user nothing.
        QString reason = networkReply->errorString();
        if (m_replyTooLarge)
            reason = tr("The reply was larger than 1 GiB, so it was not read.");
        else if (networkReply->error() == QNetworkReply::OperationCanceledError)
            reason = tr("No data arrived for %1 seconds, so the transfer was stopped.")
                         .arg(TransferTimeoutMs / 1000);
        QMessageBox::critical(parentWidget(), tr("NW Error"),
                              tr("A network error occured:\n\n") + reason);
        emit quakeDataFailed(this);
        return;
    }

    // Body and text are each freed as soon as the next form exists: a big
    // catalogue is hundreds of megabytes in every one of them.
    readText(QuakeMLReader::decodeReply(networkReply->readAll()));

    emit quakeDataLoaded(this);
}

void QuakeDataManager::parseResponse(QString &text)
{
    readText(text);
}

void QuakeDataManager::readText(QString text)
{
    const QuakeMLError error = QuakeMLReader::readDocument(std::move(text), m_quakeEvents);
    if (!error.isError())
        return;
    const QString position = QString::asprintf("\n\n(Line #%ld, Column #%ld)",
                                               long(error.line), long(error.column));
    QMessageBox::critical(parentWidget(), tr("XML Error"),
                          tr("An XML error occured:\n\n") + error.text + position);
}

void QuakeDataManager::parseEventParameters(QXmlStreamReader &reader)
{
    QuakeMLReader::readEventParameters(reader, m_quakeEvents);
}
