#pragma once

// The values of an event that a source writes, each a column of the event
// table and of a claim (event_claim) alike, written once: its name, its
// type in each database and the member of EventRow it holds. The tables'
// definitions, the statements' column lists, the values bound to them and
// the rows read back all follow from this one table, in its order.

#include "catalogue/eventrow.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

namespace EventColumns {

struct Column
{
    const char *name;
    const char *sqliteType;
    const char *postgresType;
    std::variant<std::int64_t EventRow::*, std::optional<double> EventRow::*, std::optional<int> EventRow::*,
                 QString EventRow::*>
        member;
};

enum class Dialect { SQLite, PostgreSQL };

// origin_time, latitude, longitude, depth, magnitude, magnitude_type,
// magnitude_station_count, event_type, evaluation_mode, evaluation_status.
const std::array<Column, 10> &all();

// "origin_time, latitude, …", each name after the prefix ("c.").
QString names(const char *prefix = "");
// "origin_time = excluded.origin_time, …".
QString assignedFrom(const char *from);
// "origin_time = ?, latitude = ?, …".
QString assignedMarks();
// "origin_time IS NOT ? OR latitude IS NOT ? OR …".
QString differFromMarks();
// "origin_time BIGINT, latitude DOUBLE PRECISION, …", as a table's
// definitions; the event table's origin_time is NOT NULL.
QStringList definitions(Dialect dialect, bool eventTable);

// The row's values in the table's order, NULL for none and for an empty
// text, a longitude within (-180, 180].
void bind(const EventRow &row, QVariantList &values);

// The row's values read back, from the field at first on, in the table's
// order.
template <typename Fields>
void read(const Fields &fields, int first, EventRow &row)
{
    int i = first;
    for (const Column &column : all()) {
        std::visit([&](auto member) {
            using Value = std::decay_t<decltype(row.*member)>;
            if constexpr (std::is_same_v<Value, std::int64_t>)
                row.*member = fields.whole(i);
            else if constexpr (std::is_same_v<Value, std::optional<double>>)
                row.*member = fields.number(i);
            else if constexpr (std::is_same_v<Value, std::optional<int>>)
                row.*member = fields.count(i);
            else
                row.*member = fields.text(i);
        }, column.member);
        ++i;
    }
}

} // namespace EventColumns
