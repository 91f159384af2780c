#include "geo/plateboundaries.h"

#include <QFile>

#include <cmath>

bool PlateBoundaries::load(const QString &path, QString *error)
{
    m_segments.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const auto fail = [&](int line, const QString &why) {
        m_segments.clear();
        *error = QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(why);
        return false;
    };
    Segment *open = nullptr;
    for (int line = 1; !file.atEnd(); ++line) {
        const QByteArray text = file.readLine().trimmed();
        if (text.isEmpty())
            continue;
        if (text.startsWith("***")) {
            if (!open || open->points.size() < 2)
                return fail(line, QStringLiteral("a segment ends with fewer than two points"));
            open = nullptr;
            continue;
        }
        if (!open) {
            // "AU/PA   by Peter Bird": the left plate, the kind, the right plate.
            if (text.size() < 5 || !QByteArrayLiteral("-/\\").contains(text[2]))
                return fail(line, QStringLiteral("not a segment's title"));
            Segment segment;
            segment.left = QString::fromLatin1(text.left(2));
            segment.right = QString::fromLatin1(text.mid(3, 2));
            // "/": the right-hand plate subducts under the left, which overrides.
            segment.overriding = text[2] == '/' ? Side::Left : text[2] == '\\' ? Side::Right : Side::None;
            m_segments.push_back(std::move(segment));
            open = &m_segments.back();
            continue;
        }
        const QList<QByteArray> values = text.split(',');
        bool longitudeRead = false, latitudeRead = false;
        const double longitude = values.value(0).trimmed().toDouble(&longitudeRead);
        const double latitude = values.value(1).trimmed().toDouble(&latitudeRead);
        if (values.size() != 2 || !longitudeRead || !latitudeRead || std::abs(latitude) > 90 || std::abs(longitude) > 360)
            return fail(line, QStringLiteral("not a longitude and latitude"));
        open->points.push_back({ latitude, longitude });
    }
    if (open)
        return fail(0, QStringLiteral("the last segment has no end"));
    return true;
}

std::size_t PlateBoundaries::pointCount() const
{
    std::size_t count = 0;
    for (const Segment &segment : m_segments)
        count += segment.points.size();
    return count;
}
