#include "formats/csvcataloguereader.h"

#include "formats/fieldparsing.h"
#include "formats/textlines.h"
#include "quakeml/utctime.h"

#include <iterator>

namespace CsvCatalogueReader {

namespace {

// Column names of one dialect; an empty name is a column it does not have.
struct Dialect
{
    const char *format;
    const char *id;
    const char *time;
    bool compactTime;           // YYYYMMDDhhmmss instead of ISO 8601
    const char *latitude;
    const char *longitude;
    const char *depth;
    const char *magnitude;
    const char *magnitudeTypeColumn;
    const char *magnitudeType;  // fixed type where there is no column
    const char *stationCount;
    const char *eventType;
    const char *evaluationMode;
    const char *evaluationStatus;
    double noMagnitude;         // a magnitude that stands for none, or 0 for no such value
    const char *pendingId;      // an id that stands for "none yet", or ""
};

const Dialect dialects[] = {
    { "GeoNet quake search CSV", "publicid", "origintime", false, "latitude", "longitude", "depth",
      "magnitude", "magnitudetype", "", "magnitudestationcount", "eventtype", "evaluationmode",
      "evaluationstatus", -9, "" },
    { "GeoNet MLNZ20 rapid events CSV", "#ID", "OT", false, "Lat", "Lon", "Dep", "MLv", "", "MLv",
      "NrStaMLv", "", "", "", 0, "" },
    { "GeoNet moment-tensor CSV", "PublicID", "Date", true, "Latitude", "Longitude", "CD", "Mw", "",
      "Mw", "NS", "", "", "", 0, "9999999" },
};

const Dialect *dialectOf(const QStringList &header)
{
    for (const Dialect &dialect : dialects) {
        if (header.contains(QLatin1String(dialect.id)) && header.contains(QLatin1String(dialect.time)))
            return &dialect;
    }
    return nullptr;
}

// Column indexes of one file, -1 where it lacks a column.
struct Columns
{
    explicit Columns(const Dialect &dialect, const QStringList &header)
    {
        auto at = [&header](const char *name) {
            return *name ? int(header.indexOf(QLatin1String(name))) : -1;
        };
        id = at(dialect.id);
        time = at(dialect.time);
        latitude = at(dialect.latitude);
        longitude = at(dialect.longitude);
        depth = at(dialect.depth);
        magnitude = at(dialect.magnitude);
        magnitudeType = at(dialect.magnitudeTypeColumn);
        stationCount = at(dialect.stationCount);
        eventType = at(dialect.eventType);
        evaluationMode = at(dialect.evaluationMode);
        evaluationStatus = at(dialect.evaluationStatus);
    }

    int id, time, latitude, longitude, depth, magnitude, magnitudeType, stationCount, eventType,
        evaluationMode, evaluationStatus;
};

QStringView field(const QStringList &fields, int column)
{
    return column >= 0 && column < fields.size() ? QStringView(fields.at(column)).trimmed()
                                                 : QStringView();
}

} // namespace

QStringList splitLine(QStringView line)
{
    QStringList fields;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < line.size() && line[i + 1] == u'"') {
                    current += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                current += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    fields.append(current);
    return fields;
}

bool recognises(const QString &firstLine)
{
    return dialectOf(splitLine(firstLine)) != nullptr;
}

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    ReadOutcome outcome;
    TextLines lines(in);
    QString line;
    const QStringList header = lines.next(line) ? splitLine(line) : QStringList();
    const Dialect *dialect = dialectOf(header);
    if (!dialect && lines.tooLong()) {
        outcome.fail(1, TextLines::tooLongReason());
        return outcome;
    }
    if (!dialect) {
        outcome.fail(1, QStringLiteral("no known header: expected the columns of GeoNet's quake "
                                       "search, MLNZ20 or moment-tensor CSV"));
        return outcome;
    }
    outcome.format = QLatin1String(dialect->format);
    const Columns columns(*dialect, header);

    EventRow row;
    while (lines.next(line)) {
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = splitLine(line);
        // A last row short of fields is a file cut inside that row: its last
        // value may be cut too ("5." of "5.3"), so the file is not whole.
        if (fields.size() < header.size() && lines.atEnd()) {
            outcome.fail(lines.number(), QStringLiteral("the last row has %1 of the header's %2 fields: the file "
                                                        "seems cut short").arg(fields.size()).arg(header.size()));
            return outcome;
        }
        row = EventRow();
        row.publicId = field(fields, columns.id).toString();
        if (row.publicId.isEmpty()) {
            outcome.skip(lines.number(), QStringLiteral("without a usable id"));
            continue;
        }
        if (row.publicId == QLatin1String(dialect->pendingId)) {
            outcome.skip(lines.number(), QStringLiteral("of events that have no id yet (%1)").arg(row.publicId),
                         row.publicId);
            continue;
        }
        const QStringView timeText = field(fields, columns.time);
        const auto time = dialect->compactTime ? UtcTime::fromCompact(timeText)
                                               : UtcTime::fromIso(timeText);
        if (!time) {
            outcome.skip(lines.number(), QStringLiteral("without a usable time"), timeText);
            continue;
        }
        row.originTimeUs = *time;
        if (!FieldParsing::setCoordinates(row, field(fields, columns.latitude),
                                          field(fields, columns.longitude))) {
            outcome.skip(lines.number(), QStringLiteral("with impossible coordinates"),
                         QStringLiteral("%1, %2").arg(field(fields, columns.latitude), field(fields, columns.longitude)));
            continue;
        }
        row.depthKm = FieldParsing::number(field(fields, columns.depth));
        row.magnitude = FieldParsing::number(field(fields, columns.magnitude));
        if (row.magnitude && dialect->noMagnitude != 0 && *row.magnitude == dialect->noMagnitude)
            row.magnitude.reset();
        if (row.magnitude) {
            row.magnitudeType = columns.magnitudeType >= 0
                ? field(fields, columns.magnitudeType).toString()
                : QString::fromLatin1(dialect->magnitudeType);
            row.magnitudeStationCount = FieldParsing::integer(field(fields, columns.stationCount));
        }
        row.eventType = field(fields, columns.eventType).toString();
        row.evaluationMode = field(fields, columns.evaluationMode).toString();
        row.evaluationStatus = field(fields, columns.evaluationStatus).toString();
        sink(row);
        ++outcome.rows;
    }
    if (lines.tooLong())
        outcome.fail(lines.number(), TextLines::tooLongReason());
    return outcome;
}

} // namespace CsvCatalogueReader
