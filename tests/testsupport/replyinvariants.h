#pragma once

// What any reply, however broken, must leave behind: an error with a
// position, and records of one of the shapes that the parser makes; and
// the same from its bytes as from its text. The fuzz target checks it on
// every input, the test suite on every input that the fuzzer once found
// troublesome.

#include "quakeml/quakemlreader.h"
#include "quakeml/replybody.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

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
// reading its text (which gave error and store), or nullptr. The bytes are
// read whole, and as they arrive a few at a time from another thread.
inline const char *readFromBytesDiffers(const QByteArray &body, const QuakeMLError &error,
                                        const QuakeEventStore &store)
{
    static const char *const wholeFaults[] = { nullptr, "other events from the bytes", "another error from the bytes",
                                               "the error at another place from the bytes" };
    static const char *const arrivingFaults[] = { nullptr, "other events from the arriving bytes",
                                                  "another error from the arriving bytes",
                                                  "the error at another place from the arriving bytes" };
    const auto differs = [&](const QuakeEventStore &fromBytes, const QuakeMLError &bytesError) {
        if (fromBytes != store)
            return 1;
        if (bytesError.text != error.text)
            return 2;
        return bytesError.line != error.line || bytesError.column != error.column ? 3 : 0;
    };
    QuakeEventStore whole;
    const QuakeMLError wholeError = QuakeMLReader::readReply(
        body, [&](QXmlStreamReader &reader) { QuakeMLReader::readEventParameters(reader, whole); });
    if (const int fault = differs(whole, wholeError))
        return wholeFaults[fault];

    const std::unique_ptr<ReplyBody> arriving = ReplyBody::reserve(body.size());
    if (!arriving)
        return "no room for the bytes to arrive in";
    std::atomic<bool> read { false };
    std::thread network([&] {
        // Each piece once the reader waits for it. In the first 256 KiB a
        // piece ends at every mark of the markup, so that each mark of more
        // than one byte is cut at each of its places; then pieces of up to
        // a thousandth of the reply.
        const qsizetype most = std::max<qsizetype>(97, body.size() / 1000);
        for (qsizetype pos = 0, piece = 1; pos < body.size(); pos += piece) {
            piece = piece * 37 % most + 1;
            if (pos < 256 * 1024) {
                piece = 1;
                while (pos + piece < body.size() && !std::strchr("<!-[]?>\"'", body[pos + piece - 1]))
                    ++piece;
            }
            while (!arriving->isAwaited() && !read)
                std::this_thread::yield();
            arriving->receive(body.constData() + pos, std::min(piece, body.size() - pos));
        }
        arriving->finish();
    });
    QuakeEventStore asArrived;
    const QuakeMLError arrivedError = QuakeMLReader::readReply(
        *arriving, [&](QXmlStreamReader &reader) { QuakeMLReader::readEventParameters(reader, asArrived); });
    read = true;   // a reader stops at a flood, wanting no more
    network.join();
    return arrivingFaults[differs(asArrived, arrivedError)];
}
