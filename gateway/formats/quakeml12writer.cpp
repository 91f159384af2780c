#include "formats/quakeml12writer.h"

#include "quakeml/quakeml12.h"
#include "quakeml/text.h"

namespace QuakeML12Writer {

namespace {

constexpr std::string_view publicIdPrefix = "smi:harvix.gateway/event/";

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
    const auto number = [](std::optional<double> value) {
        std::string text;
        if (value)
            Text::appendNumber(text, *value);
        return text;
    };
    QuakeML12::Event event;
    event.id = publicIdOf(row.publicId);
    event.description = place;
    if (row.latitude && row.longitude) {
        Text::appendExactTime(event.time, row.originTimeUs);
        event.latitude = number(row.latitude);
        event.longitude = number(row.longitude);
        event.depthMetres = number(row.depthKm ? std::optional<double>(*row.depthKm * 1000) : std::nullopt);
        event.mode = row.evaluationMode.toLower();
        event.status = row.evaluationStatus.toLower();
    }
    event.magnitude = number(row.magnitude);
    event.magnitudeType = row.magnitudeType;
    if (row.magnitudeStationCount && *row.magnitudeStationCount >= 0)
        event.stationCount = std::to_string(*row.magnitudeStationCount);
    event.type = QuakeML12::nearestEventType(row.eventType);
    QuakeML12::appendEvent(out, event);
}

std::string documentEnd()
{
    return "</eventParameters></q:quakeml>\n";
}

} // namespace QuakeML12Writer
