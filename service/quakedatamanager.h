#pragma once

// QuakeDataManager performs one search: it fetches the request URL, reads the
// QuakeML reply into its event store and signals the window. One manager
// serves one search and lives, with its store, as a child of the window.

#include "quakeml/quakeeventrecord.h"

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QXmlStreamReader;

class QuakeDataManager : public QObject
{
    Q_OBJECT

public:
    // Replies larger than this are aborted and reported as a network error.
    static constexpr qint64 MaximumReplySize = qint64(1) << 30;
    // A transfer that makes no progress for this long is aborted.
    static constexpr int TransferTimeoutMs = 60000;

    QuakeDataManager(QObject *parent, QString &url);
    ~QuakeDataManager() override;

    void performRequest();
    void parseResponse(QString &text);
    void parseEventParameters(QXmlStreamReader &reader);

    const QuakeEventStore &quakeEvents() const { return m_quakeEvents; }
    QString url() const { return m_url; }

signals:
    void quakeDataLoaded(QuakeDataManager *);
    // Emitted after a network error has been reported, instead of quakeDataLoaded.
    void quakeDataFailed(QuakeDataManager *);

public slots:
    void handleReply(QNetworkReply *networkReply);

private slots:
    void checkReplySize();

private:
    static bool isTooLarge(QNetworkReply *reply);
    QWidget *parentWidget() const;
    void readText(QString text);

    QuakeEventStore m_quakeEvents;
    QString m_url;
    QNetworkAccessManager *m_networkManager;
    bool m_replyTooLarge = false;
};
