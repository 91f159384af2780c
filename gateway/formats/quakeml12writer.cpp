#include "formats/quakeml12writer.h"

#include "formats/text.h"
#include "quakeml/quakeml12.h"


namespace QuakeML12Writer {

namespace {

using Text::appendEscaped;
using Text::appendTextElement;
using Text::appendValueElement;

constexpr std::string_view publicIdPrefix = "smi:harvix.gateway/event/";

void appendId(std::string &out, const std::string &id, const char *suffix = "")
{
    appendEscaped(out, QString::fromStdString(id));
    out += suffix;
}

} // namespace

std::string publicIdOf(const QString &id)
{
    return std::string(publicIdPrefix) + QuakeML12::escapedId(id.toUtf8().toStdString());
}

QString idOf(const std::string &text)
{
    if (std::string_view(text).substr(0, publicIdPrefix.size()) != publicIdPrefix)
        return QString::fromStdString(text);
    return QString::fromStdString(QuakeML12::unescapedId(std::string_view(text).substr(publicIdPrefix.size())));
}

std::string documentStart()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<q:quakeml xmlns=\"http://quakeml.org/xmlns/bed/1.2\" xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\">"
           "<eventParameters publicID=\"smi:harvix.gateway/fdsnws/event/1/query\">\n";
}

void appendEvent(std::string &out, const EventRow &row, const QString &place)
{
    const std::string id = publicIdOf(row.publicId);
    const bool hasOrigin = row.latitude && row.longitude;
    out += "<event publicID=\"";
    appendId(out, id);
    out += "\">";
    if (!place.isEmpty()) {
        out += "<description><text>";
        appendEscaped(out, place);
        out += "</text><type>region name</type></description>";
    }
    if (hasOrigin) {
        out += "<origin publicID=\"";
        appendId(out, id, "/origin");
        out += "\"><time><value>";
        Text::appendExactTime(out, row.originTimeUs);
        out += "</value></time>";
        appendValueElement(out, "latitude", row.latitude);
        appendValueElement(out, "longitude", row.longitude);
        if (row.depthKm)
            appendValueElement(out, "depth", std::optional<double>(*row.depthKm * 1000));
        const QString mode = row.evaluationMode.toLower();
        if (QuakeML12::isEvaluationMode(mode))
            appendTextElement(out, "evaluationMode", mode);
        const QString status = row.evaluationStatus.toLower();
        if (QuakeML12::isEvaluationStatus(status))
            appendTextElement(out, "evaluationStatus", status);
        out += "</origin>";
    }
    if (row.magnitude) {
        out += "<magnitude publicID=\"";
        appendId(out, id, "/magnitude");
        out += "\">";
        appendValueElement(out, "mag", row.magnitude);
        appendTextElement(out, "type", row.magnitudeType);
        if (hasOrigin) {
            out += "<originID>";
            appendId(out, id, "/origin");
            out += "</originID>";
        }
        if (row.magnitudeStationCount && *row.magnitudeStationCount >= 0) {
            out += "<stationCount>";
            out += std::to_string(*row.magnitudeStationCount);
            out += "</stationCount>";
        }
        out += "</magnitude>";
    }
    if (hasOrigin) {
        out += "<preferredOriginID>";
        appendId(out, id, "/origin");
        out += "</preferredOriginID>";
    }
    if (row.magnitude) {
        out += "<preferredMagnitudeID>";
        appendId(out, id, "/magnitude");
        out += "</preferredMagnitudeID>";
    }
    appendTextElement(out, "type", QuakeML12::nearestEventType(row.eventType));
    out += "</event>\n";
}

std::string documentEnd()
{
    return "</eventParameters></q:quakeml>\n";
}

} // namespace QuakeML12Writer
