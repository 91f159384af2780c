#include "app/lastyearoffer.h"

#include "app/periodbar.h"
#include "app/searchrunner.h"
#include "service/quakedatamanager.h"

#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QStatusBar>

LastYearOffer::LastYearOffer(QMainWindow *window, const SearchRunner *searches, PeriodBar *period)
    : QObject(window)
    , m_window(window)
    , m_period(period)
    , m_link(new QLabel)
{
    m_link->setObjectName(QStringLiteral("lastYearCtrl"));
    m_link->setTextFormat(Qt::RichText);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_link->hide();
    window->statusBar()->addPermanentWidget(m_link);
    connect(searches, &SearchRunner::started, m_link, &QLabel::hide);
    connect(searches, &SearchRunner::shownChanged, this, &LastYearOffer::shown);
    connect(m_link, &QLabel::linkActivated, this, [this](const QString &days) {
        const QStringList ends = days.split(u'/');
        m_period->setPeriod(QDate::fromString(ends.value(0), Qt::ISODate), QDate::fromString(ends.value(1), Qt::ISODate));
        QMetaObject::invokeMethod(m_window, "on_searchCtrl_clicked");
    });
}

void LastYearOffer::shown(const QuakeDataManager *search)
{
    const QDate last = search ? search->catalogueEndsBefore() : QDate();
    if (!last.isValid()) {
        m_link->hide();
        return;
    }
    const QDate first = last.addYears(-1).addDays(1);
    const auto text = [](const QDate &date) { return QLocale::c().toString(date, QStringLiteral("d MMM yyyy")); };
    m_link->setText(tr("<a href=\"%1/%2\">Search its last year, %3 to %4</a>")
                        .arg(first.toString(Qt::ISODate), last.toString(Qt::ISODate), text(first), text(last)));
    m_link->show();
}
