#pragma once

// "Show Its Sequence": the current event's aftershock sequence a click
// away. The search is set to the circle and the days of Gardner and
// Knopoff's window around the event (geo/sequencewindow.h), from its UTC
// date, at every magnitude, and run; the bars show what was searched.

#include <QObject>

class PeriodBar;
class QAction;
class QMainWindow;
class QTreeWidget;
class RegionBar;
class SearchRunner;

class SequenceAction : public QObject
{
    Q_OBJECT

public:
    // The action is the window's, in the tree's context menu too.
    SequenceAction(QMainWindow *window, QTreeWidget *tree, const SearchRunner *searches, RegionBar *region,
                   PeriodBar *period);

    QAction *action() const { return m_action; }

private:
    void showSequence();

    QMainWindow *m_window;
    QTreeWidget *m_tree;
    const SearchRunner *m_searches;
    RegionBar *m_region;
    PeriodBar *m_period;
    QAction *m_action;
};
