#pragma once

// "Watch Places…": the watched places as a table (name, latitude,
// longitude, radius, lowest magnitude), each cell editable, with a row to
// add a shipped place or a typed point and a button to remove the chosen.

#include "app/watchedplaces.h"

#include <QDialog>

class QCompleter;
class QTableWidget;

class WatchPlacesDialog : public QDialog
{
    Q_OBJECT

public:
    WatchPlacesDialog(const QList<WatchedPlace> &places, QCompleter *completer, QWidget *parent);

    // Shows the watched places for editing, the place given proposed for
    // adding, and saves them when the user accepts.
    static void edit(QCompleter *completer, const QString &proposed, QWidget *parent);

    // Fills the row that adds a place, for the user to finish.
    void propose(const QString &place);
    // As the table holds them; rows that do not read as a place are left out.
    QList<WatchedPlace> places() const;

private:
    void addRow(const WatchedPlace &place);
    void addTyped();

    QTableWidget *m_table;
};
