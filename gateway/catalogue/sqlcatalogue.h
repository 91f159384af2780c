#pragma once

// What both databases answer alike: the catalogue's small reads, each
// written once over a read that either database runs; searches and
// selections, each made once as a SqlSelection that the database narrows
// by place in its own dialect and streams row by row; and an event's
// columns (catalogue/eventcolumns.h) made a row in one place, whatever
// holds the fields.

#include "catalogue/catalogue.h"
#include "catalogue/eventcolumns.h"
#include "catalogue/sqldriver.h"
#include "geo/searchregion.h"

#include <QStringList>
#include <QVariant>

#include <optional>

// A read of events as SQL: the table read (with whatever hint the database
// takes), the terms all must meet with their values in order, and the
// order.
struct SqlSelection
{
    QString from = QStringLiteral("event");
    QStringList terms;
    QVariantList values;
    QString order;

    void add(const QString &term, const QVariantList &termValues)
    {
        terms << term;
        values << termValues;
    }
    // "SELECT <the event's columns> FROM ... WHERE ... ORDER BY ...".
    QString sql() const;
};

class SqlCatalogue : public Catalogue
{
public:
    std::optional<qint64> eventCount() const override;
    std::optional<qint64> lastModified() const override;
    Read<EventRow> find(const QString &publicId) const override;
    Read<QList<SourceSummary>> summary() const override;
    Read<TimeRange> timeRange() const override;
    Read<std::vector<GeoPoint>> outline() const override;
    bool isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const override;
    std::optional<std::int64_t> lastFetched(const QString &upstream) const override;
    std::unique_ptr<Cursor> search(const EventFilter &filter) const override;
    std::unique_ptr<Cursor> select(const EventQuery &query) const override;

    // An event's row from its fields: Fields gives field i as text, as a
    // whole number, or as a number (nothing for NULL), each read once.
    template <typename Fields>
    static EventRow eventRowOf(const Fields &fields);

protected:
    // One statement on the database that answers reads: its rows, or false
    // when it failed.
    virtual bool read(const QString &sql, const QVariantList &values, SqlRows *rows) const = 0;
    // Each degree of longitude that holds events (its western edge plus
    // 180, a whole number) with their least and greatest latitude.
    virtual QString outlineStatement() const = 0;
    // A read of events streamed row by row; its failure is the cursor's.
    virtual std::unique_ptr<Cursor> stream(const QString &sql, const QVariantList &values) const = 0;
    // The database's own terms for where a read looks: the box that holds
    // what is asked (a search's smallest envelope, a selection's bounds),
    // the circle of a search, and the times.
    struct Place
    {
        std::optional<SearchRegion::Box> box;
        std::optional<SearchRegion::Circle> circle;
        std::optional<std::int64_t> startUs, endUs;
    };
    virtual void narrow(SqlSelection &selection, const Place &place) const = 0;
    // A selection as this database can answer it; as asked, unless told.
    virtual EventQuery answerable(const EventQuery &query) const;
};

// Values, null for NULL: a row of a read, or the row a query stands on.
template <typename Values>
struct VariantFields
{
    const Values &values;
    QString text(int i) const { return values.value(i).toString(); }
    qint64 whole(int i) const { return values.value(i).toLongLong(); }
    std::optional<double> number(int i) const
    {
        const QVariant value = values.value(i);
        return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
    }
    std::optional<int> count(int i) const
    {
        const QVariant value = values.value(i);
        return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
    }
};

template <typename Fields>
EventRow SqlCatalogue::eventRowOf(const Fields &fields)
{
    EventRow row;
    row.publicId = fields.text(0);
    EventColumns::read(fields, 1, row);
    row.source = fields.text(1 + int(EventColumns::all().size()));
    return row;
}
