#pragma once

// "Search → Decluster": the shown result declustered by Gardner and
// Knopoff's window or by nearest neighbours (geo/decluster.h), again for
// every result shown until "Not Declustered" is chosen. The map and the
// plots show the mainshocks only, the list gains the Cluster and
// Mainshock columns, the export writes them, and the status bar says how
// many clusters and mainshocks there are.

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

class Panes;
class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QuakeDataManager;

class DeclusterAction : public QObject
{
    Q_OBJECT

public:
    enum Method { None, GardnerKnopoff, NearestNeighbours };

    DeclusterAction(QMainWindow *window, Panes *panes);

    // The submenu, for the Search menu.
    QMenu *menu() const { return m_menu; }
    Method method() const { return m_method; }
    // Each event's cluster (from 1; 0 for none) and its cluster's
    // mainshock (-1 for none), in the store's order; empty when not
    // declustered.
    const std::vector<std::int32_t> &clusters() const { return m_cluster; }
    const std::vector<std::int32_t> &mainshocks() const { return m_mainshock; }
    // "1,234 mainshocks; 56 clusters of two or more events".
    QString summary() const { return m_summary; }

private:
    void apply(const QuakeDataManager *search);

    QMainWindow *m_window;
    Panes *m_panes;
    QMenu *m_menu;
    Method m_method = None;
    const QuakeDataManager *m_shown = nullptr;
    std::vector<std::int32_t> m_cluster;
    std::vector<std::int32_t> m_mainshock;
    QString m_summary;
};
