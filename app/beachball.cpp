#include "app/beachball.h"

#include <QPainter>

#include <cmath>

namespace Beachball {

bool isCompressional(const Mechanism::NorthEastDown &m, double x, double y)
{
    // Equal area (Lambert): a point r from the centre is a ray
    // 2 asin(r / sqrt 2) from straight down; the horizon is r = 1.
    const double r = std::hypot(x, y);
    const double fromDown = 2 * std::asin(std::min(1.0, r / std::sqrt(2.0)));
    const double horizontal = std::sin(fromDown);
    const double north = r > 0 ? horizontal * y / r : 0, east = r > 0 ? horizontal * x / r : 0, down = std::cos(fromDown);
    const double radiation = m.xx * north * north + m.yy * east * east + m.zz * down * down
        + 2 * (m.xy * north * east + m.xz * north * down + m.yz * east * down);
    return radiation > 0;
}

QImage draw(const Mechanism::NorthEastDown &tensor, int diameter, const QColor &fill)
{
    QImage image(diameter, diameter, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // The horizon is the unit circle, inside the outline.
    const double radius = diameter / 2.0 - 1;
    const QRgb filled = fill.rgba(), white = qRgb(255, 255, 255);
    for (int row = 0; row < diameter; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int column = 0; column < diameter; ++column) {
            const double x = (column + 0.5 - diameter / 2.0) / radius, y = (diameter / 2.0 - row - 0.5) / radius;
            if (x * x + y * y > 1)
                continue;
            line[column] = isCompressional(tensor, x, y) ? filled : white;
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(diameter / 2.0, diameter / 2.0), radius, radius);
    return image;
}

} // namespace Beachball
