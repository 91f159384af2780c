#include "quakeml/quakemlreader.h"

#include "quakeml/quakeeventparser.h"
#include "quakeml/replybody.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <thread>
#include <type_traits>

namespace {

// The same search in UTF-16 text and in Latin-1 bytes.
template <typename View>
View literal(const char16_t *text, const char *bytes);
template <>
QStringView literal<QStringView>(const char16_t *text, const char *)
{
    return QStringView(text);
}
template <>
QByteArrayView literal<QByteArrayView>(const char16_t *, const char *bytes)
{
    return QByteArrayView(bytes);
}

// Text or bytes to search that may still be arriving: `more(size)` waits
// until more than `size` characters have arrived or all have, and returns
// how many have. The text never moves as it grows.
template <typename View>
class Arriving
{
public:
    using More = std::function<qsizetype(qsizetype)>;

    explicit Arriving(View whole, More more = More())
        : m_view(whole)
        , m_more(std::move(more))
    {
    }

    View view() const { return m_view; }
    qsizetype size() const { return m_view.size(); }
    // Whether the text reaches `pos`, once it has arrived that far.
    bool has(qsizetype pos)
    {
        while (pos >= m_view.size()) {
            if (!m_more)
                return false;
            const qsizetype arrived = m_more(m_view.size());
            if (arrived <= m_view.size()) {
                m_more = More();
                return false;
            }
            m_view = View(m_view.data(), arrived);
        }
        return true;
    }
    char16_t operator[](qsizetype pos) const
    {
        if constexpr (std::is_same_v<View, QStringView>)
            return m_view[pos].unicode();
        else
            return static_cast<unsigned char>(m_view[pos]);
    }
    // The views' own searches (vectorised), over what has arrived and then
    // over what arrives, for as long as it takes.
    template <typename Needle>
    qsizetype indexOf(Needle needle, qsizetype from)
    {
        for (;;) {
            const qsizetype found = m_view.indexOf(needle, from);
            const qsizetype searched = m_view.size();
            if (found >= 0 || !has(searched))
                return found;
            from = std::max(from, searched - lengthOf(needle) + 1);
        }
    }
    bool startsWith(qsizetype pos, View prefix)
    {
        has(pos + prefix.size() - 1);
        return m_view.sliced(pos).startsWith(prefix);
    }

private:
    static qsizetype lengthOf(char) { return 1; }
    static qsizetype lengthOf(View needle) { return needle.size(); }

    View m_view;
    More m_more;
};

// The offset of the '<' of the first tag that holds more than
// QuakeMLReader::MaximumAttributes '=' signs outside its quoted values, or
// -1. Quoted values may hold '=' and '>'; comments, CDATA sections and
// processing instructions are passed over whole, and text is not a tag.
// With `cleared`, the offset up to which no flood can begin is published
// as the search goes, for a reader on another thread to follow it.
template <typename View>
qsizetype findAttributeFlood(Arriving<View> &text, std::atomic<qsizetype> *cleared = nullptr)
{
    const View comment = literal<View>(u"<!--", "<!--");
    const View cdata = literal<View>(u"<![CDATA[", "<![CDATA[");
    // Past the terminator, or to the end.
    auto skipPast = [&](qsizetype pos, const char16_t *terminator16, const char *terminator8) {
        const View terminator = literal<View>(terminator16, terminator8);
        const qsizetype found = text.indexOf(terminator, pos);
        return found < 0 ? text.size() : found + terminator.size();
    };
    qsizetype pos = 0;
    while ((pos = text.indexOf('<', pos)) >= 0) {
        if (cleared)
            cleared->store(pos, std::memory_order_release);
        const char16_t next = text.has(pos + 1) ? text[pos + 1] : u'\0';
        if (next == u'!' && text.startsWith(pos, comment)) {
            pos = skipPast(pos + 4, u"-->", "-->");
            continue;
        }
        if (next == u'!' && text.startsWith(pos, cdata)) {
            pos = skipPast(pos + 9, u"]]>", "]]>");
            continue;
        }
        if (next == u'?') {
            pos = skipPast(pos + 2, u"?>", "?>");
            continue;
        }
        const qsizetype tagStart = pos++;
        int equalSigns = 0;
        while (text.has(pos)) {
            const char16_t c = text[pos++];
            if (c > u'>')   // names and most of a tag: none of "'<=>
                continue;
            if (c == u'"' || c == u'\'') {
                const qsizetype close = text.indexOf(char(c), pos);
                pos = close < 0 ? text.size() : close + 1;
            } else if (c == u'>') {
                break;
            } else if (c == u'<') {
                --pos; // an unclosed tag; the reader stops there anyway
                break;
            } else if (c == u'=' && ++equalSigns > QuakeMLReader::MaximumAttributes) {
                return tagStart;
            }
        }
    }
    return -1;
}

template <typename View>
QuakeMLError floodError(View text, qsizetype offset)
{
    QuakeMLError error;
    error.text = QStringLiteral("An element has more than %1 attributes.")
                     .arg(QuakeMLReader::MaximumAttributes);
    const View before = text.first(offset);
    error.line = before.count('\n') + 1;
    error.column = offset - (before.lastIndexOf('\n') + 1);
    return error;
}

// Walks the whole document, handing every <eventParameters> to
// readEventParameters; the reader stops at the first break of the document.
void walk(QXmlStreamReader &reader, const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement
            && reader.name() == u"eventParameters")
            readEventParameters(reader);
    }
}

// What a walk reports. When the text was cut at a flood (floodAt), the end
// that the cut makes is reported as the flood; an earlier break of the
// document's own is reported as itself.
QuakeMLError ending(const QXmlStreamReader &reader, const QuakeMLError &floodAt)
{
    const bool endsAtCut = !reader.hasError()
        || reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    if (floodAt.isError() && endsAtCut)
        return floodAt;
    QuakeMLError error;
    if (reader.hasError()) {
        error.text = reader.errorString();
        error.line = reader.lineNumber();
        error.column = reader.columnNumber();
    }
    return error;
}

// The search for an attribute flood in a reply's bytes. A big reply, or one
// still arriving, is searched on a thread of its own, ahead of the reader,
// which is served only bytes that the search has passed: the search costs
// the reading nothing but its start.
class FloodScan
{
public:
    explicit FloodScan(const ReplyBody &body)
        : m_body(body)
    {
        if (body.isWhole() && body.wholeLength() < AheadFrom)
            run();
        else
            m_thread = std::thread([this] { run(); });
    }
    ~FloodScan()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    FloodScan(const FloodScan &) = delete;
    FloodScan &operator=(const FloodScan &) = delete;

    bool done() const { return m_done.load(std::memory_order_acquire); }
    // Waits until more than `pos` bytes are cleared or the search is done;
    // how many are cleared: all before the flood, or all there are, at the end.
    qsizetype clearedBeyond(qsizetype pos) const
    {
        auto pause = std::chrono::microseconds(50);
        for (int round = 0;; ++round) {
            const bool finished = done();
            const qsizetype cleared = m_cleared.load(std::memory_order_acquire);
            if (cleared > pos || finished)
                return cleared;
            // A moment while the search runs ahead; longer ones while it
            // waits for the network.
            if (round < 64) {
                std::this_thread::yield();
            } else {
                pause = std::min(pause * 2, std::chrono::microseconds(2000));
                std::this_thread::sleep_for(pause);
            }
        }
    }
    // Once done: the flood's offset, or -1, and what to report of it.
    qsizetype flood() const { return m_flood; }
    const QuakeMLError &error() const { return m_error; }

private:
    static constexpr qsizetype AheadFrom = qsizetype(1) << 20;

    void run()
    {
        const ReplyBody &body = m_body;
        Arriving<QByteArrayView> bytes(QByteArrayView(body.data(), body.arrivedBeyond(-1)),
                                       [&body](qsizetype size) { return body.arrivedBeyond(size); });
        m_flood = findAttributeFlood(bytes, &m_cleared);
        if (m_flood >= 0)
            m_error = floodError(bytes.view(), m_flood);
        m_cleared.store(m_flood >= 0 ? m_flood : bytes.size(), std::memory_order_release);
        m_done.store(true, std::memory_order_release);
    }

    const ReplyBody &m_body;
    std::atomic<qsizetype> m_cleared { 0 };
    std::atomic<bool> m_done { false };
    qsizetype m_flood = -1;
    QuakeMLError m_error;
    std::thread m_thread;
};

// Latin-1 bytes served to a reader as UTF-8, a few hundred at a time, so
// that the document is never held whole as text. The bytes before `blank`
// (the XML declaration) are served as spaces, line breaks kept: the reader
// takes the declaration's encoding from a device, and the bytes have one
// already.
// The source gives the memory of the bytes served back to the system as it
// goes, so that what the reply is read into can grow while the reply shrinks.
class Latin1Source : public QIODevice
{
public:
    // Serves the bytes that the scan clears.
    Latin1Source(ReplyBody &body, const FloodScan &scan, qsizetype blank)
        : m_body(body)
        , m_scan(scan)
        , m_blank(blank)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        // Something while the scan goes on: a read waits for it.
        const qint64 left = m_scan.done() ? m_scan.clearedBeyond(0) - m_pos : 1;
        return left + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *out, qint64 room) override
    {
        // The reader turns each piece into a new text. Pieces this small are
        // taken from the allocator's small blocks: bigger ones make it sort
        // every block freed since the last one, which costs the reader a
        // fifth of its time when another thread frees what it made.
        room = std::min<qint64>(room, PieceSize);
        m_end = m_scan.clearedBeyond(m_pos);
        const char *const in = m_body.data();
        qint64 written = 0;
        if (m_pos < m_blank) {
            // Line breaks stay, so that lines are counted as in the text.
            const qint64 spaces = std::min(room, std::min(m_blank, m_end) - m_pos);
            for (qint64 i = 0; i < spaces; ++i) {
                const char c = in[m_pos + i];
                out[i] = c == '\n' || c == '\r' ? c : ' ';
            }
            written = spaces;
            m_pos += spaces;
        }
        while (written < room && m_pos < m_end) {
            // ASCII, nearly all of any reply, is copied as it is, eight bytes
            // tested at a time.
            const qint64 most = std::min(room - written, m_end - m_pos);
            qint64 run = 0;
            for (std::uint64_t word; run + 8 <= most; run += 8) {
                std::memcpy(&word, in + m_pos + run, 8);
                if (word & 0x8080808080808080u)
                    break;
            }
            while (run < most && static_cast<unsigned char>(in[m_pos + run]) < 0x80)
                ++run;
            std::memcpy(out + written, in + m_pos, std::size_t(run));
            written += run;
            m_pos += run;
            if (m_pos == m_end || room - written < 2)
                break;
            const unsigned char c = static_cast<unsigned char>(in[m_pos++]);
            out[written++] = char(0xC0 | (c >> 6));
            out[written++] = char(0x80 | (c & 0x3F));
        }
        releaseServed();
        return written;
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr qint64 PieceSize = 480;
    static constexpr qint64 ReleaseStep = qint64(4) << 20;

    void releaseServed()
    {
        // The bytes served since the last release are never read again (the
        // scan, which reads from the start to report a flood's line, is done).
        if (m_pos - m_released < ReleaseStep || !m_scan.done())
            return;
        m_body.release(m_released, m_pos);
        m_released = m_pos;
    }

    ReplyBody &m_body;
    const FloodScan &m_scan;
    const qint64 m_blank;
    qint64 m_end = 0;   // what the scan had cleared at the last read
    qint64 m_pos = 0;
    qint64 m_released = 0;
};

// Whether the prolog from `from` on holds a document type declaration,
// passing over white space, comments and processing instructions as the
// reader does. Without one, standalone="yes" changes nothing.
bool prologHasDoctype(QByteArrayView bytes, qsizetype from)
{
    qsizetype pos = from;
    for (;;) {
        while (pos < bytes.size() && (bytes[pos] == ' ' || bytes[pos] == '\t' || bytes[pos] == '\r' || bytes[pos] == '\n'))
            ++pos;
        const QByteArrayView rest = bytes.sliced(pos);
        const char *terminator = rest.startsWith("<!--") ? "-->" : rest.startsWith("<?") ? "?>" : nullptr;
        if (!terminator)
            return rest.startsWith("<!DOCTYPE");
        const qsizetype end = bytes.indexOf(terminator, pos + 2);
        if (end < 0)
            return false;
        pos = end + qsizetype(std::strlen(terminator));
    }
}

// What declarationToBlank says of bytes that are only the start of the
// document, when the rest may change it.
constexpr qsizetype Undecided = -2;

// How many bytes at the start of the document a reader fed from a device
// must see as spaces: the XML declaration, which text reading checks but
// takes no encoding from. -1 where only a reader of the whole text reads
// the document as it should: a document too short for a device reader to
// begin on, a broken declaration, or standalone="yes" before a document type
// declaration (it changes how undeclared entities are read). Undecided
// when the bytes are not `whole` and the rest may tell.
qsizetype declarationToBlank(QByteArrayView bytes, bool whole)
{
    if (bytes.size() < 5 && !whole)
        return Undecided;
    if (bytes.size() < 4)
        return -1;
    if (!bytes.startsWith("<?xml"))
        return 0;
    const qsizetype end = bytes.indexOf("?>");
    if (end < 0)
        return whole ? -1 : Undecided;
    // The declaration must be whole and sound, followed by anything at all.
    const QByteArrayView declaration = bytes.first(end + 2);
    QXmlStreamReader probe(QString::fromLatin1(declaration.data(), declaration.size()) + QLatin1String("<a/>"));
    if (probe.readNext() != QXmlStreamReader::StartDocument)
        return -1;
    if (probe.isStandaloneDocument() && !whole)
        return Undecided;
    if (probe.isStandaloneDocument() && prologHasDoctype(bytes, declaration.size()))
        return -1;
    while (!probe.atEnd())
        probe.readNext();
    if (probe.hasError())
        return -1;
    return declaration.size();
}

// declarationToBlank of a body, once enough of it has arrived to tell.
qsizetype declarationToBlank(const ReplyBody &body)
{
    // A declaration is a few dozen bytes; past this, the whole is awaited.
    constexpr qsizetype EnoughToTell = 64 * 1024;
    for (qsizetype arrived = body.arrivedBeyond(-1);; arrived = body.arrivedBeyond(arrived)) {
        const bool whole = body.isWhole() || arrived >= EnoughToTell;
        const qsizetype blank = declarationToBlank(QByteArrayView(body.data(), whole ? body.wholeLength() : arrived), whole);
        if (blank != Undecided)
            return blank;
    }
}

qsizetype textLength(const QByteArray &body)
{
    const void *zero = std::memchr(body.constData(), 0, std::size_t(body.size()));
    return zero ? static_cast<const char *>(zero) - body.constData() : body.size();
}

} // namespace

QString QuakeMLReader::decodeReply(const QByteArray &body)
{
    return QString::fromLatin1(body.constData(), textLength(body));
}

QuakeMLError QuakeMLReader::readDocument(QString text, QuakeEventStore &store)
{
    return readDocument(std::move(text),
                        [&store](QXmlStreamReader &reader) { readEventParameters(reader, store); });
}

QuakeMLError QuakeMLReader::readDocument(QString text,
                                         const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    Arriving<QStringView> whole { QStringView(text) };
    const qsizetype flood = findAttributeFlood(whole);
    QuakeMLError floodAt;
    if (flood >= 0) {
        floodAt = floodError(QStringView(text), flood);
        text.truncate(flood);
    }
    QXmlStreamReader reader(text);
    text = QString();
    walk(reader, readEventParameters);
    return ending(reader, floodAt);
}

QuakeMLError QuakeMLReader::readReply(QByteArray body,
                                      const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    ReplyBody whole(std::move(body));
    return readReply(whole, readEventParameters);
}

QuakeMLError QuakeMLReader::readReply(ReplyBody &body,
                                      const std::function<void(QXmlStreamReader &)> &readEventParameters)
{
    const qsizetype blank = declarationToBlank(body);
    if (blank < 0) {
        QString text = QString::fromLatin1(body.data(), body.wholeLength());
        body.drop();
        return readDocument(std::move(text), readEventParameters);
    }
    FloodScan scan(body);
    if (scan.clearedBeyond(3) < 4) {
        // Too little before a flood, or at all, for a device reader to begin on.
        QXmlStreamReader reader(QString::fromLatin1(body.data(), scan.clearedBeyond(3)));
        walk(reader, readEventParameters);
        return ending(reader, scan.error());
    }
    QuakeMLError error;
    {
        Latin1Source source(body, scan, blank);
        QXmlStreamReader reader(&source);
        walk(reader, readEventParameters);
        scan.clearedBeyond(std::numeric_limits<qsizetype>::max() - 1);   // until the scan is done
        error = ending(reader, scan.error());
    }
    // A reader that stopped early leaves the rest arriving.
    if (body.isWhole())
        body.drop();
    return error;
}

namespace {

// Hands each <event> child of the <eventParameters> that the reader stands
// on to readEvent, which reads it through its end tag; every other child is
// skipped whole.
template <typename ReadEvent>
void walkEvents(QXmlStreamReader &reader, const ReadEvent &readEvent)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == u"event")
            readEvent();
        else
            reader.skipCurrentElement();
    }
}

// Stores the event that a parser read, returning its identifier in the
// store. A later event with the same identifier replaces the earlier one.
const std::string &store(QuakeEventParser &parser, QuakeEventStore &store)
{
    std::string eventId;
    QuakeFieldMap fields;
    parser.takeQuakeEvent(eventId, fields);
    return store.insert_or_assign(std::move(eventId), std::move(fields)).first->first;
}

} // namespace

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store,
                                        std::vector<LocatedEvent> &located, std::vector<RawEvent> *raw)
{
    walkEvents(reader, [&] {
        QuakeEventParser parser(reader);
        storeEvent(parser, store, located, raw);
    });
}

void QuakeMLReader::readEventTexts(QXmlStreamReader &reader,
                                   const std::function<void(QuakeEventParser::Texts &&)> &took)
{
    walkEvents(reader, [&] { took(QuakeEventParser::readTexts(reader)); });
}

void QuakeMLReader::storeEvent(QuakeEventParser &parser, QuakeEventStore &store, std::vector<LocatedEvent> &located,
                               std::vector<RawEvent> *raw)
{
    const std::string &eventId = ::store(parser, store);
    located.push_back({ &eventId, parser.location(), parser.utcSeconds() });
    if (raw)
        raw->push_back(parser.rawEvent(&eventId));
}

void QuakeMLReader::alignLocations(std::vector<LocatedEvent> &located)
{
    alignToStore(located, [](const LocatedEvent &event) { return event.eventId; }, [](const LocatedEvent &) {});
    located.shrink_to_fit();
}

std::vector<const RawEvent *> QuakeMLReader::alignRaw(const std::vector<RawEvent> &raw)
{
    std::vector<const RawEvent *> aligned;
    aligned.reserve(raw.size());
    for (const RawEvent &event : raw)
        aligned.push_back(&event);
    alignToStore(aligned, [](const RawEvent *event) { return event->eventId; }, [](const RawEvent *) {});
    return aligned;
}

void QuakeMLReader::readEventParameters(QXmlStreamReader &reader, QuakeEventStore &store)
{
    walkEvents(reader, [&] {
        QuakeEventParser parser(reader);
        ::store(parser, store);
    });
}
