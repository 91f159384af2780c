#pragma once

// What the commands of harvix-gateway share: their options, messages on
// standard error, and opening the catalogue and the upstream they name.
// Each command lives in a file of its own.

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

class Catalogue;
class Upstream;

namespace CommandLine {

// The exit status of a wrong command line.
constexpr int UsageError = 2;

struct Options
{
    QStringList files;
    QMap<QString, QString> values;   // option to its value
    QStringList flags;               // options without a value that were given

    QString value(const char *option, const QString &fallback = QString()) const
    {
        return values.value(QLatin1String(option), fallback);
    }
};

// "harvix-gateway: text" on standard error.
void say(const QString &text);
// Says what is wrong with the command line and gives UsageError.
int usageError(const QString &text);

// Reads the options that a command takes.
bool parseOptions(const QStringList &args, const QStringList &known, const QStringList &knownFlags,
                  bool takesFiles, Options &options, QString *error);
// A whole number of at least minimum (and at most maximum) for an option.
bool positiveOption(const Options &options, const char *option, int fallback, int minimum, int &value,
                    QString *error, int maximum = std::numeric_limits<int>::max());
bool splitAddress(const QString &address, QString &host, int &port);
// A date (YYYY-MM-DD, the day's start) or an ISO 8601 time, UTC.
std::optional<std::int64_t> timeOption(const QString &text);

// The catalogue that the options name (a file, or a PostgreSQL database
// by its postgresql:// URI), or the default file.
QString cataloguePath(const Options &options);
// Opens it, making the default one from GeoNet's files when it does not
// exist yet; null, having said why, when it cannot. A command that writes
// to it says what it would do, and a read-only catalogue is refused with that.
std::unique_ptr<Catalogue> openCatalogue(const Options &options, const char *writing = nullptr);
// The same for a catalogue named (the default one is made when missing),
// read, when a database, from a standby of it.
std::unique_ptr<Catalogue> openCatalogueNamed(const QString &name, bool isDefault, const char *writing = nullptr,
                                              const QString &readUri = QString());
// The upstream of --upstream, with --upstream-timeout and --upstream-format.
bool upstreamOf(const Options &options, std::unique_ptr<Upstream> &upstream, QString *error);

int import(const Options &options);
int sync(const Options &options);
int serve(const Options &options);
int copy(const Options &options);

} // namespace CommandLine
