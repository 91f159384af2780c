#include "formats/fdsntextwriter.h"

#include "quakeml/text.h"

namespace FdsnTextWriter {

namespace {

// UTF-8, with the column separator and line breaks made blanks.
void appendField(std::string &out, const QString &text)
{
    for (char c : text.toUtf8()) {
        if (c == '|' || c == '\n' || c == '\r')
            c = ' ';
        out += c;
    }
}

void appendField(std::string &out, const std::optional<double> &value)
{
    if (value)
        Text::appendNumber(out, *value);
}

} // namespace

std::string header()
{
    return "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude"
           "|MagAuthor|EventLocationName|EventType\n";
}

void appendEvent(std::string &out, const EventRow &row, const QString &catalog, const QString &contributor,
                 const QString &place)
{
    appendField(out, row.publicId);
    out += '|';
    Text::appendExactTime(out, row.originTimeUs);
    out += '|';
    appendField(out, row.latitude);
    out += '|';
    appendField(out, row.longitude);
    out += '|';
    appendField(out, row.depthKm);
    out += "||";
    appendField(out, catalog);
    out += '|';
    appendField(out, contributor);
    out += '|';
    appendField(out, row.publicId);
    out += '|';
    appendField(out, row.magnitudeType);
    out += '|';
    appendField(out, row.magnitude);
    out += "||";
    appendField(out, place);
    out += '|';
    appendField(out, row.eventType);
    out += '\n';
}

} // namespace FdsnTextWriter
