#pragma once

// EventList: the shown result's events as a table, newest first, that
// sorts by a header's click and narrows by a filter field above it. The
// result's selected event is selected in it; a selected row reports its
// event; a click on a reference id asks for the event's page.

#include <QWidget>

class EventListModel;
class ShownResult;
class QLineEdit;
class QTableView;
class QTimer;

class EventList : public QWidget
{
    Q_OBJECT

public:
    // The result must outlive the list.
    explicit EventList(const ShownResult *shown, QWidget *parent = nullptr);

    EventListModel *model() const { return m_model; }
    QTableView *table() const { return m_table; }
    // Selects the event's row and shows it; -1 clears the selection.
    void selectEvent(int event);
    // The event of the current row, or -1.
    int currentEvent() const;

signals:
    void eventSelected(int event);
    void pageWanted(const QString &reference);

private:
    void rowChanged();

    EventListModel *m_model;
    QLineEdit *m_filter;
    QTableView *m_table;
    QTimer *m_filterDelay;
    bool m_selecting = false;
};
