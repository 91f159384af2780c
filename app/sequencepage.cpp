#include "app/sequencepage.h"

#include "app/sequencecharts.h"
#include "geo/places.h"
#include "geo/projection.h"
#include "geo/sequencewindow.h"
#include "geo/shippeddata.h"
#include "geo/statistics.h"

#include <QCursor>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QTextDocument>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

SequencePage::SequencePage(QWidget *parent)
    : QWidget(parent)
    , m_text(new QLabel(this))
    , m_charts(new SequenceCharts(this))
{
    m_charts->setObjectName(QStringLiteral("sequenceCharts"));
    m_text->setObjectName(QStringLiteral("sequenceSummary"));
    m_text->setTextFormat(Qt::RichText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    // A term's link says what it means, hovered or followed.
    const auto explain = [this](const QString &link) {
        if (link.startsWith(QLatin1String("term:")))
            QToolTip::showText(QCursor::pos(), explanation(link.mid(5)), m_text);
    };
    connect(m_text, &QLabel::linkHovered, this, explain);
    connect(m_text, &QLabel::linkActivated, this, explain);
    m_text->setMargin(8);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_text);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll, 2);
    layout->addWidget(m_charts, 3);
    clear();
}

void SequencePage::setResult(const std::vector<LocatedEvent> *events)
{
    m_events = events && !events->empty() ? events : nullptr;
    m_mainshock.reset();
    m_isSequence = false;
    m_stale = true;
    m_study.reset();
    m_charts->setStudy(std::nullopt);
    if (isVisible() || !m_events)
        refresh();
}

void SequencePage::setSequence(const Mainshock &mainshock, const std::vector<LocatedEvent> &events)
{
    m_events = &events;
    m_mainshock = mainshock;
    m_isSequence = true;
    refresh();
}

void SequencePage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale)
        refresh();
}

std::optional<SequencePage::Mainshock> SequencePage::largestOf(const std::vector<LocatedEvent> &events)
{
    const LocatedEvent *largest = nullptr;
    double last = -HUGE_VAL;
    for (const LocatedEvent &event : events) {
        const QuakeLocation &at = event.location;
        if (!std::isfinite(at.magnitude) || !std::isfinite(at.latitude) || !std::isfinite(at.longitude)
            || !std::isfinite(event.utcSeconds))
            continue;
        last = std::max(last, event.utcSeconds);
        if (!largest || at.magnitude > largest->location.magnitude
            || (at.magnitude == largest->location.magnitude && event.utcSeconds < largest->utcSeconds))
            largest = &event;
    }
    if (!largest)
        return std::nullopt;
    const QuakeLocation &at = largest->location;
    const auto utcDate = [](double seconds) { return QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC).date(); };
    return Mainshock { QString::fromLatin1(largest->reference().data(), qsizetype(largest->reference().size())),
                       ShippedData::places().describe({ at.latitude, at.longitude }), largest->utcSeconds, at.latitude,
                       at.longitude, at.depthKm, at.magnitude, SequenceWindow::radiusKm(at.magnitude),
                       utcDate(largest->utcSeconds),
                       utcDate(std::min(last, largest->utcSeconds + SequenceWindow::days(at.magnitude) * 86400)) };
}

void SequencePage::refresh()
{
    m_stale = false;
    if (!m_events) {
        m_study.reset();
        m_charts->setStudy(std::nullopt);
        m_text->setText(tr("Choose an event, then <b>Show Its Sequence</b> (Search menu, or the context menu of the "
                           "tree, the list or the map): its aftershocks are searched and studied here."));
        return;
    }
    const std::optional<Mainshock> mainshock = m_mainshock ? m_mainshock : largestOf(*m_events);
    if (!mainshock) {
        m_text->setText(tr("No event of this result has a magnitude, a place and a time: there is no sequence to study."));
        return;
    }
    setSequenceText(*mainshock, *m_events);
}

SequencePage::Counts SequencePage::count(const SequenceStudy::Study &study, const Mainshock &mainshock,
                                         const std::vector<LocatedEvent> &events)
{
    Counts counts;
    // After it: the window's events, those the study takes.
    counts.after = int(study.events.size());
    for (const QuakePoint &event : study.events) {
        if (!std::isfinite(event.magnitude)) {
            ++counts.withoutMagnitude;
            continue;
        }
        // Whole magnitudes of the value rounded to tenths, as it is shown.
        const int whole = int(std::floor(Statistics::binOf(event.magnitude) / 10.0));
        if (whole < 0)
            continue;
        if (counts.atLeast.size() <= std::size_t(whole))
            counts.atLeast.resize(std::size_t(whole) + 1, 0);
        for (int m = 0; m <= whole; ++m)
            ++counts.atLeast[std::size_t(m)];
    }
    // Before it: those of the result within the window's distance from the
    // start of its first day.
    const QByteArray reference = mainshock.reference.toLatin1();
    const double dayStart = QDateTime(mainshock.start, QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    const GeoPoint centre { study.mainshock.latitude, study.mainshock.longitude };
    for (const LocatedEvent &event : events) {
        const std::string_view id = event.reference();
        if (!(event.utcSeconds >= dayStart && event.utcSeconds < mainshock.utcSeconds)
            || id == std::string_view(reference.constData(), std::size_t(reference.size())))
            continue;
        if (Geo::distanceKm(centre, { event.location.latitude, event.location.longitude }) <= study.radiusKm)
            ++counts.before;
    }
    return counts;
}

void SequencePage::setSequenceText(const Mainshock &mainshock, const std::vector<LocatedEvent> &events)
{
    const QString studied = studyText(mainshock, events);
    const Counts counts = count(*m_study, mainshock, events);
    const QLocale c = QLocale::c();
    const QString time = QDateTime::fromSecsSinceEpoch(qint64(std::floor(mainshock.utcSeconds)), Qt::UTC)
                             .toLocalTime()
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    QString html = tr("<h3>Sequence of M%1 %2</h3>")
                       .arg(QString::number(Statistics::binOf(mainshock.magnitude) / 10.0, 'f', 1),
                            mainshock.reference.toHtmlEscaped());
    html += tr("<p><b>Mainshock:</b> %1, %2%3.</p>")
                .arg(time, mainshock.place.isEmpty() ? tr("%1, %2").arg(mainshock.latitude).arg(mainshock.longitude)
                                                      : mainshock.place.toHtmlEscaped(),
                     std::isfinite(mainshock.depthKm) ? tr(", %1 km deep").arg(double(mainshock.depthKm), 0, 'f', 1)
                                                       : QString());
    html += tr("<p><b>Window:</b> within %1 km of it, from %2 to %3 (UTC days): Gardner and Knopoff's window "
               "for its magnitude, as SeismoStats and OpenQuake fit it.</p>")
                .arg(qRound(mainshock.radiusKm))
                .arg(c.toString(mainshock.start, QStringLiteral("d MMM yyyy")),
                     c.toString(mainshock.end, QStringLiteral("d MMM yyyy")));
    const auto eventsText = [](int n) { return n == 1 ? tr("1 event") : tr("%1 events").arg(n); };
    html += tr("<p><b>%1 after it</b>").arg(eventsText(counts.after));
    if (counts.before > 0)
        html += tr(", %1 before it").arg(counts.before);
    if (counts.withoutMagnitude > 0)
        html += tr("; %1 without a magnitude").arg(counts.withoutMagnitude);
    html += QStringLiteral(".</p>");
    if (!counts.atLeast.empty()) {
        html += tr("<table cellspacing=\"0\" cellpadding=\"3\"><tr><th align=\"left\">Magnitude</th>"
                   "<th align=\"right\">Events after it</th></tr>");
        for (std::size_t m = 0; m < counts.atLeast.size(); ++m)
            html += tr("<tr><td>M%1 or more</td><td align=\"right\">%2</td></tr>").arg(m).arg(counts.atLeast[m]);
        html += QStringLiteral("</table>");
    }
    html += studied;
    html += tr("<p><small><b>What the numbers do not mean.</b> Completeness is what the magnitudes show: a catalogue that "
               "holds only larger events (the shipped one before 2024 holds GeoNet's moment tensors alone) is complete "
               "only from them. Early on, small events hide in larger ones' codas, so early rates are too low and c "
               "comes out too long. Near the plate boundary a window also holds the region's background. A forecast "
               "is the fitted law's expectation, not a warning: GeoNet publishes the official ones.</small></p>");
    m_text->setText(html);
}

QString SequencePage::studyText(const Mainshock &mainshock, const std::vector<LocatedEvent> &events)
{
    // The study of the events as a catalogue: the result's last event ends it.
    std::vector<QuakePoint> points;
    points.reserve(events.size());
    double latest = mainshock.utcSeconds;
    for (const LocatedEvent &event : events) {
        const QuakeLocation &at = event.location;
        if (!std::isfinite(event.utcSeconds) || !std::isfinite(at.latitude) || !std::isfinite(at.longitude))
            continue;
        latest = std::max(latest, event.utcSeconds);
        points.push_back({ event.utcSeconds, at.latitude, at.longitude, std::isfinite(at.magnitude) ? double(at.magnitude) : std::nan(""),
                           std::string(event.reference()) });
    }
    const QuakePoint main { mainshock.utcSeconds, mainshock.latitude, mainshock.longitude, mainshock.magnitude,
                            mainshock.reference.toStdString() };
    m_study = SequenceStudy::study(main, points, std::nullopt, std::nullopt, latest);
    m_charts->setStudy(m_study);
    const SequenceStudy::Study &study = *m_study;
    QString html;
    if (study.mc && study.b) {
        html += tr("<p><b>Magnitudes:</b> complete from M%1 (<a href=\"term:mc\">Mc</a>, maximum curvature + 0.2); <a href=\"term:b\">b</a> = %2 \u00B1 %3, a = %4, "
                   "from %5 events at or above it.</p>")
                    .arg(QString::number(*study.mc, 'f', 1), QString::number(study.b->b, 'f', 2),
                         QString::number(study.b->sigma, 'f', 2), QString::number(study.b->a, 'f', 2))
                    .arg(study.b->n);
    } else if (study.mc) {
        html += tr("<p><b>Magnitudes:</b> complete from M%1 (<a href=\"term:mc\">Mc</a>, maximum curvature + 0.2); no <a href=\"term:b\">b-value</a>: %2.</p>")
                    .arg(QString::number(*study.mc, 'f', 1), study.whyNoB.toHtmlEscaped());
    } else {
        html += tr("<p><b>Magnitudes:</b> no event of the window has a magnitude.</p>");
    }
    if (!study.omori) {
        const int above = study.aboveMc;
        if (above < Omori::MinimumEvents)
            return html + tr("<p><b>Decay:</b> too few events to fit <a href=\"term:omori\">Omori and Utsu's law</a> (%1 at or above Mc; %2 are "
                             "needed).</p>").arg(above).arg(Omori::MinimumEvents);
        return html + tr("<p><b>Decay:</b> the %1 events at or above Mc do not die away as aftershocks do (a swarm, "
                         "or the region's background): no Omori\u2013Utsu decay is fitted.</p>").arg(above);
    }
    const Omori::Fit &fit = *study.omori;
    html += tr("<p><b>Decay</b> (<a href=\"term:omori\">Omori\u2013Utsu</a>, K (t + c)<sup>\u2212p</sup> events a day, %1 events): "
               "K = %2 \u00B1 %3, c = %4 \u00B1 %5 days, p = %6 \u00B1 %7.</p>")
                .arg(fit.n)
                .arg(QString::number(fit.K, 'g', 3), QString::number(fit.sigmaK, 'g', 2), QString::number(fit.c, 'g', 3),
                     QString::number(fit.sigmaC, 'g', 2), QString::number(fit.p, 'f', 2), QString::number(fit.sigmaP, 'f', 2));
    if (!study.forecast.empty()) {
        html += tr("<p><b><a href=\"term:forecast\">Forecast</a></b> from %1 (Reasenberg and Jones): events expected, and the chance of one or more.</p>")
                    .arg(QDateTime::fromSecsSinceEpoch(qint64(study.forecastFrom), Qt::UTC).toLocalTime()
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm t")));
        html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\"><tr><th></th>");
        for (const double m : SequenceStudy::ForecastMagnitudes)
            html += tr("<th align=\"right\">M%1 or more</th>").arg(m);
        html += QStringLiteral("</tr>");
        const char *const horizons[] = { "Next day", "Next week", "Next month", "Next year" };
        for (std::size_t row = 0; row < std::size(SequenceStudy::ForecastDays); ++row) {
            html += QStringLiteral("<tr><td>%1</td>").arg(tr(horizons[row]));
            for (std::size_t column = 0; column < SequenceStudy::ForecastGrid::Columns; ++column) {
                const Omori::Forecast &f = study.forecast.at(row, column);
                html += QStringLiteral("<td align=\"right\">%1 (%2%)</td>")
                            .arg(QString::number(f.expected, 'g', 2), QString::number(100 * f.probability, 'f', 0));
            }
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }
    return html;
}

QString SequencePage::explanation(const QString &term)
{
    static const struct
    {
        const char *term;
        const char *sentence;
    } terms[] = {
        { "mc", QT_TR_NOOP("Mc, the magnitude of completeness: from it up the catalogue holds every event; smaller ones are "
                           "missed, so the numbers here count only those at or above it.") },
        { "b", QT_TR_NOOP("b, Gutenberg and Richter's b-value: how fast the count of events falls as the magnitude grows. "
                          "With b = 1, each whole magnitude up has a tenth as many events. It needs 50 events at or above Mc.") },
        { "omori", QT_TR_NOOP("Omori and Utsu's law: aftershocks die away as K (t + c)^\u2212p events a day, t days after "
                              "the mainshock. p near 1 is usual; a larger p dies away faster.") },
        { "forecast", QT_TR_NOOP("Reasenberg and Jones's forecast: how many events of the fitted law are expected in the time "
                                 "ahead, of a magnitude or more, and the chance of at least one.") },
    };
    for (const auto &[name, sentence] : terms) {
        if (term == QLatin1String(name))
            return tr(sentence);
    }
    return QString();
}

QString SequencePage::text() const
{
    QTextDocument document;
    document.setHtml(m_text->text());
    return document.toPlainText();
}
