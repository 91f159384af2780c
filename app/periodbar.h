#pragma once

// PeriodBar: any period and any lowest magnitude, beside the form's two
// lists, which apply while it is left at its defaults (and are disabled
// while it is not). A period is a range of UTC dates, as the service
// counts them; remembered between runs.

#include "app/searchrequest.h"

#include <QDate>
#include <QString>
#include <QToolBar>

#include <optional>
#include <utility>

class QComboBox;
class QDateEdit;
class QDoubleSpinBox;
class QLineEdit;

class PeriodBar : public QToolBar
{
    Q_OBJECT

public:
    // The items of periodCtrl.
    enum Kind { AsListed, Period };
    // The lowest magnitude that minMagnitudeCtrl takes; at it, the list applies.
    static constexpr double AsListedMagnitude = -2;

    // The form's two lists, which the bar disables while it overrides them.
    PeriodBar(QComboBox *magnitudeList, QComboBox *dateList, QWidget *parent = nullptr);
    // The search's address and the two lists as they were last chosen,
    // from now on remembered too; a first run keeps the form's defaults.
    void keepForm(QLineEdit *url);

    // The dates searched, or nothing while the date list applies.
    std::optional<std::pair<QDate, QDate>> period() const;
    // The lowest magnitude searched, or nothing while the list applies.
    std::optional<double> minMagnitude() const;
    bool overridesLists() const { return period() || minMagnitude(); }
    // Why the period cannot be searched (it ends before it starts), in
    // words for a message box; empty when it can.
    QString problem() const;

    void setPeriod(const QDate &from, const QDate &to);
    void setMinMagnitude(double magnitude);
    // A request of the service at this address, for the lists' values or
    // the bar's; anywhere.
    SearchRequest request(const QString &serviceUrl) const;
    // Shows a request's period and lowest magnitude, or the lists' where it
    // has none.
    void show(const SearchRequest &request);

signals:
    void changed();

private:
    void update();

    QComboBox *m_magnitudeList;
    QComboBox *m_dateList;
    QComboBox *m_kind;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QDoubleSpinBox *m_minMagnitude;
};
