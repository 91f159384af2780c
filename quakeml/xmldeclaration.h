#pragma once

// What a reader fed from a device must be spared of a document's start.

#include <QtGlobal>

class ReplyBody;

namespace XmlDeclaration {

// How many bytes at the start of the body a reader fed from a device must
// see as spaces: the XML declaration, which text reading checks but takes
// no encoding from. -1 where only a reader of the whole text reads the
// document as it should: a document too short for a device reader to begin
// on, a broken declaration, or standalone="yes" before a document type
// declaration (it changes how undeclared entities are read). Waits until
// enough of the body has arrived to tell.
qsizetype toBlank(const ReplyBody &body);

} // namespace XmlDeclaration
