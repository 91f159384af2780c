#pragma once

// LastYearOffer: when the days searched reach past the end of the service's
// catalogue, the status bar offers, as a link, the same search over the
// last year that the catalogue holds, asked of the runner.

#include <QDate>
#include <QObject>

#include <utility>

class QLabel;
class QMainWindow;
class QuakeDataManager;
class SearchRunner;
class ShownResult;

class LastYearOffer : public QObject
{
    Q_OBJECT

public:
    LastYearOffer(QMainWindow *window, const SearchRunner *searches, const ShownResult *shown);

private:
    void shown();

    const SearchRunner *m_searches;
    const ShownResult *m_shown;
    QLabel *m_link;
    std::pair<QDate, QDate> m_lastYear;   // the days it offers
};
