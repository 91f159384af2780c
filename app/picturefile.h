#pragma once

// Pictures of the map and the plots as files: PNG, or SVG through Qt SVG,
// chosen by the name's suffix.

#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class QPainter;
class QRectF;
class QWidget;

namespace PictureFile {

using Draw = std::function<void(QPainter &, const QRectF &)>;

// A picture's size on paper and its resolution.
struct PrintSize
{
    QSizeF cm;
    int dpi = 300;

    // The size it is laid out at: points (1/72 inch), so that its texts
    // keep their size on paper.
    QSizeF layout() const;
};

// Draws the picture into the file; false with a reason. A PNG has size's
// pixels, or those of the print size at its resolution, its pixels per
// metre said in the file; an SVG is drawn as vectors, at size, or at the
// print size in millimetres.
bool save(const QString &path, const QSize &size, const QString &title, const Draw &draw, QString *error);
bool save(const QString &path, const PrintSize &print, const QString &title, const Draw &draw, QString *error);

// Asks for a print size, proposing the given one; nothing when cancelled.
std::optional<PrintSize> askPrintSize(QWidget *parent, const QString &title, const PrintSize &proposed);

// Asks where to save a picture; the chosen filter's suffix is added to a
// name without one. Empty when the user cancelled.
QString ask(QWidget *parent, const QString &title, const QString &defaultName);

} // namespace PictureFile
