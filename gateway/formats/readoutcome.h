#pragma once

// What a catalogue reader reports: how many rows it yielded, how many it
// skipped and why, and the error that stopped it, with its line.

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
    qint64 errorLine = 0;                 // 0 when there is no error
    QString error;

    bool failed() const { return !error.isEmpty(); }
    void fail(qint64 line, const QString &reason)
    {
        errorLine = line;
        error = reason;
    }
    void skip(const QString &reason) { ++skipped[reason]; }
};
