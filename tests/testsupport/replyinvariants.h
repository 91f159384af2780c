#pragma once

// What any reply, however broken, must leave behind: an error with a
// position, and records of one of the shapes that the parser makes; and
// the same from its bytes as from its text. The fuzz target checks it on
// every input, the test suite on every input that the fuzzer once found
// troublesome.

#include "quakeml/quakemlreader.h"

// The first rule that the outcome breaks, or nullptr.
inline const char *brokenReplyInvariant(const QuakeMLError &error, const QuakeEventStore &store)
{
    if (error.isError() && (error.line < 1 || error.column < 0))
        return "an error without a position";
    for (const auto &[id, fields] : store) {
        // Nothing, the two magnitude fields, the seven origin fields or all nine.
        const std::size_t n = fields.size();
        if (n != 0 && n != 2 && n != 7 && n != 9)
            return "a field map of a size that no event shape gives";
        // An identifier is made from the origin, and only from it.
        if (id.empty() != (n < 7))
            return "an identifier without origin fields, or origin fields without one";
        if (!id.empty() && id.front() != '[')
            return "an identifier that does not start with '['";
    }
    return nullptr;
}

// How reading the reply's bytes, as the window reads a reply, differs from
// reading its text (which gave error and store), or nullptr.
inline const char *readFromBytesDiffers(const QByteArray &body, const QuakeMLError &error,
                                        const QuakeEventStore &store)
{
    QuakeEventStore fromBytes;
    const QuakeMLError bytesError = QuakeMLReader::readReply(
        body, [&](QXmlStreamReader &reader) { QuakeMLReader::readEventParameters(reader, fromBytes); });
    if (fromBytes != store)
        return "other events from the bytes";
    if (bytesError.text != error.text)
        return "another error from the bytes";
    if (bytesError.line != error.line || bytesError.column != error.column)
        return "the error at another place from the bytes";
    return nullptr;
}
