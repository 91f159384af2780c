#include "app/regionbar.h"

#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QComboBox>
#include <QCompleter>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QStandardItemModel>

#include <algorithm>
#include <cmath>

namespace {

constexpr int NoDepth = -1;   // a depth box at this shows "any"

const char kindKey[] = "region/kind";
const char boxKey[] = "region/box";
const char placeKey[] = "region/place";
const char radiusKey[] = "region/radiusKm";
const char minDepthKey[] = "region/minDepthKm";
const char maxDepthKey[] = "region/maxDepthKm";
const char sectionKey[] = "section/ends";
const char halfWidthKey[] = "section/halfWidthKm";

// "172.5°E", "170°W", "43.5°S": a bound as a map would label it.
QString degreesText(double value, QChar positive, QChar negative)
{
    return QString::number(std::abs(value), 'g', 6) + u'\u00B0' + (value < 0 ? negative : positive);
}

QSpinBox *depthBox(const QString &name, const QString &tip)
{
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(NoDepth, 1000);
    box->setSpecialValueText(QObject::tr("any"));
    box->setSuffix(QStringLiteral(" km"));
    box->setToolTip(tip);
    return box;
}

// Completes the places a user types, New Zealand's first, with or without
// macrons and accents: "Kaikō" offers "Kaikoura, NZ".
class PlaceCompleter : public QCompleter
{
public:
    static constexpr int FoldedRole = Qt::UserRole;

    explicit PlaceCompleter(QObject *parent)
        : QCompleter(parent)
    {
        auto *model = new QStandardItemModel(this);
        for (const QString &name : ShippedData::places().names()) {
            auto *item = new QStandardItem(name);
            item->setData(Places::folded(name), FoldedRole);
            model->appendRow(item);
        }
        setModel(model);
        setCompletionRole(FoldedRole);
        setCaseSensitivity(Qt::CaseInsensitive);
        setModelSorting(QCompleter::UnsortedModel);
    }

    QStringList splitPath(const QString &path) const override { return { Places::folded(path) }; }
    QString pathFromIndex(const QModelIndex &index) const override { return index.data(Qt::DisplayRole).toString(); }
};

// Kilometres to the hundredth, written without trailing zeros: "50 km",
// "88.85 km".
class KilometreBox : public QDoubleSpinBox
{
public:
    KilometreBox()
    {
        setDecimals(2);
        setSuffix(QStringLiteral(" km"));
    }

    QString textFromValue(double value) const override
    {
        QString text = locale().toString(value, 'f', decimals());
        const QString point = locale().decimalPoint();
        if (text.contains(point)) {
            while (text.endsWith(u'0'))
                text.chop(1);
            if (text.endsWith(point))
                text.chop(point.size());
        }
        return text;
    }
};

} // namespace

RegionBar::RegionBar(std::function<std::optional<SearchRegion::Box>()> mapView, QWidget *parent)
    : QToolBar(tr("Region"), parent)
    , m_mapView(std::move(mapView))
    , m_kind(new QComboBox)
    , m_place(new QLineEdit)
    , m_radius(new KilometreBox)
    , m_minDepth(depthBox(QStringLiteral("minDepthCtrl"), tr("Leave out earthquakes shallower than this, in "
                                                             "kilometres below the surface; \"any\" leaves none out")))
    , m_maxDepth(depthBox(QStringLiteral("maxDepthCtrl"), tr("Leave out earthquakes deeper than this, in kilometres "
                                                             "below the surface; \"any\" leaves none out")))
    , m_halfWidth(new QSpinBox)
{
    setObjectName(QStringLiteral("regionBar"));
    setMovable(false);
    auto *fields = new QWidget;
    auto *row = new QHBoxLayout(fields);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(new QLabel(tr("Where:")));

    m_kind->setObjectName(QStringLiteral("regionCtrl"));
    m_kind->addItems({ tr("Anywhere"), tr("Map's view"), tr("Drawn box"), tr("Around a place") });
    m_kind->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_kind->setToolTip(tr("Where to look for earthquakes: anywhere, only in the part of the map you can see, in a box "
                          "you draw on the map (hold Shift and drag), or around a town or point"));
    row->addWidget(m_kind);

    m_place->setObjectName(QStringLiteral("placeCtrl"));
    m_place->setPlaceholderText(tr("Place, or latitude, longitude"));
    m_place->setToolTip(tr("The town or city to look around (\"Christchurch\", \"Wellington, NZ\"), or a point as "
                           "latitude, longitude (\"-41.29, 174.78\")"));
    auto *completer = new PlaceCompleter(m_place);
    m_place->setCompleter(completer);
    row->addWidget(m_place, 1);

    m_radius->setObjectName(QStringLiteral("radiusCtrl"));
    m_radius->setRange(1, 20000);
    m_radius->setToolTip(tr("How far from the place to look, in kilometres"));
    row->addWidget(m_radius);

    row->addWidget(new QLabel(tr("Depth:")));
    row->addWidget(m_minDepth);
    row->addWidget(new QLabel(tr("to")));
    row->addWidget(m_maxDepth);
    row->addSpacing(8);
    row->addWidget(new QLabel(tr("Cross-section:")));
    m_halfWidth->setObjectName(QStringLiteral("sectionWidthCtrl"));
    m_halfWidth->setRange(1, 1000);
    m_halfWidth->setSuffix(tr(" km either side"));
    m_halfWidth->setToolTip(tr("A cross-section (View \u2192 Draw Section) shows, by depth, the earthquakes up to this "
                               "far either side of the line you draw on the map"));
    row->addWidget(m_halfWidth);
    row->addStretch();
    addWidget(fields);

    // As it was left.
    const QSettings settings;
    m_kind->setCurrentIndex(std::clamp(settings.value(QLatin1String(kindKey), WholeService).toInt(), 0, m_kind->count() - 1));
    m_place->setText(settings.value(QLatin1String(placeKey)).toString());
    m_radius->setValue(settings.value(QLatin1String(radiusKey), 50).toDouble());
    m_minDepth->setValue(settings.value(QLatin1String(minDepthKey), NoDepth).toInt());
    m_maxDepth->setValue(settings.value(QLatin1String(maxDepthKey), NoDepth).toInt());
    const QVariantList box = settings.value(QLatin1String(boxKey)).toList();
    if (box.size() == 4)
        m_drawnBox = SearchRegion::Box { box[0].toDouble(), box[1].toDouble(), box[2].toDouble(), box[3].toDouble() };
    m_halfWidth->setValue(settings.value(QLatin1String(halfWidthKey), 25).toInt());
    const QVariantList ends = settings.value(QLatin1String(sectionKey)).toList();
    if (ends.size() == 4)
        m_sectionEnds = std::make_pair(GeoPoint { ends[0].toDouble(), ends[1].toDouble() },
                                       GeoPoint { ends[2].toDouble(), ends[3].toDouble() });
    m_place->setEnabled(kind() == AroundPlace);
    m_radius->setEnabled(kind() == AroundPlace);
    if (QString name; const std::optional<GeoPoint> point = ShippedData::places().pointNamed(m_place->text(), &name))
        m_around = std::make_pair(*point, name);

    const auto changed = [this] {
        m_place->setEnabled(kind() == AroundPlace);
        m_radius->setEnabled(kind() == AroundPlace);
        remember();
        emit regionChanged();
        if (kind() != MapView)
            emit outlineChanged(region());
    };
    connect(m_kind, &QComboBox::currentIndexChanged, this, changed);
    // What is typed is looked up once, before the region is told.
    connect(m_place, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_givingPoint)
            return;
        QString name;
        const std::optional<GeoPoint> point = ShippedData::places().pointNamed(text, &name);
        m_around = point ? std::make_optional(std::make_pair(*point, name)) : std::nullopt;
    });
    connect(m_place, &QLineEdit::textChanged, this, changed);
    connect(m_place, &QLineEdit::returnPressed, this, &RegionBar::searchRequested);
    connect(m_radius, &QDoubleSpinBox::valueChanged, this, changed);
    connect(m_minDepth, &QSpinBox::valueChanged, this, changed);
    connect(m_maxDepth, &QSpinBox::valueChanged, this, changed);
    connect(m_halfWidth, &QSpinBox::valueChanged, this, [this] { emitSection(true); });
}

RegionBar::Kind RegionBar::kind() const
{
    return Kind(m_kind->currentIndex());
}

void RegionBar::remember() const
{
    QSettings settings;
    settings.setValue(QLatin1String(kindKey), m_kind->currentIndex());
    settings.setValue(QLatin1String(placeKey), m_place->text());
    settings.setValue(QLatin1String(radiusKey), m_radius->value());
    settings.setValue(QLatin1String(minDepthKey), m_minDepth->value());
    settings.setValue(QLatin1String(maxDepthKey), m_maxDepth->value());
    if (m_drawnBox)
        settings.setValue(QLatin1String(boxKey), QVariantList { m_drawnBox->west, m_drawnBox->south, m_drawnBox->east,
                                                                m_drawnBox->north });
}

void RegionBar::setDrawnBox(const SearchRegion::Box &box)
{
    m_drawnBox = box;
    if (kind() == DrawnBox) {
        remember();
        emit regionChanged();
        emit outlineChanged(region());
    } else {
        m_kind->setCurrentIndex(DrawnBox);
    }
}

QString RegionBar::pointText(const GeoPoint &point)
{
    return QStringLiteral("%1, %2").arg(point.latitude, 0, 'f', 4).arg(Geo::periodicLongitude(point.longitude), 0, 'f', 4);
}

void RegionBar::setAround(const GeoPoint &point, std::optional<double> radiusKm)
{
    if (radiusKm)
        m_radius->setValue(*radiusKm);
    const QString text = pointText(point);
    m_around = std::make_pair(point, text);
    m_givingPoint = true;
    m_place->setText(text);
    m_givingPoint = false;
    m_kind->setCurrentIndex(AroundPlace);
}

void RegionBar::searchAround(const GeoPoint &point)
{
    setAround(point);
    emit searchRequested();
}

void RegionBar::show(const SearchRegion &region)
{
    if (region.circle)
        setAround(region.circle->centre, region.circle->radiusKm);
    else if (region.box)
        setDrawnBox(*region.box);
    else
        m_kind->setCurrentIndex(WholeService);
    m_minDepth->setValue(region.minDepthKm ? int(std::lround(*region.minDepthKm)) : NoDepth);
    m_maxDepth->setValue(region.maxDepthKm ? int(std::lround(*region.maxDepthKm)) : NoDepth);
}

void RegionBar::clear()
{
    m_kind->setCurrentIndex(WholeService);
    m_minDepth->setValue(NoDepth);
    m_maxDepth->setValue(NoDepth);
}

void RegionBar::announce()
{
    if (kind() != MapView)
        emit outlineChanged(region());
    emitSection(false);
}

std::optional<CrossSection> RegionBar::section() const
{
    if (!m_sectionEnds)
        return std::nullopt;
    return CrossSection(m_sectionEnds->first, m_sectionEnds->second, m_halfWidth->value());
}

void RegionBar::setSectionEnds(const GeoPoint &a, const GeoPoint &b)
{
    m_sectionEnds = std::make_pair(a, b);
    emitSection(true);
}

void RegionBar::emitSection(bool remember)
{
    const std::optional<CrossSection> shown = section();
    if (!shown)
        return;
    if (remember) {
        QSettings settings;
        settings.setValue(QLatin1String(halfWidthKey), m_halfWidth->value());
        settings.setValue(QLatin1String(sectionKey), QVariantList { shown->a().latitude, shown->a().longitude,
                                                                    shown->b().latitude, shown->b().longitude });
    }
    emit sectionChanged(*shown);
}

SearchRegion RegionBar::region(QString *words) const
{
    SearchRegion region;
    QStringList said;
    switch (kind()) {
    case MapView:
        region.box = m_mapView();
        said << tr("in the map's view");
        break;
    case DrawnBox:
        if (m_drawnBox) {
            region.box = m_drawnBox;
            said << tr("in the box %1 to %2, %3 to %4")
                        .arg(degreesText(Geo::periodicLongitude(m_drawnBox->west), u'E', u'W'),
                             degreesText(Geo::periodicLongitude(m_drawnBox->east), u'E', u'W'),
                             degreesText(m_drawnBox->south, u'N', u'S'), degreesText(m_drawnBox->north, u'N', u'S'));
        }
        break;
    case AroundPlace:
        if (m_around) {
            const double km = m_radius->value();
            region.circle = SearchRegion::Circle { m_around->first, km };
            said << tr("within %1 km of %2").arg(km).arg(m_around->second);
        }
        break;
    case WholeService:
        break;
    }
    const int top = m_minDepth->value();
    const int bottom = m_maxDepth->value();
    if (top != NoDepth)
        region.minDepthKm = top;
    if (bottom != NoDepth)
        region.maxDepthKm = bottom;
    if (top != NoDepth && bottom != NoDepth)
        said << tr("%1 to %2 km deep").arg(top).arg(bottom);
    else if (top != NoDepth)
        said << tr("at least %1 km deep").arg(top);
    else if (bottom != NoDepth)
        said << tr("at most %1 km deep").arg(bottom);
    if (words)
        *words = said.join(QStringLiteral(", "));
    return region;
}

QString RegionBar::problem() const
{
    const QString place = m_place->text().trimmed();
    const SearchRegion chosen = region();
    QString problem;
    if (kind() == AroundPlace && !chosen.circle)
        problem = place.isEmpty() ? tr("Type a place to search around.")
                                  : tr("No place is called \"%1\". Type a town or city, or a latitude and "
                                       "longitude such as \"-41.29, 174.78\".").arg(place);
    else if (kind() == DrawnBox && !chosen.box)
        problem = tr("Draw a box on the map first: hold Shift and drag.");
    if (chosen.minDepthKm && chosen.maxDepthKm && *chosen.minDepthKm > *chosen.maxDepthKm)
        problem = tr("The depth range starts below its end.");
    return problem;
}
