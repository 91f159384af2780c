#pragma once

// "Show Its Sequence": the current event's aftershock sequence a click
// away. The runner is asked for a search of the circle and the days of
// Gardner and Knopoff's window around the event (geo/sequencewindow.h),
// from its UTC date, at every magnitude; the bars show what was searched.
// A result of that request, whether the button or following live ran it,
// is summed up on the Sequence page; any other result is the page's too.

#include "app/searchrequest.h"
#include "app/sequencepage.h"

#include <QObject>
#include <QString>

#include <optional>

class QAction;
class QMainWindow;
class QTreeWidget;
class QuakeDataManager;
class SearchRunner;
class ShownResult;

class SequenceAction : public QObject
{
    Q_OBJECT

public:
    // The action is the window's, in the tree's context menu too.
    SequenceAction(QMainWindow *window, QTreeWidget *tree, const SearchRunner *searches, const ShownResult *shown);

    QAction *action() const { return m_action; }
    SequencePage *page() const { return m_page; }
    // Offers the action on a widget's context menu too.
    void offerOn(QWidget *widget);

private:
    void showSequence();
    void shown();

    QMainWindow *m_window;
    QTreeWidget *m_tree;
    const SearchRunner *m_searches;
    const ShownResult *m_shown;
    QAction *m_action;
    SequencePage *m_page;
    // The sequence searched last, and its request.
    SequencePage::Mainshock m_mainshock;
    std::optional<SearchRequest> m_request;
};
