#include "commands/commandline.h"

#include "catalogue/postgrescatalogue.h"
#include "catalogue/sqlitecatalogue.h"
#include "import/defaultcatalogue.h"
#include "quakeml/utctime.h"
#include "upstream/upstream.h"

#include <QFileInfo>

#include <cstdio>

namespace CommandLine {

void say(const QString &text)
{
    std::fprintf(stderr, "harvix-gateway: %s\n", qPrintable(text));
}

int usageError(const QString &text)
{
    say(text + QStringLiteral(" (see harvix-gateway --help)"));
    return UsageError;
}



bool parseOptions(const QStringList &args, const QStringList &known, const QStringList &knownFlags,
                  bool takesFiles, Options &options, QString *error)
{
    const auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        if (knownFlags.contains(arg)) {
            options.flags << arg;
            continue;
        }
        QString value;
        const qsizetype eq = arg.indexOf(u'=');
        if (arg.startsWith(QLatin1String("--")) && eq > 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
        }
        if (known.contains(arg)) {
            if (eq < 0) {
                if (i + 1 >= args.size())
                    return fail(QStringLiteral("%1 needs a value").arg(arg));
                value = args.at(++i);
            }
            options.values.insert(arg, value);
        } else if (arg == QLatin1String("--")) {
            options.files += args.mid(i + 1);
            break;
        } else if (arg.startsWith(u'-')) {
            return fail(QStringLiteral("unknown option '%1'").arg(args.at(i)));
        } else if (takesFiles) {
            options.files << arg;
        } else {
            return fail(QStringLiteral("unexpected argument '%1'").arg(arg));
        }
    }
    return true;
}

bool positiveOption(const Options &options, const char *option, int fallback, int minimum, int &value,
                    QString *error, int maximum)
{
    bool ok = true;
    value = options.values.contains(QLatin1String(option)) ? options.value(option).toInt(&ok) : fallback;
    if (ok && value >= minimum && value <= maximum)
        return true;
    *error = maximum == std::numeric_limits<int>::max()
        ? QStringLiteral("%1 takes a whole number of at least %2").arg(QLatin1String(option)).arg(minimum)
        : QStringLiteral("%1 takes a whole number of at least %2 and at most %3")
              .arg(QLatin1String(option)).arg(minimum).arg(maximum);
    return false;
}

bool splitAddress(const QString &address, QString &host, int &port)
{
    const qsizetype colon = address.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    host = address.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    port = address.mid(colon + 1).toInt(&ok);
    return ok && port >= 0 && port <= 65535 && !host.isEmpty();
}

// The catalogue that the options name, or the default one, made from
// GeoNet's files when it does not exist yet. A command that writes to it
// says what it would do, and a read-only catalogue is refused with that.
std::unique_ptr<Catalogue> openCatalogue(const Options &options, const char *writing)
{
    return openCatalogueNamed(cataloguePath(options), !options.values.contains(QStringLiteral("--catalogue")), writing,
                              options.value("--catalogue-read"));
}

std::unique_ptr<Catalogue> openCatalogueNamed(const QString &named, bool isDefault, const char *writing,
                                              const QString &readUri)
{
    QString error;
    if (PostgresCatalogue::isDatabaseUri(named)) {
        auto database = std::make_unique<PostgresCatalogue>(named, readUri);
        if (!database->open(&error)) {
            say(error);
            return nullptr;
        }
        return database;
    }
    auto catalogue = std::make_unique<SqliteCatalogue>(named);
    if (isDefault && !QFileInfo::exists(catalogue->path())) {
        say(QStringLiteral("making the catalogue %1 from GeoNet's catalogue files").arg(catalogue->path()));
        const bool made = DefaultCatalogue::create(catalogue->path(), [](const ImportReport &report) {
            say(QStringLiteral("%1: %2").arg(QFileInfo(report.file).fileName(), report.summary()));
        }, &error);
        if (!made) {
            say(error);
            return nullptr;
        }
    }
    if (!catalogue->open(&error)) {
        say(error);
        return nullptr;
    }
    if (writing && catalogue->isReadOnly()) {
        say(QStringLiteral("%1 is read-only: nothing can be %2 into it").arg(catalogue->path(), QLatin1String(writing)));
        return nullptr;
    }
    return catalogue;
}

QString cataloguePath(const Options &options)
{
    return options.value("--catalogue", DefaultCatalogue::path());
}

// The upstream of --upstream, with --upstream-timeout and --upstream-format.
bool upstreamOf(const Options &options, std::unique_ptr<Upstream> &upstream, QString *error)
{
    Upstream::Options settings;
    if (!positiveOption(options, "--upstream-timeout", 20, 1, settings.timeoutSeconds, error))
        return false;
    const QString format = options.value("--upstream-format", QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("xml")) {
        *error = QStringLiteral("--upstream-format takes text or xml, not '%1'").arg(format);
        return false;
    }
    settings.fdsnXml = format == QLatin1String("xml");
    upstream = Upstream::forUrl(options.value("--upstream"), settings, error);
    return bool(upstream);
}

std::optional<std::int64_t> timeOption(const QString &text)
{
    if (text.size() == 10) {
        const auto days = UtcTime::fromIso(text + QStringLiteral("T00:00:00Z"));
        return days;
    }
    return UtcTime::fromIso(text);
}

} // namespace CommandLine
