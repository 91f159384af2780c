#include "formats/fdsntextreader.h"

#include "formats/fieldparsing.h"
#include "formats/textlines.h"
#include "quakeml/utctime.h"

#include <QList>

#include <algorithm>

namespace FdsnTextReader {

namespace {

QList<QStringView> splitFields(QStringView line)
{
    QList<QStringView> fields;
    for (QStringView field : line.split(u'|'))
        fields.append(field.trimmed());
    return fields;
}

QList<QStringView> headerNames(QStringView line)
{
    if (!line.startsWith(u'#'))
        return {};
    return splitFields(line.mid(1));
}

int columnOf(const QList<QStringView> &names, QLatin1String name)
{
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QStringView field(const QList<QStringView> &fields, int column)
{
    return column >= 0 && column < fields.size() ? fields.at(column) : QStringView();
}

} // namespace

bool recognises(const QString &firstLine)
{
    const QList<QStringView> names = headerNames(firstLine);
    return columnOf(names, QLatin1String("EventID")) >= 0 && columnOf(names, QLatin1String("Time")) >= 0;
}

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    ReadOutcome outcome;
    outcome.format = QStringLiteral("FDSN event text");
    TextLines lines(in);
    // Comment lines may come before the header, which is the first line
    // starting with '#' that names the columns.
    QString headerLine;
    QList<QStringView> names;
    while (names.isEmpty() && lines.next(headerLine) && headerLine.startsWith(u'#')) {
        if (recognises(headerLine))
            names = headerNames(headerLine);
    }
    const int id = columnOf(names, QLatin1String("EventID"));
    const int time = columnOf(names, QLatin1String("Time"));
    if (lines.tooLong()) {
        outcome.fail(lines.number(), TextLines::tooLongReason());
        return outcome;
    }
    if (id < 0 || time < 0) {
        outcome.fail(std::max<qint64>(lines.number(), 1),
                     QStringLiteral("no FDSN text header: expected \"#EventID|Time|...\""));
        return outcome;
    }
    const int latitude = columnOf(names, QLatin1String("Latitude"));
    const int longitude = columnOf(names, QLatin1String("Longitude"));
    const int depth = columnOf(names, QLatin1String("Depth/km"));
    const int magnitudeType = columnOf(names, QLatin1String("MagType"));
    const int magnitude = columnOf(names, QLatin1String("Magnitude"));
    const int eventType = columnOf(names, QLatin1String("EventType"));
    // The columns that a row must reach to be whole.
    const int needed = std::max({ id, time, latitude, longitude, depth, magnitudeType, magnitude }) + 1;

    QString line;
    EventRow row;
    while (lines.next(line)) {
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const QList<QStringView> fields = splitFields(line);
        if (fields.size() < needed && lines.atEnd()) {
            outcome.fail(lines.number(), QStringLiteral("the last line has %1 of the header's %2 fields: the file "
                                                        "seems cut short").arg(fields.size()).arg(names.size()));
            return outcome;
        }
        row = EventRow();
        row.publicId = field(fields, id).toString();
        if (row.publicId.isEmpty()) {
            outcome.skip(lines.number(), QStringLiteral("without a usable id"));
            continue;
        }
        const auto originTime = UtcTime::fromIso(field(fields, time));
        if (!originTime) {
            outcome.skip(lines.number(), QStringLiteral("without a usable time"), field(fields, time));
            continue;
        }
        row.originTimeUs = *originTime;
        if (!FieldParsing::setCoordinates(row, field(fields, latitude), field(fields, longitude))) {
            outcome.skip(lines.number(), QStringLiteral("with impossible coordinates"),
                         QStringLiteral("%1, %2").arg(field(fields, latitude), field(fields, longitude)));
            continue;
        }
        row.depthKm = FieldParsing::number(field(fields, depth));
        row.magnitude = FieldParsing::number(field(fields, magnitude));
        if (row.magnitude)
            row.magnitudeType = field(fields, magnitudeType).toString();
        row.eventType = field(fields, eventType).toString();
        sink(row);
        ++outcome.rows;
    }
    if (lines.tooLong())
        outcome.fail(lines.number(), TextLines::tooLongReason());
    return outcome;
}

} // namespace FdsnTextReader
