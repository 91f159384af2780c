#pragma once

// "Search → Decluster": the shown result declustered by Gardner and
// Knopoff's window or by nearest neighbours (geo/decluster.h), again for
// every result shown until "Not Declustered" is chosen. The clusters go to
// the shown result (app/shownresult.h): the map and the plots show the
// mainshocks only, the list gains the Cluster and Mainshock columns, the
// export writes them. The status bar says how many clusters and mainshocks
// there are.

#include <QObject>
#include <QString>


class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QuakeDataManager;
class ShownResult;

class DeclusterAction : public QObject
{
    Q_OBJECT

public:
    enum Method { None, GardnerKnopoff, NearestNeighbours };

    DeclusterAction(QMainWindow *window, ShownResult *shown);

    // The submenu, for the Search menu.
    QMenu *menu() const { return m_menu; }
    Method method() const { return m_method; }
    // "1,234 mainshocks; 56 clusters of two or more events".
    QString summary() const { return m_summary; }

private:
    void apply();

    QMainWindow *m_window;
    ShownResult *m_shown;
    QMenu *m_menu;
    Method m_method = None;
    QString m_summary;
};
