// Where a search looks: the controls beside the form, what they ask of the
// service (keys after the five of the search) and say in words, the outline
// on the map, all remembered between runs.

#include "app/mainappwindow.h"

#include "app/mapwidget.h"
#include "app/plotswidget.h"
#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringListModel>
#include <QToolBar>

namespace {

// The choices of regionCtrl, in its order.
enum RegionKind { WholeService, MapView, DrawnBox, AroundPlace };

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

} // namespace

void MainAppWindow::setupRegionBar()
{
    // A bar of its own under the menus: the form stays as it is.
    auto *fields = new QWidget;
    auto *row = new QHBoxLayout(fields);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(new QLabel(tr("Where:")));

    auto *kind = new QComboBox;
    kind->setObjectName(QStringLiteral("regionCtrl"));
    kind->addItems({ tr("Whole service"), tr("Map's view"), tr("Drawn box"), tr("Around a place") });
    kind->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    kind->setToolTip(tr("Where to search: everywhere, what the map shows, a box drawn on the map (hold Shift and "
                        "drag), or around a place"));
    row->addWidget(kind);

    auto *place = new QLineEdit;
    place->setObjectName(QStringLiteral("placeCtrl"));
    place->setPlaceholderText(tr("Place, or latitude, longitude"));
    place->setToolTip(tr("A town or city (\"Christchurch\", \"Wellington, NZ\") or a point (\"-41.29, 174.78\")"));
    auto *completer = new QCompleter(new QStringListModel(ShippedData::places().names(), place), place);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setModelSorting(QCompleter::CaseInsensitivelySortedModel);
    place->setCompleter(completer);
    row->addWidget(place, 1);

    auto *radius = new QDoubleSpinBox;
    radius->setObjectName(QStringLiteral("radiusCtrl"));
    radius->setRange(1, 20000);
    radius->setDecimals(0);
    radius->setSuffix(QStringLiteral(" km"));
    radius->setToolTip(tr("How far around the place to search"));
    row->addWidget(radius);

    row->addWidget(new QLabel(tr("Depth:")));
    auto *minDepth = depthBox(QStringLiteral("minDepthCtrl"), tr("The shallowest depth to search"));
    auto *maxDepth = depthBox(QStringLiteral("maxDepthCtrl"), tr("The deepest depth to search"));
    row->addWidget(minDepth);
    row->addWidget(new QLabel(tr("to")));
    row->addWidget(maxDepth);
    row->addSpacing(8);
    row->addWidget(new QLabel(tr("Section:")));
    auto *halfWidth = new QSpinBox;
    halfWidth->setObjectName(QStringLiteral("sectionWidthCtrl"));
    halfWidth->setRange(1, 1000);
    halfWidth->setPrefix(QStringLiteral("\u00B1 "));
    halfWidth->setSuffix(QStringLiteral(" km"));
    halfWidth->setToolTip(tr("How far either side of a cross-section's profile its events lie"));
    row->addWidget(halfWidth);
    row->addStretch();
    auto *bar = new QToolBar(tr("Region"), this);
    bar->setObjectName(QStringLiteral("regionBar"));
    bar->setMovable(false);
    bar->addWidget(fields);
    addToolBar(Qt::TopToolBarArea, bar);

    // As it was left.
    const QSettings settings;
    kind->setCurrentIndex(std::clamp(settings.value(QLatin1String(kindKey), WholeService).toInt(), 0, kind->count() - 1));
    place->setText(settings.value(QLatin1String(placeKey)).toString());
    radius->setValue(settings.value(QLatin1String(radiusKey), 50).toDouble());
    minDepth->setValue(settings.value(QLatin1String(minDepthKey), NoDepth).toInt());
    maxDepth->setValue(settings.value(QLatin1String(maxDepthKey), NoDepth).toInt());
    const QVariantList box = settings.value(QLatin1String(boxKey)).toList();
    if (box.size() == 4)
        m_drawnBox = SearchRegion::Box { box[0].toDouble(), box[1].toDouble(), box[2].toDouble(), box[3].toDouble() };
    halfWidth->setValue(settings.value(QLatin1String(halfWidthKey), 25).toInt());
    const QVariantList ends = settings.value(QLatin1String(sectionKey)).toList();
    if (ends.size() == 4)
        m_sectionEnds = std::make_pair(GeoPoint { ends[0].toDouble(), ends[1].toDouble() },
                                       GeoPoint { ends[2].toDouble(), ends[3].toDouble() });

    const auto changed = [this] { regionChanged(); };
    connect(kind, &QComboBox::currentIndexChanged, this, changed);
    connect(place, &QLineEdit::textChanged, this, changed);
    // Enter in the place searches, as the button does.
    connect(place, &QLineEdit::returnPressed, this, [this] { on_searchCtrl_clicked(); });
    connect(radius, &QDoubleSpinBox::valueChanged, this, changed);
    connect(minDepth, &QSpinBox::valueChanged, this, changed);
    connect(maxDepth, &QSpinBox::valueChanged, this, changed);
    connect(m_map, &MapWidget::boxDrawn, this, [this, kind](const SearchRegion::Box &drawn) {
        m_drawnBox = drawn;
        if (kind->currentIndex() == DrawnBox)
            regionChanged();
        else
            kind->setCurrentIndex(DrawnBox);
    });
    connect(halfWidth, &QSpinBox::valueChanged, this, [this] { showSection(true); });
    // A point picked on the map: searched around, or watched.
    connect(m_map, &MapWidget::pointMenuRequested, this, [this, kind, place](const GeoPoint &point, const QPoint &at) {
        const QString text = QStringLiteral("%1, %2").arg(point.latitude, 0, 'f', 3)
                                 .arg(Geo::periodicLongitude(point.longitude), 0, 'f', 3);
        QMenu menu(this);
        QAction *around = menu.addAction(tr("Search Around Here"));
        around->setObjectName(QStringLiteral("actionSearchAroundHere"));
        QAction *watch = menu.addAction(tr("Watch Here\u2026"));
        watch->setObjectName(QStringLiteral("actionWatchHere"));
        QAction *chosen = menu.exec(at);
        if (chosen == around) {
            place->setText(text);
            kind->setCurrentIndex(AroundPlace);
            on_searchCtrl_clicked();
        } else if (chosen == watch) {
            watchPlaces(text);
        }
    });
    connect(m_map, &MapWidget::sectionDrawn, this, [this](const GeoPoint &a, const GeoPoint &b) {
        m_sectionEnds = std::make_pair(a, b);
        showSection(true);
        m_plots->setCurrentIndex(PlotsWidget::Section);
        findChild<QAction *>(QStringLiteral("actionShowPlots"))->setChecked(true);
        statusBar()->clearMessage();
    });
    regionChanged();
    showSection(false);
}

void MainAppWindow::drawSection()
{
    findChild<QAction *>(QStringLiteral("actionShowMap"))->setChecked(true);
    m_map->startSection();
    statusBar()->showMessage(tr("Drag on the map from A to A\u2032 to draw a section; Escape leaves it."));
}

void MainAppWindow::showSection(bool remember)
{
    if (!m_sectionEnds)
        return;
    const int halfWidth = findChild<QSpinBox *>(QStringLiteral("sectionWidthCtrl"))->value();
    const CrossSection section(m_sectionEnds->first, m_sectionEnds->second, halfWidth);
    m_map->setSection(section);
    m_plots->setSection(section);
    if (!remember)
        return;
    QSettings settings;
    settings.setValue(QLatin1String(halfWidthKey), halfWidth);
    settings.setValue(QLatin1String(sectionKey), QVariantList { section.a().latitude, section.a().longitude,
                                                                section.b().latitude, section.b().longitude });
}

void MainAppWindow::regionChanged()
{
    const int kind = findChild<QComboBox *>(QStringLiteral("regionCtrl"))->currentIndex();
    findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->setEnabled(kind == AroundPlace);
    findChild<QDoubleSpinBox *>(QStringLiteral("radiusCtrl"))->setEnabled(kind == AroundPlace);
    QSettings settings;
    settings.setValue(QLatin1String(kindKey), kind);
    settings.setValue(QLatin1String(placeKey), findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->text());
    settings.setValue(QLatin1String(radiusKey), findChild<QDoubleSpinBox *>(QStringLiteral("radiusCtrl"))->value());
    settings.setValue(QLatin1String(minDepthKey), findChild<QSpinBox *>(QStringLiteral("minDepthCtrl"))->value());
    settings.setValue(QLatin1String(maxDepthKey), findChild<QSpinBox *>(QStringLiteral("maxDepthCtrl"))->value());
    if (m_drawnBox)
        settings.setValue(QLatin1String(boxKey), QVariantList { m_drawnBox->west, m_drawnBox->south, m_drawnBox->east,
                                                                m_drawnBox->north });
    // The map's view is outlined once a search takes it.
    if (kind != MapView)
        m_map->setRegion(searchRegion());
}

void MainAppWindow::clearRegion()
{
    findChild<QComboBox *>(QStringLiteral("regionCtrl"))->setCurrentIndex(WholeService);
    findChild<QSpinBox *>(QStringLiteral("minDepthCtrl"))->setValue(NoDepth);
    findChild<QSpinBox *>(QStringLiteral("maxDepthCtrl"))->setValue(NoDepth);
}

SearchRegion MainAppWindow::searchRegion(QString *words) const
{
    SearchRegion region;
    QStringList said;
    switch (findChild<QComboBox *>(QStringLiteral("regionCtrl"))->currentIndex()) {
    case MapView:
        region.box = m_map->visibleBox();
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
    case AroundPlace: {
        QString name;
        const double km = findChild<QDoubleSpinBox *>(QStringLiteral("radiusCtrl"))->value();
        const QString typed = findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->text();
        if (const std::optional<GeoPoint> point = ShippedData::places().pointNamed(typed, &name)) {
            region.circle = SearchRegion::Circle { *point, km };
            said << tr("within %1 km of %2").arg(km).arg(name);
        }
        break;
    }
    default:
        break;
    }
    const int top = findChild<QSpinBox *>(QStringLiteral("minDepthCtrl"))->value();
    const int bottom = findChild<QSpinBox *>(QStringLiteral("maxDepthCtrl"))->value();
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

bool MainAppWindow::regionIsSearchable()
{
    const int kind = findChild<QComboBox *>(QStringLiteral("regionCtrl"))->currentIndex();
    const QString place = findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->text().trimmed();
    const SearchRegion region = searchRegion();
    QString problem;
    if (kind == AroundPlace && !region.circle)
        problem = place.isEmpty() ? tr("Type a place to search around.")
                                  : tr("No place is called \"%1\". Type a town or city, or a latitude and "
                                       "longitude such as \"-41.29, 174.78\".").arg(place);
    else if (kind == DrawnBox && !region.box)
        problem = tr("Draw a box on the map first: hold Shift and drag.");
    if (region.minDepthKm && region.maxDepthKm && *region.minDepthKm > *region.maxDepthKm)
        problem = tr("The depth range starts below its end.");
    if (problem.isEmpty())
        return true;
    QMessageBox::critical(this, tr("Region"), problem);
    return false;
}

void MainAppWindow::goToPlace()
{
    QInputDialog dialog(this);
    dialog.setWindowTitle(tr("Go to Place"));
    dialog.setLabelText(tr("A town or city, or a latitude and longitude:"));
    dialog.setTextValue(findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->text());
    if (auto *field = dialog.findChild<QLineEdit *>())
        field->setCompleter(findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->completer());
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString name;
    const std::optional<GeoPoint> point = ShippedData::places().pointNamed(dialog.textValue(), &name);
    if (!point) {
        QMessageBox::critical(this, tr("Go to Place"), tr("No place is called \"%1\".").arg(dialog.textValue().trimmed()));
        return;
    }
    findChild<QAction *>(QStringLiteral("actionShowMap"))->setChecked(true);
    m_map->showPlace(*point, name);
}
