#include "quakeml/xmldeclaration.h"

#include "quakeml/replybody.h"

#include <QByteArrayView>
#include <QString>
#include <QXmlStreamReader>

#include <cstring>

namespace {

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

} // namespace

qsizetype XmlDeclaration::toBlank(const ReplyBody &body)
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
