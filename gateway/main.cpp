// harvix-gateway: a quake search service for Harvix, answering from a local
// catalogue of GeoNet's events. The commands are in commands/.

#include "commands/commandline.h"

#include <QCoreApplication>
#include <QMap>
#include <QStringList>

#include <csignal>
#include <cstdio>

using namespace CommandLine;

namespace {

const char *const usage =
    "usage: harvix-gateway serve [--catalogue FILE [--catalogue-read URI]] [--listen ADDRESS:PORT]\n"
    "                            [--write-timeout SECONDS]\n"
    "                            [--workers N] [--max-events N]\n"
    "                            [--upstream URL [--follow SECONDS]]\n"
    "                            [--refresh-after MINUTES] [--upstream-timeout SECONDS]\n"
    "                            [--upstream-format text|xml]\n"
    "       harvix-gateway import [--catalogue FILE] [--replace] FILE...\n"
    "       harvix-gateway sync [--catalogue FILE] --upstream URL --from DATE [--to DATE]\n"
    "                           [--min-magnitude M] [--updated-after TIME | --refetch]\n"
    "                           [--upstream-timeout SECONDS] [--upstream-format text|xml]\n"
    "       harvix-gateway copy FROM TO\n"
    "       harvix-gateway --help | --version\n"
    "\n"
    "serve    answers Harvix's searches and event pages from the catalogue until\n"
    "         SIGINT or SIGTERM; by default on 127.0.0.1:8470 (loopback only).\n"
    "         With an upstream, each search first copies its window from there.\n"
    "import   reads catalogue files into the catalogue, one transaction a file:\n"
    "         GeoNet's quake search CSV, MLNZ20 and moment-tensor CSVs, FDSN event\n"
    "         text and QuakeML 1.2, told apart by their content, also gzip-compressed\n"
    "sync     copies a long range from an upstream, a week at a time; a second\n"
    "         run goes on where an interrupted one stopped\n"
    "copy     copies a whole catalogue into an empty one, between SQLite files and\n"
    "         PostgreSQL databases either way, with its fetched windows and claims.\n"
    "\n"
    "--catalogue FILE   the catalogue to use; created empty when it does not exist.\n"
    "                   A postgresql://USER@HOST:PORT/DATABASE URI names a\n"
    "                   PostgreSQL database with PostGIS (password from ~/.pgpass\n"
    "                   or PGPASSWORD).\n"
    "--catalogue-read URI   serve reads from this hot standby of the --catalogue\n"
    "                   database; writes still go to --catalogue\n"
    "                   Without it: $XDG_DATA_HOME/harvix/catalogue.sqlite, made\n"
    "                   from GeoNet's catalogue files on first use.\n"
    "--listen ADDRESS:PORT   where to serve, for example 127.0.0.1:8470 or [::1]:8470\n"
    "--write-timeout SECONDS   a client that takes no data for this long is dropped (30)\n"
    "--workers N        threads that answer requests, each for many connections\n"
    "                   (1 to 256; 8)\n"
    "--max-events N     the most events that one FDSN query gives; more is answered\n"
    "                   with 413 (no limit)\n"
    "--upstream URL     GeoNet's quake search (https://quakesearch.geonet.org.nz/) or\n"
    "                   an FDSN event service, a URL ending in fdsnws/event/1/\n"
    "--refresh-after MINUTES   windows fetched this recently are not fetched again (5)\n"    "--follow SECONDS   copy the last 7 days from the upstream every SECONDS (10 to\n"
    "                   86400) in the background, so that they are current\n"
    "--upstream-timeout SECONDS   a request to the upstream that makes no progress\n"
    "                   for this long fails; a search starts no new piece of its\n"
    "                   window after this long, and answers from the catalogue (20)\n"
    "--upstream-format text|xml   what to ask an FDSN service for (text)\n"
    "--from, --to DATE  the range of a sync, YYYY-MM-DD or an ISO 8601 time, UTC;\n"
    "                   --to defaults to now\n"
    "--min-magnitude M  copy only events of this magnitude or more\n"
    "--updated-after TIME   ask every week, done before or not, for what the\n"
    "                   upstream changed after TIME, and apply it\n"
    "--refetch          fetch weeks done before again, whole, and remove the events\n"
    "                   that the upstream no longer holds\n"
    "--replace          first remove what earlier imports of a file of the same name\n"
    "                   stored, so that a file read again leaves no stale events\n";
} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit makes a write fail, which the catalogue reports,
    // rather than end the process half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("harvix-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HARVIX_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("a command is needed"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        std::printf("harvix-gateway %s\n", HARVIX_VERSION);
        return 0;
    }
    const QStringList upstreamOptions = { "--upstream", "--upstream-timeout", "--upstream-format" };
    const QMap<QString, QStringList> commandFlags = {
        { "import", { "--replace" } },
        { "sync", { "--refetch" } },
    };
    const QMap<QString, QStringList> commandOptions = {
        { "serve", QStringList { "--catalogue", "--catalogue-read", "--follow", "--listen", "--max-events", "--refresh-after", "--write-timeout", "--workers" } + upstreamOptions },
        { "import", { "--catalogue" } },
        { "sync", QStringList { "--catalogue", "--from", "--to", "--min-magnitude", "--updated-after" } + upstreamOptions },
        { "copy", {} },
    };
    if (!commandOptions.contains(command))
        return usageError(command.startsWith(u'-') ? QStringLiteral("unknown option '%1'").arg(command)
                                                   : QStringLiteral("unknown command '%1'").arg(command));
    Options options;
    QString error;
    if (!parseOptions(args, commandOptions.value(command), commandFlags.value(command),
                      command == QLatin1String("import") || command == QLatin1String("copy"), options, &error))
        return usageError(error);
    if (command == QLatin1String("serve"))
        return serve(options);
    if (command == QLatin1String("copy"))
        return copy(options);
    return command == QLatin1String("import") ? import(options) : sync(options);
}
