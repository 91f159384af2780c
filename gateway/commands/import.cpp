// harvix-gateway import: catalogue files into the catalogue, one
// transaction a file.

#include "commands/commandline.h"

#include "catalogue/catalogue.h"
#include "import/catalogueimport.h"

#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

namespace CommandLine {

namespace {

// A bar on a terminal; nothing otherwise (the summary line follows anyway).
class ProgressBar
{
public:
    explicit ProgressBar(const QString &name) : m_name(name), m_shown(isatty(STDERR_FILENO)) {}
    ~ProgressBar()
    {
        if (m_shown && m_drawn)
            std::fprintf(stderr, "\r\033[K");
    }

    void update(qint64 done, qint64 total)
    {
        if (!m_shown || total <= 0)
            return;
        const int width = 30;
        const int filled = int(done * width / total);
        std::fprintf(stderr, "\r[%s%s] %3d%% %s", QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, '.').constData(), int(done * 100 / total),
                     qPrintable(m_name));
        m_drawn = true;
    }

private:
    QString m_name;
    bool m_shown;
    bool m_drawn = false;
};

} // namespace

int import(const Options &options)
{
    if (options.files.isEmpty())
        return usageError(QStringLiteral("import needs at least one file"));
    for (const QString &file : options.files) {
        if (!QFileInfo(file).isFile())
            return usageError(QStringLiteral("no such file: %1").arg(file));
    }
    const std::unique_ptr<Catalogue> opened = openCatalogue(options, "imported");
    if (!opened)
        return 1;
    const Catalogue &catalogue = *opened;

    int status = 0;
    for (const QString &file : options.files) {
        ImportReport report;
        {
            ProgressBar bar(QFileInfo(file).fileName());
            report = CatalogueImport::importFile(catalogue, file, [&bar](qint64 done, qint64 total) {
                bar.update(done, total);
            }, options.flags.contains(QStringLiteral("--replace")));
        }
        if (report.failed()) {
            say(report.error + QStringLiteral("; nothing of it was imported"));
            status = 1;
        } else {
            say(QStringLiteral("%1: %2 (%3)").arg(file, report.summary(), report.format));
        }
    }
    return status;
}

} // namespace CommandLine
