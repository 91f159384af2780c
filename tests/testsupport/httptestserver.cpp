#include "testsupport/httptestserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include <sys/socket.h>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

HttpTestServer::HttpTestServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpTestServer::acceptConnection);
}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

QUrl HttpTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void HttpTestServer::setBody(const QByteArray &body, int status)
{
    m_reply = Reply();
    m_reply.body = body;
    m_reply.status = status;
}

void HttpTestServer::acceptConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpTestServer::readRequest(QTcpSocket *socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    m_targets.append(requestLine.value(1));
    respond(socket);
}

QByteArray HttpTestServer::header(qint64 contentLength) const
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(m_reply.status) + ' '
        + reasonPhrase(m_reply.status) + "\r\nContent-Type: " + m_reply.contentType + "\r\n";
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

void HttpTestServer::respond(QTcpSocket *socket)
{
    const QByteArray &body = m_reply.body;
    switch (m_reply.mode) {
    case Mode::Normal:
        socket->write(header(body.size()) + body);
        m_bytesSent += body.size();
        socket->disconnectFromHost();
        break;
    case Mode::CloseMidBody:
        socket->write(header(body.size()) + body.left(body.size() / 2));
        m_bytesSent += body.size() / 2;
        socket->disconnectFromHost();
        break;
    case Mode::Drip: {
        auto *timer = new QTimer(socket);
        auto pending = std::make_shared<QByteArray>(header(body.size()) + body);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, pending] {
            if (pending->isEmpty()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(pending->left(1));
            pending->remove(0, 1);
            ++m_bytesSent;
        });
        timer->start(1);
        break;
    }
    case Mode::Silent:
        break;
    case Mode::Reset: {
        // A zero linger time makes close() send RST instead of FIN.
        struct linger noLinger = { 1, 0 };
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                     sizeof noLinger);
        socket->abort();
        break;
    }
    case Mode::Stream:
        socket->setProperty("left", m_reply.streamBytes);
        socket->write(header(-1));
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { streamMore(socket); });
        streamMore(socket);
        break;
    }
}

void HttpTestServer::streamMore(QTcpSocket *socket)
{
    static const qint64 chunk = 1 << 20;
    qint64 left = socket->property("left").toLongLong();
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    // Keep a few chunks queued: enough to fill the pipe, little enough to
    // keep the server's memory small.
    while (left > 0 && socket->bytesToWrite() < 4 * chunk) {
        const qint64 n = qMin(left, chunk);
        socket->write(QByteArray(n, m_reply.streamFiller));
        left -= n;
        m_bytesSent += n;
    }
    socket->setProperty("left", left);
    if (left == 0 && socket->bytesToWrite() == 0)
        socket->disconnectFromHost();
}
