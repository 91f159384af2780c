#pragma once

// The result tree's items. An event's item and its rows keep their texts
// as the record's Latin-1 bytes, in one block that they share, and make
// text of them only when asked; the view asks only for the rows it shows.
// A big result takes half the memory and a fraction of the time that items
// holding their texts as variants take. To everything that reads an item
// (text(), data(), the view, the tests) they are items like any other;
// setting a text replaces the kept one.

#include "quakeml/quakeeventrecord.h"

#include <QTreeWidgetItem>

#include <string>

class QFont;

namespace ResultItems {

// An event's item: the identifier in column 0 with the given font, one row
// per non-empty field (label, value) in the map's order. Not in a tree yet.
QTreeWidgetItem *eventItem(const std::string &eventId, const QuakeFieldMap &fields, const QFont &font);

// The row of an event's item that shows the label, or -1.
int rowOf(const QuakeFieldMap &fields, const std::string &label);

} // namespace ResultItems
