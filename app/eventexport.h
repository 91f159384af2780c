#pragma once

// Writes the events of a search as they were received, nothing rounded on
// the way (the reply's own texts of every value), times in UTC with "Z":
//   CSV      one row an event, in GeoNet's quake search column names, so
//            that harvix-gateway import reads it back;
//   GeoJSON  an RFC 7946 FeatureCollection of points (longitude, latitude,
//            depth in km), the values as properties;
//   QuakeML  1.2 in the BED namespace, one origin (depth in metres) and one
//            magnitude an event, both preferred; valid against the schema.
// A file is written under a temporary name and takes its own only once
// whole, so that a cancelled or failed export leaves nothing behind.

#include "geo/outcome.h"
#include "quakeml/quakeeventrecord.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QIODevice;

namespace EventExport {

enum class Format { Csv, GeoJson, QuakeML };

// By the file's suffix: .csv, .geojson or .json, .xml or .qml.
std::optional<Format> formatOf(const QString &path);

// Called now and then with the events written and all; false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// A declustered event's cluster (from 1; 0 for none) and its mainshock's id.
// QuakeML carries them as an event's last elements, harvix:cluster and
// harvix:mainshock (its event's resource identifier), in this namespace.
constexpr const char *ClusterNamespace = "http://harvix.org/xmlns/decluster/1";
struct Cluster
{
    int number = 0;
    std::string mainshock;
};

// The events, in the order given, with the values their reply held; with
// their clusters (one an event) as the columns or properties "cluster" and
// "mainshock" of CSV and GeoJSON, or QuakeML's elements above, when given.
Outcome write(QIODevice &out, Format format, const std::vector<const RawEvent *> &events, const Progress &progress,
              const std::vector<Cluster> *clusters = nullptr);

// Writes the file whole or not at all.
Outcome writeFile(const QString &path, Format format, const std::vector<const RawEvent *> &events,
                  const Progress &progress, const std::vector<Cluster> *clusters = nullptr);

} // namespace EventExport
