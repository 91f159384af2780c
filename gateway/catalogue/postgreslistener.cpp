// Hearing of every change that any process commits to a shared database.

#include "catalogue/pgstatement.h"
#include "catalogue/postgrescatalogue.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

using namespace PgStatement;

void PostgresCatalogue::startHearingOfChanges()
{
    if (!m_standby && !m_listener.joinable())
        m_listener = std::thread([this] { listen(); });
}

void PostgresCatalogue::stopListening()
{
    m_stopListening = true;
    if (m_listener.joinable())
        m_listener.join();
}

std::optional<std::uint64_t> PostgresCatalogue::changeSerial() const
{
    return m_listening ? std::optional<std::uint64_t>(m_changes.load()) : std::nullopt;
}

void PostgresCatalogue::listen()
{
    QString lastLogged;   // the change log's latest entry when last heard
    int backoffMs = 250;
    while (!m_stopListening) {
        QString error;
        PGconn *connection = m_primary.acquire(&error);
        Rows latest;
        if (!connection || !run(connection, QStringLiteral("LISTEN %1").arg(QLatin1String(Channel)), {}, nullptr, &error)
            || !run(connection, QStringLiteral("SELECT MAX(stamp), MAX(committed) FROM change_log"), {}, &latest, &error)) {
            if (connection)
                PQfinish(connection);
            // Not heard of while away: callers ask.
            m_listening = false;
            for (int waited = 0; waited < backoffMs && !m_stopListening; waited += 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            backoffMs = std::min(backoffMs * 2, LongestRetryMs);
            continue;
        }
        backoffMs = 250;
        // What was committed while no one listened.
        const QString logged = latest.rows.empty() ? QString()
                                                   : QString::fromUtf8(latest.rows[0][0].value_or(QByteArray()) + '/'
                                                                       + latest.rows[0][1].value_or(QByteArray()));
        if (logged != lastLogged)
            ++m_changes;
        lastLogged = logged;
        m_listening = true;
        pollfd socket { PQsocket(connection), POLLIN, 0 };
        while (!m_stopListening && PQstatus(connection) == CONNECTION_OK) {
            if (poll(&socket, 1, 200) < 0 && errno != EINTR)
                break;
            if (!PQconsumeInput(connection))
                break;
            bool heard = false;
            while (PGnotify *notice = PQnotifies(connection)) {
                heard = true;
                PQfreemem(notice);
            }
            if (heard)
                ++m_changes;
        }
        m_listening = false;
        PQfinish(connection);
    }
}
