#include "app/eventexport.h"

#include "quakeml/quakeml12.h"
#include "quakeml/text.h"

#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

namespace EventExport {

namespace {

// One event's values, as texts.
struct Values
{
    std::string id, time, latitude, longitude, depth, magnitude, magnitudeType, stations, mode, status, type;
};

Values valuesOf(const RawEvent &raw)
{
    Values v;
    const auto text = [&raw](RawEvent::Field field) { return std::string(raw[field]); };
    // A reference id is the last segment of the origin's resource id, which
    // a service percent-encodes when the id itself holds a '/' or a '%', or
    // characters beyond ASCII; the export writes the id as the service has it.
    v.id = QByteArray::fromPercentEncoding(QByteArray::fromStdString(text(RawEvent::ReferenceId))).toStdString();
    v.time = text(RawEvent::Time);
    // A time without a zone is UTC, and says so.
    if (!v.time.empty() && v.time.back() != 'Z' && v.time.find('+', 10) == std::string::npos
        && v.time.find('-', 10) == std::string::npos)
        v.time += 'Z';
    v.latitude = text(RawEvent::Latitude);
    v.longitude = text(RawEvent::Longitude);
    v.depth = text(RawEvent::Depth);
    v.magnitude = text(RawEvent::Magnitude);
    v.magnitudeType = text(RawEvent::MagnitudeType);
    v.stations = text(RawEvent::Stations);
    v.mode = text(RawEvent::Mode);
    v.status = text(RawEvent::Status);
    v.type = text(RawEvent::EventType);
    return v;
}

// A JSON number as the reply wrote it, or nothing for a text that is not one.
bool isJsonNumber(const std::string &text)
{
    static const QRegularExpression number(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?$"));
    return !text.empty() && number.match(QString::fromStdString(text)).hasMatch();
}

// A decimal text for JSON: the reply's digits where they are JSON already
// ("+5", "05." are not), else the shortest text of its value.
std::string jsonNumber(const std::string &text)
{
    if (isJsonNumber(text))
        return text;
    bool ok = false;
    const double value = QString::fromStdString(text).trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? QString::number(value, 'g', 17).toStdString() : std::string();
}

// A longitude within -180..180: the reply's digits when it is.
std::string wrappedLongitude(const std::string &text)
{
    const std::string number = jsonNumber(text);
    if (number.empty())
        return number;
    const double value = std::stod(number);
    if (value >= -180 && value <= 180)
        return number;
    double wrapped = std::fmod(value + 180.0, 360.0);
    if (wrapped < 0)
        wrapped += 360.0;
    return QString::number(wrapped - 180.0, 'g', 15).toStdString();
}

// Kilometres to metres without rounding: the decimal point moves three places.
std::string metresOf(const std::string &kmText)
{
    const std::string km = jsonNumber(kmText);
    if (km.empty())
        return km;
    const std::size_t exponent = km.find_first_of("eE");
    if (exponent != std::string::npos)
        return km.substr(0, exponent) + "e" + std::to_string(std::stoi(km.substr(exponent + 1)) + 3);
    std::string sign, digits = km;
    if (digits[0] == '-') {
        sign = "-";
        digits.erase(0, 1);
    }
    std::size_t point = digits.find('.');
    std::string whole = digits.substr(0, point), fraction = point == std::string::npos ? "" : digits.substr(point + 1);
    fraction.resize(std::max<std::size_t>(fraction.size(), 3), '0');
    whole += fraction.substr(0, 3);
    fraction.erase(0, 3);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    return sign + whole + (fraction.empty() ? "" : "." + fraction);
}

void appendCsvField(std::string &out, const std::string &text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(std::string &out, const std::string &text)
{
    out += '"';
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

bool isInteger(const std::string &text)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    return !text.empty() && integer.match(QString::fromStdString(text)).hasMatch();
}

// An id in a QuakeML resource identifier.
std::string resourceId(const std::string &id)
{
    return id.empty() ? std::string("unnamed") : QuakeML12::escapedId(id);
}

void appendCsv(std::string &out, const Values &v)
{
    for (const std::string *value : { &v.id, &v.time, &v.latitude, &v.longitude, &v.depth, &v.magnitude,
                                      &v.magnitudeType, &v.stations, &v.mode, &v.status }) {
        appendCsvField(out, *value);
        out += ',';
    }
    appendCsvField(out, v.type);
    out += '\n';
}

void appendGeoJson(std::string &out, const Values &v, bool first)
{
    out += first ? "\n" : ",\n";
    out += "{\"type\":\"Feature\",\"id\":";
    appendJsonString(out, v.id);
    const std::string longitude = wrappedLongitude(v.longitude), latitude = jsonNumber(v.latitude);
    const std::string depth = jsonNumber(v.depth), magnitude = jsonNumber(v.magnitude);
    if (longitude.empty() || latitude.empty()) {
        out += ",\"geometry\":null";
    } else {
        out += ",\"geometry\":{\"type\":\"Point\",\"coordinates\":[" + longitude + ',' + latitude;
        if (!depth.empty())
            out += ',' + depth;
        out += "]}";
    }
    out += ",\"properties\":{\"publicid\":";
    appendJsonString(out, v.id);
    out += ",\"origintime\":";
    appendJsonString(out, v.time);
    out += ",\"depth\":" + (depth.empty() ? std::string("null") : depth);
    out += ",\"magnitude\":" + (magnitude.empty() ? std::string("null") : magnitude);
    out += ",\"magnitudetype\":";
    appendJsonString(out, v.magnitudeType);
    out += ",\"magnitudestationcount\":" + (isInteger(v.stations) ? std::to_string(std::stoll(v.stations)) : std::string("null"));
    out += ",\"evaluationmode\":";
    appendJsonString(out, v.mode);
    out += ",\"evaluationstatus\":";
    appendJsonString(out, v.status);
    out += ",\"eventtype\":";
    appendJsonString(out, v.type);
    out += "}}";
}

void appendQuakeML(std::string &out, const Values &v)
{
    QuakeML12::Event event;
    event.id = "smi:org.harvix/event/" + resourceId(v.id);
    event.time = v.time;
    event.latitude = jsonNumber(v.latitude);
    event.longitude = jsonNumber(v.longitude);
    event.depthMetres = metresOf(v.depth);
    event.mode = QString::fromStdString(v.mode);
    event.status = QString::fromStdString(v.status);
    event.magnitude = jsonNumber(v.magnitude);
    event.magnitudeType = QString::fromStdString(v.magnitudeType);
    if (isInteger(v.stations) && std::stoll(v.stations) >= 0)
        event.stationCount = std::to_string(std::stoll(v.stations));
    event.type = QString::fromStdString(v.type);
    QuakeML12::appendEvent(out, event);
}

} // namespace

std::optional<Format> formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("geojson") || suffix == QLatin1String("json"))
        return Format::GeoJson;
    if (suffix == QLatin1String("xml") || suffix == QLatin1String("qml"))
        return Format::QuakeML;
    return std::nullopt;
}

Outcome write(QIODevice &out, Format format, const std::vector<const RawEvent *> &events, const Progress &progress,
              const std::vector<Cluster> *clusters)
{
    if (clusters && clusters->size() != events.size())
        clusters = nullptr;
    std::string chunk;
    const auto flush = [&] {
        if (out.write(chunk.data(), qint64(chunk.size())) != qint64(chunk.size()))
            return false;
        chunk.clear();
        return true;
    };
    switch (format) {
    case Format::Csv:
        chunk = "publicid,origintime,latitude,longitude,depth,magnitude,magnitudetype,magnitudestationcount,"
                "evaluationmode,evaluationstatus,eventtype";
        chunk += clusters ? ",cluster,mainshock\n" : "\n";
        break;
    case Format::GeoJson:
        chunk = "{\"type\":\"FeatureCollection\",\"features\":[";
        break;
    case Format::QuakeML:
        chunk = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\""
                " xmlns=\"http://quakeml.org/xmlns/bed/1.2\"";
        if (clusters)
            chunk += " xmlns:harvix=\"" + std::string(ClusterNamespace) + '"';
        chunk += ">\n<eventParameters publicID=\"smi:org.harvix/export\">\n";
        break;
    }
    const qint64 total = qint64(events.size());
    qint64 done = 0;
    for (const RawEvent *event : events) {
        const Values values = valuesOf(*event);
        switch (format) {
        case Format::Csv: appendCsv(chunk, values); break;
        case Format::GeoJson: appendGeoJson(chunk, values, done == 0); break;
        case Format::QuakeML: appendQuakeML(chunk, values); break;
        }
        if (clusters) {
            const Cluster &cluster = (*clusters)[std::size_t(done)];
            const std::string number = cluster.number > 0 ? std::to_string(cluster.number) : std::string();
            if (format == Format::QuakeML) {
                // In a namespace of its own, which QuakeML lets an event end with.
                constexpr std::string_view end = "</event>\n";
                chunk.resize(chunk.size() - end.size());
                if (!number.empty())
                    chunk += "<harvix:cluster>" + number + "</harvix:cluster>";
                if (!cluster.mainshock.empty()) {
                    chunk += "<harvix:mainshock>";
                    Text::appendEscaped(chunk, "smi:org.harvix/event/" + resourceId(cluster.mainshock));
                    chunk += "</harvix:mainshock>";
                }
                chunk += end;
            } else if (format == Format::Csv) {
                chunk.pop_back();   // the row's end
                chunk += ',' + number + ',';
                appendCsvField(chunk, cluster.mainshock);
                chunk += '\n';
            } else {
                chunk.resize(chunk.size() - 2);   // the properties' and the feature's ends
                chunk += ",\"cluster\":" + (number.empty() ? std::string("null") : number) + ",\"mainshock\":";
                cluster.mainshock.empty() ? void(chunk += "null") : appendJsonString(chunk, cluster.mainshock);
                chunk += "}}";
            }
        }
        ++done;
        if (chunk.size() > 256 * 1024 && !flush())
            return Outcome::failed(out.errorString());
        if (progress && done % 2000 == 0 && !progress(done, total))
            return Outcome::cancelled();
    }
    chunk += format == Format::GeoJson ? "\n]}\n" : format == Format::QuakeML ? "</eventParameters>\n</q:quakeml>\n" : "";
    if (!flush())
        return Outcome::failed(out.errorString());
    if (progress)
        progress(total, total);
    return Outcome::done();
}

Outcome writeFile(const QString &path, Format format, const std::vector<const RawEvent *> &events,
                  const Progress &progress, const std::vector<Cluster> *clusters)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::failed(file.errorString());
    if (const Outcome written = write(file, format, events, progress, clusters); written.kind != Outcome::Done) {
        file.cancelWriting();
        return written;
    }
    if (!file.commit())
        return Outcome::failed(file.errorString());
    return Outcome::done();
}

} // namespace EventExport
