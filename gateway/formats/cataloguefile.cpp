#include "formats/cataloguefile.h"

#include "formats/csvcataloguereader.h"
#include "formats/fdsntextreader.h"
#include "formats/gzipdevice.h"
#include "formats/quakeml12reader.h"

#include <QIODevice>

namespace CatalogueFile {

namespace {

ReadOutcome readPlain(QIODevice &in, const RowSink &sink)
{
    const QByteArray start = in.peek(4096);
    if (QuakeML12Reader::recognises(start))
        return QuakeML12Reader::read(in, sink);

    // FDSN text may have comment lines above its header.
    qsizetype from = start.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    QString firstLine;
    while (from < start.size()) {
        const qsizetype end = start.indexOf('\n', from);
        const QString line = QString::fromUtf8(start.mid(from, end < 0 ? -1 : end - from)).trimmed();
        if (from == 0 || from == 3)
            firstLine = line;
        if (FdsnTextReader::recognises(line))
            return FdsnTextReader::read(in, sink);
        if (!line.startsWith(u'#') || end < 0)
            break;
        from = end + 1;
    }
    if (CsvCatalogueReader::recognises(firstLine))
        return CsvCatalogueReader::read(in, sink);

    ReadOutcome outcome;
    outcome.fail(1, QStringLiteral("not a catalogue: no QuakeML, no FDSN text header and no known CSV header"));
    return outcome;
}

} // namespace

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    if (!GzipDevice::isGzip(in.peek(2)))
        return readPlain(in, sink);
    GzipDevice inflated(in);
    ReadOutcome outcome = readPlain(inflated, sink);
    if (inflated.failed() && !outcome.failed())
        outcome.fail(0, inflated.error());
    else if (inflated.failed())
        outcome.error = inflated.error() + QStringLiteral(", and so ") + outcome.error;
    if (!outcome.format.isEmpty())
        outcome.format += QStringLiteral(", gzip-compressed");
    return outcome;
}

} // namespace CatalogueFile
