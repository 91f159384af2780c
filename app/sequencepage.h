#pragma once

// SequencePage: the "Sequence" tab beside the plots. When the result shown
// is an event's sequence (Show Its Sequence), it studies that event's;
// for any other result, that of the result's largest event, worked out
// only once the tab is shown. It gives the mainshock, the window, how many
// events followed it at or above each whole magnitude, Mc and b, the
// Omori-Utsu fit and its forecast in words, and the charts
// (app/sequencecharts.h).

#include "geo/sequencestudy.h"
#include "quakeml/quakeeventrecord.h"

#include <QDate>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class SequenceCharts;

class SequencePage : public QWidget
{
    Q_OBJECT

public:
    struct Mainshock
    {
        QString reference;
        QString place;          // as the map words it
        double utcSeconds = 0;
        float latitude = 0;
        float longitude = 0;
        float depthKm = 0;      // NaN when unknown
        float magnitude = 0;
        double radiusKm = 0;    // the window searched
        QDate start;            // UTC days, both included
        QDate end;
    };

    struct Counts
    {
        int after = 0;                  // events of the window, after the mainshock
        int before = 0;                 // events of the window before it (its day)
        int withoutMagnitude = 0;       // of those after it
        std::vector<int> atLeast;       // after it, of M >= 0, 1, 2, ...
    };

    explicit SequencePage(QWidget *parent = nullptr);

    // The sequence's events, as the search found them; they must stay
    // until the next call.
    void setSequence(const Mainshock &mainshock, const std::vector<LocatedEvent> &events);
    // Any other result: its largest event's sequence, once shown. Null clears.
    void setResult(const std::vector<LocatedEvent> *events);
    void clear() { setResult(nullptr); }
    // Whether the page shows a sequence searched for.
    bool hasSequence() const { return m_isSequence; }
    // What the page says, as plain text, and what it studied.
    QString text() const;
    // What a term the text links ("mc", "b", "omori", "forecast") means, in
    // a sentence; empty for another.
    static QString explanation(const QString &term);
    const std::optional<SequenceStudy::Study> &study() const { return m_study; }

    // The study's window counted: its events after the mainshock, and those
    // of the result in its distance before it, from its first day.
    static Counts count(const SequenceStudy::Study &study, const Mainshock &mainshock,
                        const std::vector<LocatedEvent> &events);
    // The result's largest event with a magnitude, position and time, as
    // a mainshock whose window spans the result; none without one.
    static std::optional<Mainshock> largestOf(const std::vector<LocatedEvent> &events);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void setSequenceText(const Mainshock &mainshock, const std::vector<LocatedEvent> &events);
    // Works out the study (kept) and says it in words.
    QString studyText(const Mainshock &mainshock, const std::vector<LocatedEvent> &events);

    QLabel *m_text;
    SequenceCharts *m_charts;
    const std::vector<LocatedEvent> *m_events = nullptr;
    std::optional<Mainshock> m_mainshock;   // given, for a sequence searched for
    std::optional<SequenceStudy::Study> m_study;
    bool m_isSequence = false;
    bool m_stale = false;
};
