#include "app/lastyearoffer.h"

#include "app/searchrunner.h"
#include "app/shownresult.h"
#include "service/quakedatamanager.h"

#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QStatusBar>

LastYearOffer::LastYearOffer(QMainWindow *window, const SearchRunner *searches, const ShownResult *shown)
    : QObject(window)
    , m_searches(searches)
    , m_shown(shown)
    , m_link(new QLabel)
{
    m_link->setObjectName(QStringLiteral("lastYearCtrl"));
    m_link->setTextFormat(Qt::RichText);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_link->hide();
    window->statusBar()->addPermanentWidget(m_link);
    connect(searches, &SearchRunner::started, m_link, &QLabel::hide);
    connect(shown, &ShownResult::resultShown, this, &LastYearOffer::shown);
    connect(m_link, &QLabel::linkActivated, this, [this] {
        SearchRequest request = m_searches->asked();
        request.period = m_lastYear;
        m_searches->ask(request);
    });
}

void LastYearOffer::shown()
{
    const QuakeDataManager *search = m_shown->search();
    const QDate last = search ? search->catalogueEndsBefore() : QDate();
    if (!last.isValid()) {
        m_link->hide();
        return;
    }
    const QDate first = last.addYears(-1).addDays(1);
    m_lastYear = std::make_pair(first, last);
    const auto text = [](const QDate &date) { return QLocale::c().toString(date, QStringLiteral("d MMM yyyy")); };
    m_link->setText(tr("<a href=\"%1/%2\">Search its last year, %3 to %4</a>")
                        .arg(first.toString(Qt::ISODate), last.toString(Qt::ISODate), text(first), text(last)));
    m_link->show();
}
