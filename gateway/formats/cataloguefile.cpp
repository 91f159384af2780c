#include "formats/cataloguefile.h"

#include "formats/csvcataloguereader.h"
#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

#include <QIODevice>

namespace CatalogueFile {

ReadOutcome read(QIODevice &in, const RowSink &sink)
{
    const QByteArray start = in.peek(4096);
    if (QuakeML12Reader::recognises(start))
        return QuakeML12Reader::read(in, sink);

    QByteArray firstLine = start.left(start.indexOf('\n'));
    if (firstLine.startsWith("\xEF\xBB\xBF"))
        firstLine.remove(0, 3);
    const QString header = QString::fromUtf8(firstLine).trimmed();
    if (FdsnTextReader::recognises(header))
        return FdsnTextReader::read(in, sink);
    if (CsvCatalogueReader::recognises(header))
        return CsvCatalogueReader::read(in, sink);

    ReadOutcome outcome;
    outcome.fail(1, QStringLiteral("not a catalogue: no QuakeML, no FDSN text header and no known CSV header"));
    return outcome;
}

} // namespace CatalogueFile
