#include "app/desktopnotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>

namespace {

const char service[] = "org.freedesktop.Notifications";
const char path[] = "/org/freedesktop/Notifications";

} // namespace

DesktopNotifier::DesktopNotifier(QStatusBar *status, QObject *parent)
    : QObject(parent)
    , m_status(status)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(QLatin1String(service), QLatin1String(path), QLatin1String(service), QStringLiteral("ActionInvoked"),
                    this, SLOT(actionInvoked(uint,QString)));
        bus.connect(QLatin1String(service), QLatin1String(path), QLatin1String(service),
                    QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint,uint)));
    }
}

bool DesktopNotifier::hasService() const
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(QLatin1String(service));
}

void DesktopNotifier::notify(const QString &summary, const QString &body, const QString &key)
{
    if (hasService()) {
        QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(path),
                                                           QLatin1String(service), QStringLiteral("Notify"));
        // Choosing the notification is its "default" action.
        call << QStringLiteral("Harvix") << uint(0) << QStringLiteral("dialog-warning") << summary << body
             << QStringList { QStringLiteral("default"), tr("Show") } << QVariantMap() << -1;
        auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body, key] {
            const QDBusPendingReply<uint> reply = *watcher;
            watcher->deleteLater();
            if (reply.isError()) {
                // The service went away: told in the window instead.
                tellInStatusBar(summary, body);
                return;
            }
            m_shown.insert(reply.value(), key);
        });
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!m_tray) {
            m_tray = new QSystemTrayIcon(QApplication::windowIcon().isNull()
                                             ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                             : QApplication::windowIcon(),
                                         this);
            connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] { emit activated(m_trayKey); });
            m_tray->show();
        }
        m_trayKey = key;
        m_tray->showMessage(summary, body, QSystemTrayIcon::Warning);
        return;
    }
    tellInStatusBar(summary, body);
}

void DesktopNotifier::tellInStatusBar(const QString &summary, const QString &body)
{
    if (!m_status)
        return;
    // Before what the bar said (a run's new and withdrawn events), not
    // instead of it.
    const QString notice = summary + QStringLiteral(": ") + QString(body).replace(u'\n', QStringLiteral(", "));
    const QString said = m_status->currentMessage();
    m_status->showMessage(said.isEmpty() ? notice : notice + QStringLiteral(". ") + said, 0);
}

void DesktopNotifier::actionInvoked(uint id, const QString &action)
{
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.constEnd() || action != QLatin1String("default"))
        return;
    const QString key = *shown;
    m_shown.remove(id);
    emit activated(key);
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
