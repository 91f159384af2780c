#pragma once

// The search for an attribute flood: a tag that holds more '=' signs outside
// its quoted values than QuakeMLReader::MaximumAttributes, which would hold
// QXmlStreamReader for minutes. Over text, or over a reply's bytes that may
// still be arriving, on a thread of its own ahead of the reader.

#include "quakeml/quakemlreader.h"
#include "quakeml/replybody.h"

#include <QByteArrayView>
#include <QStringView>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <type_traits>

namespace FloodSearch {

// The same search in UTF-16 text and in Latin-1 bytes.
template <typename View>
View literal(const char16_t *text, const char *bytes);
template <>
inline QStringView literal<QStringView>(const char16_t *text, const char *)
{
    return QStringView(text);
}
template <>
inline QByteArrayView literal<QByteArrayView>(const char16_t *, const char *bytes)
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

} // namespace FloodSearch

// The search for an attribute flood in a reply's bytes. A big reply, or one
// still arriving, is searched on a thread of its own, ahead of the reader,
// which is served only bytes that the search has passed: the search costs
// the reading nothing but its start.
class FloodScan
{
public:
    explicit FloodScan(const ReplyBody &body);
    ~FloodScan();
    FloodScan(const FloodScan &) = delete;
    FloodScan &operator=(const FloodScan &) = delete;

    bool done() const { return m_done.load(std::memory_order_acquire); }
    // Waits until more than `pos` bytes are cleared or the search is done;
    // how many are cleared: all before the flood, or all there are, at the end.
    qsizetype clearedBeyond(qsizetype pos) const;
    // Once done: the flood's offset, or -1, and what to report of it.
    qsizetype flood() const { return m_flood; }
    const QuakeMLError &error() const { return m_error; }

private:
    static constexpr qsizetype AheadFrom = qsizetype(1) << 20;

    void run();

    const ReplyBody &m_body;
    std::atomic<qsizetype> m_cleared { 0 };
    std::atomic<bool> m_done { false };
    qsizetype m_flood = -1;
    QuakeMLError m_error;
    std::thread m_thread;
};
