#pragma once

// LastYearOffer: when the days searched reach past the end of the service's
// catalogue, the status bar offers, as a link, the same search over the
// last year that the catalogue holds.

#include <QObject>

class PeriodBar;
class QLabel;
class QMainWindow;
class QuakeDataManager;
class SearchRunner;

class LastYearOffer : public QObject
{
    Q_OBJECT

public:
    LastYearOffer(QMainWindow *window, const SearchRunner *searches, PeriodBar *period);

private:
    void shown(const QuakeDataManager *search);

    QMainWindow *m_window;
    PeriodBar *m_period;
    QLabel *m_link;
};
