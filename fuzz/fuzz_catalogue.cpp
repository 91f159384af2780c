// libFuzzer targets for the gateway's readers of catalogue files and
// upstream replies. One source, built once per reader with FUZZ_READER
// naming it: csv, fdsntext, quakeml12, or cataloguefile (the detection that
// imports and upstream replies go through).

#include "catalogueinvariants.h"
#include "formats/cataloguefile.h"
#include "formats/csvcataloguereader.h"
#include "formats/fdsntextreader.h"
#include "formats/quakeml12reader.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    qint64 rows = 0;
    const RowSink sink = [&rows](const EventRow &row) {
        CatalogueInvariants::check(row);
        ++rows;
    };
#if FUZZ_READER == 1
    const ReadOutcome outcome = CsvCatalogueReader::read(buffer, sink);
#elif FUZZ_READER == 2
    const ReadOutcome outcome = FdsnTextReader::read(buffer, sink);
#elif FUZZ_READER == 3
    const ReadOutcome outcome = QuakeML12Reader::read(buffer, sink);
#else
    const ReadOutcome outcome = CatalogueFile::read(buffer, sink);
#endif
    CatalogueInvariants::check(outcome, rows);
    return 0;
}
