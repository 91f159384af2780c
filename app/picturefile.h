#pragma once

// Pictures of the map and the plots as files: PNG, or SVG through Qt SVG,
// chosen by the name's suffix.

#include <QSize>
#include <QString>

#include <functional>

class QPainter;
class QRectF;
class QWidget;

namespace PictureFile {

using Draw = std::function<void(QPainter &, const QRectF &)>;

// Draws the picture into the file; false with a reason.
bool save(const QString &path, const QSize &size, const QString &title, const Draw &draw, QString *error);

// Asks where to save a picture; the chosen filter's suffix is added to a
// name without one. Empty when the user cancelled.
QString ask(QWidget *parent, const QString &title, const QString &defaultName);

} // namespace PictureFile
