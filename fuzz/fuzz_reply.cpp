// libFuzzer target for everything Harvix does with a reply's bytes: the
// decoding to text, the document walk, every event through the parser and
// the records into the store.

#include "quakeml/quakemlreader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                    qsizetype(size));
    QuakeEventStore store;
    const QuakeMLError error = QuakeMLReader::readDocument(QuakeMLReader::decodeReply(body), store);
    if (error.isError() && (error.line < 0 || error.column < 0))
        __builtin_trap();
    for (const auto &[id, fields] : store) {
        // A field map holds nothing, the two magnitude fields, the seven
        // origin fields or all nine.
        const std::size_t n = fields.size();
        if (n != 0 && n != 2 && n != 7 && n != 9)
            __builtin_trap();
        if (!id.empty() && id.front() != '[')
            __builtin_trap();
    }
    return 0;
}
