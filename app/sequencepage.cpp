#include "app/sequencepage.h"

#include "geo/statistics.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

SequencePage::SequencePage(QWidget *parent)
    : QWidget(parent)
    , m_text(new QLabel(this))
{
    m_text->setObjectName(QStringLiteral("sequenceSummary"));
    m_text->setTextFormat(Qt::RichText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setMargin(8);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_text);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    clear();
}

void SequencePage::clear()
{
    m_shown = false;
    m_text->setText(tr("Choose an event, then <b>Show Its Sequence</b> (Search menu, or the context menu of the "
                       "tree, the list or the map): its aftershocks are searched and summed up here."));
}

SequencePage::Counts SequencePage::count(const Mainshock &mainshock, const std::vector<LocatedEvent> &events)
{
    Counts counts;
    const QByteArray reference = mainshock.reference.toLatin1();
    for (const LocatedEvent &event : events) {
        const std::string_view id = event.reference();
        if (!std::isfinite(event.utcSeconds) || id == std::string_view(reference.constData(), std::size_t(reference.size())))
            continue;
        if (event.utcSeconds < mainshock.utcSeconds) {
            ++counts.before;
            continue;
        }
        ++counts.after;
        const float magnitude = event.location.magnitude;
        if (!std::isfinite(magnitude)) {
            ++counts.withoutMagnitude;
            continue;
        }
        // Whole magnitudes of the value rounded to tenths, as it is shown.
        const int whole = int(std::floor(Statistics::binOf(magnitude) / 10.0));
        if (whole < 0)
            continue;
        if (counts.atLeast.size() <= std::size_t(whole))
            counts.atLeast.resize(std::size_t(whole) + 1, 0);
        for (int m = 0; m <= whole; ++m)
            ++counts.atLeast[std::size_t(m)];
    }
    return counts;
}

void SequencePage::setSequence(const Mainshock &mainshock, const std::vector<LocatedEvent> &events)
{
    const Counts counts = count(mainshock, events);
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
    m_text->setText(html);
    m_shown = true;
}

QString SequencePage::text() const
{
    QTextDocument document;
    document.setHtml(m_text->text());
    return document.toPlainText();
}
