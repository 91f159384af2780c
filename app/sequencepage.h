#pragma once

// SequencePage: the "Sequence" tab beside the plots, filled when the
// result shown is an event's sequence: the mainshock, the window searched
// and how many events followed it, at or above each whole magnitude.

#include "quakeml/quakeeventrecord.h"

#include <QDate>
#include <QWidget>

#include <vector>

class QLabel;

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
        int after = 0;                  // events after the mainshock
        int before = 0;                 // events of the window before it (its day)
        int withoutMagnitude = 0;       // of those after it
        std::vector<int> atLeast;       // after it, of M >= 0, 1, 2, ...
    };

    explicit SequencePage(QWidget *parent = nullptr);

    // The sequence's events, as the search found them.
    void setSequence(const Mainshock &mainshock, const std::vector<LocatedEvent> &events);
    void clear();
    bool hasSequence() const { return m_shown; }
    // What the page says, as plain text.
    QString text() const;

    static Counts count(const Mainshock &mainshock, const std::vector<LocatedEvent> &events);

private:
    QLabel *m_text;
    bool m_shown = false;
};
