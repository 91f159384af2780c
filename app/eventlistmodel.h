#pragma once

// EventListModel: the shown result's events (app/shownresult.h) one a row,
// over the search's own records (no copy of them): time in local time with its zone,
// magnitude, the magnitude's type, depth, place and reference id. Rows
// sort by value (10.0 after 9.5, 100 km after 20 km; places by town, then
// by distance from it), events without the value last either way; a filter keeps the events whose place or
// reference holds its text. What the model keeps beyond the records is one
// 32-bit row an event. It follows the result's time shown, its clusters
// (two more columns) and the marks of following live.

#include "app/shownresult.h"
#include "quakeml/quakeeventrecord.h"

#include <QAbstractTableModel>

#include <cmath>
#include <cstdint>
#include <vector>

class EventListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Magnitude, Type, Depth, Place, Reference, ColumnCount,
                  // While declustered: the event's cluster and its mainshock.
                  Cluster = ColumnCount, Mainshock, DeclusteredCount };
    enum Mark { Unmarked, New, Revised };

    // The result must outlive the model.
    explicit EventListModel(const ShownResult *shown, QObject *parent = nullptr);
    // Keeps the events whose place or reference id holds the text (any
    // case); empty keeps all.
    void setFilter(const QString &text);
    QString filter() const { return m_filter; }
    // "2016-11-14 00:02:56 NZDT": a time as the list writes it, local.
    static QString localTime(double utcSeconds);
    // Events following live marks: new and not seen yet, or revised.
    Mark markOf(int event) const;

    // The event a row shows, or -1; the row showing an event, or -1.
    int eventAt(int row) const;
    int rowOf(int event) const;
    int eventCount() const { return m_events ? int(m_events->size()) : 0; }
    // What the model keeps for its rows, in bytes.
    qint64 bytes() const { return qint64(m_rows.capacity() * sizeof(std::int32_t)); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // "2016-11-14 00:02:56 NZDT", "7.8", "MLv", "15.1", "25 km N of
    // Culverden", "2016p858000": what a cell shows.
    QString text(int event, Column column) const;

private:
    void readEvents();
    void readClusters();
    void readTime();
    // The rows kept by the filter, in the order asked.
    void arrange(std::vector<std::int32_t> &rows) const;
    bool passes(int event) const;
    const std::vector<std::int32_t> *clusters() const { return m_declustered ? &m_shown->clusters() : nullptr; }
    const std::vector<std::int32_t> *mainshocks() const { return m_declustered ? &m_shown->mainshocks() : nullptr; }

    const ShownResult *m_shown;
    const std::vector<LocatedEvent> *m_events = nullptr;
    const std::vector<RawEvent> *m_raw = nullptr;
    std::vector<std::int32_t> m_rows;
    int m_sortColumn = Time;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    QString m_filter;
    double m_until = HUGE_VAL;   // the time the rows were kept for
    bool m_declustered = false;  // with the two columns
};
