#include "formats/quakeml10writer.h"

#include "quakeml/text.h"

namespace QuakeML10Writer {

namespace {

using Text::appendEscaped;
using Text::appendNumber;
using Text::appendTime;

using Text::appendTextElement;
using Text::appendValueElement;

// An id as the last segment of a resource id: percent-encoded, so that a
// reader that takes the segment after the last '/' (Harvix) gets all of it,
// in ASCII, and an event page's address made of it finds the event again.
void appendIdSegment(std::string &out, const QString &id)
{
    out += id.toUtf8().toPercentEncoding().toStdString();
}

} // namespace

std::string documentStart(const QString &comment)
{
    std::string start = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (!comment.isEmpty()) {
        // A comment may not hold "--".
        QString text = comment;
        while (text.contains(QLatin1String("--")))
            text.replace(QLatin1String("--"), QLatin1String("- -"));
        start += "<!-- ";
        appendEscaped(start, text);
        start += " -->\n";
    }
    return start
        + "<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\">"
           "<eventParameters publicID=\"smi:nz.org.geonet/harvix-gateway/search\">\n";
}

void appendEvent(std::string &out, const EventRow &row)
{
    out += "<event publicID=\"smi:nz.org.geonet/";
    appendIdSegment(out, row.publicId);
    out += "\">";
    appendTextElement(out, "type", row.eventType);

    out += "<origin publicID=\"smi:nz.org.geonet/origin/";
    appendIdSegment(out, row.publicId);
    out += "g/1\"><time><value>";
    appendTime(out, row.originTimeUs);
    out += "</value></time>";
    appendValueElement(out, "latitude", row.latitude);
    appendValueElement(out, "longitude", row.longitude);
    appendValueElement(out, "depth", row.depthKm);
    appendTextElement(out, "evaluationMode", row.evaluationMode);
    appendTextElement(out, "evaluationStatus", row.evaluationStatus);
    out += "</origin>";

    if (row.magnitude) {
        out += "<magnitude>";
        appendValueElement(out, "mag", row.magnitude);
        appendTextElement(out, "type", row.magnitudeType);
        if (row.magnitudeStationCount) {
            out += "<stationCount>";
            appendNumber(out, *row.magnitudeStationCount);
            out += "</stationCount>";
        }
        out += "</magnitude>";
    }
    out += "</event>\n";
}

std::string documentEnd()
{
    return "</eventParameters></quakeml>\n";
}

} // namespace QuakeML10Writer
