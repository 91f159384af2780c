#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the tests: it serves one canned
// reply to every request, in one of several ways a real or faulty server
// behaves, and records each request target. It runs in the test's own event
// loop, beside the client under test.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Normal,         // status line, headers, whole body, close
        CloseMidBody,   // announces the whole length, sends half the body, closes
        Drip,           // sends the reply one byte at a time
        Silent,         // reads the request and never answers
        Reset,          // reads the request and resets the connection
        Stream,         // sends streamBytes of filler without a length, then closes
    };

    struct Reply
    {
        int status = 200;
        QByteArray contentType = "application/xml";
        QByteArray body;
        Mode mode = Mode::Normal;
        qint64 streamBytes = 0;
        char streamFiller = ' ';
    };

    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    bool listen();
    QUrl url(const QString &path = QStringLiteral("/")) const;
    quint16 port() const { return m_server.serverPort(); }

    void setReply(const Reply &reply) { m_reply = reply; }
    void setBody(const QByteArray &body, int status = 200);

    QList<QByteArray> requestTargets() const { return m_targets; }
    qint64 bytesSent() const { return m_bytesSent; }

private slots:
    void acceptConnection();

private:
    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket);
    void streamMore(QTcpSocket *socket);
    QByteArray header(qint64 contentLength) const;

    QTcpServer m_server;
    Reply m_reply;
    QList<QByteArray> m_targets;
    qint64 m_bytesSent = 0;
};
