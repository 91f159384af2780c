#include "app/picturefile.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

namespace PictureFile {

namespace {

constexpr double CmPerInch = 2.54;

// The picture laid out in layout's units, layoutDpi to the inch, written
// as pixels (a PNG) or as vectors of layout's size at dpi (an SVG).
bool draw(const QString &path, const QSizeF &layout, double layoutDpi, const QSize &pixels, int dpi, const QString &title,
          const Draw &drawing, QString *error)
{
    const QRectF area(QPointF(0, 0), layout);
    const auto fail = [&](const char *what) {
        *error = QCoreApplication::translate("PictureFile", what).arg(path);
        return false;
    };
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(layout.toSize());
        svg.setViewBox(area);
        svg.setResolution(dpi);
        svg.setTitle(title);
        QPainter painter;
        if (!painter.begin(&svg))
            return fail("%1 cannot be written");
        drawing(painter, area);
        painter.end();
        // The generator says nothing of a file it could not write.
        if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
            return fail("%1 cannot be written");
        return true;
    }
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    // Text is laid out at the layout's own resolution, as in the SVG, and
    // scaled with everything else: at the PNG's own resolution it would be
    // scaled twice.
    const auto setDpi = [&image](double perInch) {
        image.setDotsPerMeterX(qRound(perInch / CmPerInch * 100));
        image.setDotsPerMeterY(qRound(perInch / CmPerInch * 100));
    };
    setDpi(layoutDpi);
    QPainter painter(&image);
    painter.scale(pixels.width() / layout.width(), pixels.height() / layout.height());
    drawing(painter, area);
    painter.end();
    setDpi(dpi);
    return image.save(path, "PNG") || fail("%1 cannot be written as PNG");
}

} // namespace

QSizeF PrintSize::layout() const
{
    return cm / CmPerInch * 72;
}

bool save(const QString &path, const QSize &size, const QString &title, const Draw &drawing, QString *error)
{
    // A screen's pixels, 96 to the inch; SVG's own default, 72.
    const int dpi = path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ? 72 : 96;
    return draw(path, QSizeF(size), dpi, size, dpi, title, drawing, error);
}

bool save(const QString &path, const PrintSize &print, const QString &title, const Draw &drawing, QString *error)
{
    const QSizeF layout = print.layout();
    if (layout.toSize().isEmpty()) {
        *error = QCoreApplication::translate("PictureFile", "%1: the picture has no size").arg(path);
        return false;
    }
    // SVG's millimetres follow from its size and resolution: points, 72 to the inch.
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        return draw(path, layout, 72, layout.toSize(), 72, title, drawing, error);
    return draw(path, layout, 72, (print.cm / CmPerInch * print.dpi).toSize(), print.dpi, title, drawing, error);
}

std::optional<PrintSize> askPrintSize(QWidget *parent, const QString &title, const PrintSize &proposed)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *form = new QFormLayout(&dialog);
    const auto length = [&](const QString &name, double cm) {
        auto *field = new QDoubleSpinBox;
        field->setObjectName(name);
        field->setRange(1, 100);
        field->setDecimals(1);
        field->setSuffix(QStringLiteral(" cm"));
        field->setValue(cm);
        return field;
    };
    QDoubleSpinBox *width = length(QStringLiteral("pictureWidthCtrl"), proposed.cm.width());
    QDoubleSpinBox *height = length(QStringLiteral("pictureHeightCtrl"), proposed.cm.height());
    auto *dpi = new QSpinBox;
    dpi->setObjectName(QStringLiteral("pictureResolutionCtrl"));
    dpi->setRange(72, 1200);
    dpi->setSuffix(QStringLiteral(" dpi"));
    dpi->setValue(proposed.dpi);
    form->addRow(QCoreApplication::translate("PictureFile", "Width:"), width);
    form->addRow(QCoreApplication::translate("PictureFile", "Height:"), height);
    form->addRow(QCoreApplication::translate("PictureFile", "Resolution (PNG):"), dpi);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return PrintSize { QSizeF(width->value(), height->value()), dpi->value() };
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
