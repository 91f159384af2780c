#pragma once

// What the window keeps while it follows a search live
// (app/mainappwindow_live.cpp); private to the window's sources.

#include "app/mainappwindow.h"
#include "quakeml/quakeeventrecord.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QTreeWidgetItem>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class DesktopNotifier;
class QuakeDataManager;

struct MainAppWindow::Live
{
    QTimer *timer = nullptr;   // the window's child
    // The run in flight, if any: runs never overlap.
    QPointer<QuakeDataManager> running;
    // A result of following is shown: the next one is compared with it.
    bool comparing = false;
    // New events not selected yet, and the earlier values of what the last
    // run revised.
    std::unordered_set<std::string> unseen;
    std::map<std::string, QuakeFieldMap> revised;
    // Events told of already, by reference: never twice.
    std::unordered_set<std::string> notified;
    DesktopNotifier *notifier = nullptr;   // the window's child
    // While a followed result replaces the last: the map keeps its view.
    bool keepingView = false;
    QString baseTitle;
    // What runs withdrew, shown after the events, greyed, and crossed out
    // on the map, until following starts afresh or the event is back: the
    // event's item as it was, and where it was.
    struct Withdrawn
    {
        std::string id;
        std::unique_ptr<QTreeWidgetItem> item;
        std::optional<GeoPoint> at;
    };
    std::vector<Withdrawn> withdrawn;

    // Forgets what was compared: the next result is the first.
    void restart()
    {
        comparing = false;
        unseen.clear();
        revised.clear();
        withdrawn.clear();
    }
};
