#include "app/picturefile.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

namespace PictureFile {

bool save(const QString &path, const QSize &size, const QString &title, const Draw &draw, QString *error)
{
    const QRectF area(QPointF(0, 0), QSizeF(size));
    const auto fail = [&](const char *what) {
        *error = QCoreApplication::translate("PictureFile", what).arg(path);
        return false;
    };
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(area);
        svg.setTitle(title);
        QPainter painter;
        if (!painter.begin(&svg))
            return fail("%1 cannot be written");
        draw(painter, area);
        painter.end();
        // The generator says nothing of a file it could not write.
        if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
            return fail("%1 cannot be written");
        return true;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    draw(painter, area);
    painter.end();
    return image.save(path, "PNG") || fail("%1 cannot be written as PNG");
}

QString ask(QWidget *parent, const QString &title, const QString &defaultName)
{
    QString selected;
    QString path = QFileDialog::getSaveFileName(parent, title, defaultName,
                                                QCoreApplication::translate("PictureFile", "PNG image (*.png);;SVG drawing (*.svg)"),
                                                &selected);
    if (!path.isEmpty() && !path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
        && !path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        path += selected.contains(QLatin1String("svg")) ? QStringLiteral(".svg") : QStringLiteral(".png");
    return path;
}

} // namespace PictureFile
