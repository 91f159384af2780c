#include "app/periodbar.h"

#include "app/querycomposition.h"

#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>

namespace {

const char kindKey[] = "period/kind";
const char fromKey[] = "period/from";
const char toKey[] = "period/to";
const char magnitudeKey[] = "period/minMagnitude";
const char urlKey[] = "form/url";
const char magnitudeListKey[] = "form/magnitude";
const char dateListKey[] = "form/date";

// A date typed over the whole field is taken whole: the first digit starts
// the year, a dash moves on to the month and then the day, as in
// "2013-07-01". Without this, typing over all of it changes the month and
// day and keeps the year.
class DateField : public QDateEdit
{
public:
    using QDateEdit::QDateEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QString typed = event->text();
        const bool digit = typed.size() == 1 && typed.front().isDigit();
        // A dash right after a section filled up and moved on is the one
        // typed between them: the field has moved on already.
        if (m_movedOn && typed == QLatin1String("-")) {
            m_movedOn = false;
            event->accept();
            return;
        }
        if (digit && lineEdit()->hasSelectedText() && lineEdit()->selectedText() == lineEdit()->text())
            setSelectedSection(QDateTimeEdit::YearSection);
        const Section before = currentSection();
        QDateEdit::keyPressEvent(event);
        m_movedOn = digit && currentSection() != before;
    }

private:
    bool m_movedOn = false;
};

QDateEdit *dateField(const QString &name, const QDate &date, const QString &tip)
{
    auto *field = new DateField(date);
    field->setObjectName(name);
    field->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    field->setCalendarPopup(true);
    field->setMinimumDate(QDate(1900, 1, 1));
    field->setToolTip(tip);
    // The whole date beside the popup's arrow.
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) + 48);
    return field;
}

} // namespace

PeriodBar::PeriodBar(QComboBox *magnitudeList, QComboBox *dateList, QWidget *parent)
    : QToolBar(tr("Period"), parent)
    , m_magnitudeList(magnitudeList)
    , m_dateList(dateList)
    , m_kind(new QComboBox)
{
    setObjectName(QStringLiteral("periodBar"));
    setMovable(false);
    const QSettings settings;
    const QDate today = QDateTime::currentDateTimeUtc().date();
    m_from = dateField(QStringLiteral("periodFromCtrl"), settings.value(QLatin1String(fromKey), today.addDays(-7)).toDate(),
                       tr("The first day to look at (UTC): type it as 2016-11-13, or pick it from the calendar"));
    m_to = dateField(QStringLiteral("periodToCtrl"), settings.value(QLatin1String(toKey), today).toDate(),
                     tr("The last day to look at (UTC), itself included"));
    m_minMagnitude = new QDoubleSpinBox;
    m_minMagnitude->setObjectName(QStringLiteral("minMagnitudeCtrl"));
    m_minMagnitude->setRange(AsListedMagnitude, 10);
    m_minMagnitude->setSingleStep(0.1);
    m_minMagnitude->setDecimals(1);
    m_minMagnitude->setSpecialValueText(tr("the list's"));
    m_minMagnitude->setToolTip(tr("Only earthquakes of this magnitude or more; at \"the list's\", the magnitude list "
                                  "below chooses"));
    m_minMagnitude->setValue(settings.value(QLatin1String(magnitudeKey), AsListedMagnitude).toDouble());

    m_kind->setObjectName(QStringLiteral("periodCtrl"));
    m_kind->addItems({ tr("The list's days"), tr("From") });
    m_kind->setToolTip(tr("When to look: the last days that the list below says, or from one date to another (both "
                          "included, in UTC, New Zealand's time less 12 or 13 hours)"));
    m_kind->setCurrentIndex(settings.value(QLatin1String(kindKey), AsListed).toInt() == Period ? Period : AsListed);

    auto *fields = new QWidget;
    auto *row = new QHBoxLayout(fields);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(new QLabel(tr("When:")));
    row->addWidget(m_kind);
    row->addWidget(m_from);
    row->addWidget(new QLabel(tr("to")));
    row->addWidget(m_to);
    row->addSpacing(8);
    row->addWidget(new QLabel(tr("Magnitude at least:")));
    row->addWidget(m_minMagnitude);
    row->addStretch();
    addWidget(fields);

    const auto changes = [this] {
        QSettings settings;
        settings.setValue(QLatin1String(kindKey), m_kind->currentIndex());
        settings.setValue(QLatin1String(fromKey), m_from->date());
        settings.setValue(QLatin1String(toKey), m_to->date());
        settings.setValue(QLatin1String(magnitudeKey), m_minMagnitude->value());
        update();
        emit changed();
    };
    connect(m_kind, &QComboBox::currentIndexChanged, this, changes);
    connect(m_from, &QDateEdit::dateChanged, this, changes);
    connect(m_to, &QDateEdit::dateChanged, this, changes);
    connect(m_minMagnitude, &QDoubleSpinBox::valueChanged, this, changes);
    update();
}

void PeriodBar::update()
{
    const bool period = m_kind->currentIndex() == Period;
    m_from->setEnabled(period);
    m_to->setEnabled(period);
    m_dateList->setEnabled(!period);
    m_magnitudeList->setEnabled(!minMagnitude());
}

std::optional<std::pair<QDate, QDate>> PeriodBar::period() const
{
    if (m_kind->currentIndex() != Period)
        return std::nullopt;
    return std::make_pair(m_from->date(), m_to->date());
}

std::optional<double> PeriodBar::minMagnitude() const
{
    if (m_minMagnitude->value() <= AsListedMagnitude)
        return std::nullopt;
    return m_minMagnitude->value();
}

void PeriodBar::setPeriod(const QDate &from, const QDate &to)
{
    m_from->setDate(from);
    m_to->setDate(to);
    m_kind->setCurrentIndex(Period);
}

QString PeriodBar::problem() const
{
    const std::optional<std::pair<QDate, QDate>> dates = period();
    if (!dates || dates->first <= dates->second)
        return QString();
    const QString format = QStringLiteral("d MMM yyyy");
    return tr("The period starts on %1, after it ends on %2. Choose a From date on or before the To date.")
        .arg(dates->first.toString(format), dates->second.toString(format));
}

void PeriodBar::setMinMagnitude(double magnitude)
{
    m_minMagnitude->setValue(magnitude);
}

SearchRequest PeriodBar::request(const QString &serviceUrl) const
{
    SearchRequest asked;
    asked.serviceUrl = serviceUrl;
    asked.listMagnitude = QueryComposition::magnitudeLowerBound(m_magnitudeList->currentIndex());
    asked.listDays = QueryComposition::daysBack(m_dateList->currentIndex());
    asked.period = period();
    asked.minMagnitude = minMagnitude();
    return asked;
}

void PeriodBar::show(const SearchRequest &request)
{
    if (request.period)
        setPeriod(request.period->first, request.period->second);
    else
        m_kind->setCurrentIndex(AsListed);
    setMinMagnitude(request.minMagnitude.value_or(AsListedMagnitude));
}

void PeriodBar::keepForm(QLineEdit *url)
{
    const QSettings settings;
    if (settings.contains(QLatin1String(urlKey)))
        url->setText(settings.value(QLatin1String(urlKey)).toString());
    const auto restore = [&settings](QComboBox *list, const char *key) {
        const int index = settings.value(QLatin1String(key), -1).toInt();
        if (index >= 0 && index < list->count())
            list->setCurrentIndex(index);
        connect(list, &QComboBox::currentIndexChanged, list,
                [key](int chosen) { QSettings().setValue(QLatin1String(key), chosen); });
    };
    restore(m_magnitudeList, magnitudeListKey);
    restore(m_dateList, dateListKey);
    connect(url, &QLineEdit::textChanged, url, [](const QString &text) { QSettings().setValue(QLatin1String(urlKey), text); });
}
