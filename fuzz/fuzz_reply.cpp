// libFuzzer target for everything Harvix does with a reply's bytes: the
// decoding to text, the document walk, every event through the parser and
// the records into the store; and the reading straight from the bytes,
// which must give the same store and the same error.

#include "quakeml/quakemlreader.h"
#include "testsupport/replyinvariants.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                    qsizetype(size));
    QuakeEventStore store;
    const QuakeMLError error = QuakeMLReader::readDocument(QuakeMLReader::decodeReply(body), store);
    if (brokenReplyInvariant(error, store) || readFromBytesDiffers(body, error, store))
        __builtin_trap();
    return 0;
}
