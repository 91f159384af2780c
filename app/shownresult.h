#pragma once

// ShownResult: what the window shows of one search, kept once for every
// view. The search and its events, the event selected, the members of
// clusters that declustering hides behind their mainshocks, the time that
// playing has reached, the marks and withdrawn places of following live,
// the cross-section's profile and the events whose depth was fixed. The
// map, the plots and the list are given it when they are made and only
// read from it; the features (declustering, playing through time,
// following live, the sequence) write to it and never to a view. Each
// change is signalled once; views that read every event again follow the
// time a few times a second while it plays.

#include "geo/crosssection.h"
#include "geo/projection.h"
#include "quakeml/quakeeventrecord.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class QuakeDataManager;

class ShownResult : public QObject
{
    Q_OBJECT

public:
    explicit ShownResult(QObject *parent = nullptr);

    // The search's events, in the tree's order; the map keeps its view when
    // asked to. The selection, the clusters and the marks go; the places
    // withdrawn stay only with the view.
    void show(const QuakeDataManager *search, bool keepView);
    // Events of no search (a picture's, a test's): they must stay until the
    // next call; null for none.
    void setEvents(const std::vector<LocatedEvent> *events, const std::vector<RawEvent> *raw = nullptr,
                   bool keepView = false);
    const QuakeDataManager *search() const { return m_search; }
    const std::vector<LocatedEvent> *events() const { return m_events; }
    const std::vector<RawEvent> *raw() const { return m_raw; }
    int count() const { return m_events ? int(m_events->size()) : 0; }
    bool keepsView() const { return m_keepView; }
    // The events whose depth the agency fixed, found once a result from its
    // raw texts, or given for events of no search.
    const std::unordered_set<const std::string *> &fixedDepths() const { return m_fixed; }
    void setFixedDepths(std::unordered_set<const std::string *> fixed);
    // A depth type that says the agency fixed the depth rather than located it.
    static bool isFixedDepth(std::string_view depthType) { return depthType == "operator assigned"; }

    // "12 km NE of Taupo"; empty when the event has no position.
    QString placeOf(int index) const;

    // -1 for none.
    void select(int index);
    int selected() const { return m_selected; }

    // Declustered: each event's cluster (from 1; 0 for none) and its
    // cluster's mainshock (-1 for none), and the words that say how many are
    // hidden; empty vectors for not declustered. The members of clusters are
    // hidden, their mainshocks shown.
    void setClusters(std::vector<std::int32_t> cluster, std::vector<std::int32_t> mainshock, const QString &note);
    const std::vector<std::int32_t> &clusters() const { return m_cluster; }
    const std::vector<std::int32_t> &mainshocks() const { return m_mainshock; }
    bool isDeclustered() const { return !m_cluster.empty(); }
    bool isHidden(std::size_t index) const { return index < m_mainshock.size() && m_mainshock[index] != std::int32_t(index); }
    int hiddenCount() const { return m_hiddenCount; }
    // "12 events in clusters (mainshocks shown)"; empty for none.
    const QString &hiddenNote() const { return m_hiddenNote; }

    // Played through time: only the events of that time or before (UTC
    // seconds; HUGE_VAL for all), those of the last flashSpan seconds
    // flashing on the map (0 for none).
    void setTimeShown(double until, double flashSpan = 0);
    double until() const { return m_until; }
    double flashSpan() const { return m_flashSpan; }

    // The one rule: an event is shown when it is not hidden and is of the
    // time shown or before. The list shows the members of clusters too.
    bool isOfTimeShown(std::size_t index) const
    {
        return m_until == HUGE_VAL || (*m_events)[index].utcSeconds <= m_until;
    }
    bool isShown(std::size_t index) const { return !isHidden(index) && isOfTimeShown(index); }

    // Following live: the events marked new (not seen yet) and revised, and
    // where withdrawn events were.
    void setMarks(std::vector<int> added, std::vector<int> revised);
    const std::vector<int> &added() const { return m_added; }
    const std::vector<int> &revised() const { return m_revised; }
    void setWithdrawn(std::vector<GeoPoint> places);
    const std::vector<GeoPoint> &withdrawn() const { return m_withdrawn; }

    // The profile of the cross-section; none clears it.
    void setSection(const std::optional<CrossSection> &section);
    const std::optional<CrossSection> &section() const { return m_section; }

signals:
    // A result is shown: the views have read it when the features hear it.
    void resultShown();
    void selectionChanged(int index);
    void clustersChanged();
    // Every change of the time shown, and the same a few times a second
    // while playing (at once otherwise), for views that read every event.
    void timeChanged();
    void timeSettled();
    void marksChanged();
    void withdrawnChanged();
    // The profile, or the events of fixed depth.
    void sectionChanged();

private:
    void reset(const QuakeDataManager *search, const std::vector<LocatedEvent> *events, const std::vector<RawEvent> *raw,
               bool keepView);

    const QuakeDataManager *m_search = nullptr;
    const std::vector<LocatedEvent> *m_events = nullptr;
    const std::vector<RawEvent> *m_raw = nullptr;
    bool m_keepView = false;
    std::unordered_set<const std::string *> m_fixed;
    int m_selected = -1;
    std::vector<std::int32_t> m_cluster;
    std::vector<std::int32_t> m_mainshock;
    int m_hiddenCount = 0;
    QString m_hiddenNote;
    double m_until = HUGE_VAL;
    double m_flashSpan = 0;
    QElapsedTimer m_sinceSettled;
    std::vector<int> m_added;
    std::vector<int> m_revised;
    std::vector<GeoPoint> m_withdrawn;
    std::optional<CrossSection> m_section;
};
