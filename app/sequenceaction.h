#pragma once

// "Show Its Sequence": the current event's aftershock sequence a click
// away. The search is set to the circle and the days of Gardner and
// Knopoff's window around the event (geo/sequencewindow.h), from its UTC
// date, at every magnitude, and run; the bars show what was searched. The
// result, whenever it is shown, is summed up on the Sequence page.

#include "app/sequencepage.h"

#include <QObject>
#include <QString>

class PeriodBar;
class QAction;
class QMainWindow;
class QTreeWidget;
class QuakeDataManager;
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
    SequencePage *page() const { return m_page; }
    // Offers the action on a widget's context menu too.
    void offerOn(QWidget *widget);

private:
    void showSequence();
    void shown(const QuakeDataManager *search);

    QMainWindow *m_window;
    QTreeWidget *m_tree;
    const SearchRunner *m_searches;
    RegionBar *m_region;
    PeriodBar *m_period;
    QAction *m_action;
    SequencePage *m_page;
    // The sequence searched last, and its search's address: a result of
    // that address is its sequence, whether the button or following live
    // ran it.
    SequencePage::Mainshock m_mainshock;
    QString m_url;
    bool m_asking = false;
};
