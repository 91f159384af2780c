#pragma once

// Stands in for the desktop's browser: registered with
// QDesktopServices::setUrlHandler, it keeps every URL it is asked to open.

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

    void install()
    {
        for (const QString &scheme : schemes())
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    void uninstall()
    {
        for (const QString &scheme : schemes())
            QDesktopServices::unsetUrlHandler(scheme);
    }

public slots:
    void open(const QUrl &url) { urls.append(url); }

private:
    static QStringList schemes() { return { QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp") }; }
};
