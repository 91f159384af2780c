#pragma once

// DesktopNotifier tells the user of an event outside the window: through
// the freedesktop notification service on the session bus
// (org.freedesktop.Notifications.Notify, asynchronously, so that the
// window never waits on it); without one, as the tray icon's message;
// without a tray, in the status bar. Choosing the notification (or the
// tray's message) reports the key it was given.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QStatusBar;
class QSystemTrayIcon;

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    DesktopNotifier(QStatusBar *status, QObject *parent);

    void notify(const QString &summary, const QString &body, const QString &key);

signals:
    void activated(const QString &key);

private slots:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    bool hasService() const;
    void tellInStatusBar(const QString &summary, const QString &body);

    QPointer<QStatusBar> m_status;
    QSystemTrayIcon *m_tray = nullptr;
    QString m_trayKey;               // what the tray's last message told
    QHash<uint, QString> m_shown;    // the service's notifications, by id
};
