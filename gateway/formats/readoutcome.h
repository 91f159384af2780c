#pragma once

// What a catalogue reader reports: how many rows it yielded, how many it
// skipped and why (with the first of them, so that a file whose rows are
// all skipped can say what is wrong with them), and the error that
// stopped it, with its line.

#include "catalogue/eventrow.h"

#include <QString>

#include <functional>
#include <map>

using RowSink = std::function<void(const EventRow &)>;

struct ReadOutcome
{
    QString format;                       // "GeoNet quake search CSV", ...
    qint64 rows = 0;
    std::map<QString, qint64> skipped;    // reason ("without a usable time") to count
    qint64 firstSkippedLine = 0;          // the first skipped row: its line,
    QString firstSkippedReason;           // why,
    QString firstSkippedValue;            // and the value that was at fault
    qint64 errorLine = 0;                 // 0 when the error is not on one line
    QString error;

    bool failed() const { return !error.isEmpty(); }
    void fail(qint64 line, const QString &reason)
    {
        errorLine = line;
        error = reason;
    }
    void skip(qint64 line, const QString &reason, QStringView value = {})
    {
        if (skipped.empty()) {
            firstSkippedLine = line;
            firstSkippedReason = reason;
            firstSkippedValue = value.left(60).toString();
        }
        ++skipped[reason];
    }
    qint64 skippedRows() const
    {
        qint64 total = 0;
        for (const auto &entry : skipped)
            total += entry.second;
        return total;
    }
};
