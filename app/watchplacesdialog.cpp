#include "app/watchplacesdialog.h"

#include "geo/places.h"
#include "geo/shippeddata.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { Name, Latitude, Longitude, Radius, Magnitude, Columns };

} // namespace

WatchPlacesDialog::WatchPlacesDialog(const QList<WatchedPlace> &places, QCompleter *completer, QWidget *parent)
    : QDialog(parent)
    , m_table(new QTableWidget(0, Columns, this))
{
    setWindowTitle(tr("Watch Places"));
    m_table->setObjectName(QStringLiteral("watchTable"));
    m_table->setHorizontalHeaderLabels({ tr("Place"), tr("Latitude"), tr("Longitude"), tr("Radius (km)"),
                                         tr("Lowest magnitude") });
    // Every heading whole; the place takes what is left.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const WatchedPlace &place : places)
        addRow(place);

    auto *place = new QLineEdit;
    place->setObjectName(QStringLiteral("watchPlaceCtrl"));
    place->setPlaceholderText(tr("Place, or latitude, longitude"));
    place->setCompleter(completer);
    auto *radius = new QDoubleSpinBox;
    radius->setObjectName(QStringLiteral("watchRadiusCtrl"));
    radius->setRange(1, 20000);
    radius->setDecimals(0);
    radius->setValue(50);
    radius->setSuffix(QStringLiteral(" km"));
    auto *magnitude = new QDoubleSpinBox;
    magnitude->setObjectName(QStringLiteral("watchMagnitudeCtrl"));
    magnitude->setRange(-2, 10);
    magnitude->setDecimals(1);
    magnitude->setSingleStep(0.5);
    magnitude->setValue(4);
    magnitude->setPrefix(QStringLiteral("M"));
    auto *add = new QPushButton(tr("Add"));
    add->setObjectName(QStringLiteral("watchAddCtrl"));
    auto *remove = new QPushButton(tr("Remove"));
    remove->setObjectName(QStringLiteral("watchRemoveCtrl"));
    connect(add, &QPushButton::clicked, this, &WatchPlacesDialog::addTyped);
    connect(place, &QLineEdit::returnPressed, this, &WatchPlacesDialog::addTyped);
    connect(remove, &QPushButton::clicked, this, [this] {
        for (int row = m_table->rowCount() - 1; row >= 0; --row) {
            if (m_table->selectionModel()->isRowSelected(row, QModelIndex()))
                m_table->removeRow(row);
        }
    });

    auto *adding = new QHBoxLayout;
    adding->addWidget(place, 1);
    adding->addWidget(new QLabel(tr("within")));
    adding->addWidget(radius);
    adding->addWidget(new QLabel(tr("at or above")));
    adding->addWidget(magnitude);
    adding->addWidget(add);
    adding->addWidget(remove);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    auto *explanation = new QLabel(tr("While Harvix follows a search live, a new event inside one of these places, at "
                                      "or above its magnitude, is told as a desktop notification."));
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    layout->addWidget(m_table);
    layout->addLayout(adding);
    layout->addWidget(buttons);
    resize(640, 360);
}

void WatchPlacesDialog::propose(const QString &place)
{
    findChild<QLineEdit *>(QStringLiteral("watchPlaceCtrl"))->setText(place);
}

void WatchPlacesDialog::addRow(const WatchedPlace &place)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QString texts[Columns] = { place.name, QString::number(place.point.latitude, 'f', 4),
                                     QString::number(place.point.longitude, 'f', 4), QString::number(place.radiusKm),
                                     QString::number(place.minMagnitude) };
    for (int column = 0; column < Columns; ++column)
        m_table->setItem(row, column, new QTableWidgetItem(texts[column]));
}

void WatchPlacesDialog::addTyped()
{
    auto *field = findChild<QLineEdit *>(QStringLiteral("watchPlaceCtrl"));
    const QString text = field->text().trimmed();
    if (text.isEmpty())
        return;
    WatchedPlace place;
    const std::optional<GeoPoint> point = ShippedData::places().pointNamed(text, &place.name);
    if (!point) {
        QMessageBox::warning(this, windowTitle(), tr("No place is called \"%1\".").arg(text));
        return;
    }
    place.point = *point;
    place.radiusKm = findChild<QDoubleSpinBox *>(QStringLiteral("watchRadiusCtrl"))->value();
    place.minMagnitude = findChild<QDoubleSpinBox *>(QStringLiteral("watchMagnitudeCtrl"))->value();
    addRow(place);
    field->clear();
}

QList<WatchedPlace> WatchPlacesDialog::places() const
{
    QList<WatchedPlace> places;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const auto number = [&](int column, double low, double high, bool *ok) {
            const double value = m_table->item(row, column) ? m_table->item(row, column)->text().toDouble(ok) : 0;
            *ok = *ok && value >= low && value <= high;
            return value;
        };
        bool ok[4] = { false, false, false, false };
        WatchedPlace place;
        place.name = m_table->item(row, Name) ? m_table->item(row, Name)->text().trimmed() : QString();
        place.point = { number(Latitude, -90, 90, &ok[0]), number(Longitude, -360, 360, &ok[1]) };
        place.radiusKm = number(Radius, 0, 20040, &ok[2]);
        place.minMagnitude = number(Magnitude, -10, 12, &ok[3]);
        if (ok[0] && ok[1] && ok[2] && ok[3])
            places << place;
    }
    return places;
}

void WatchPlacesDialog::edit(QCompleter *completer, const QString &proposed, QWidget *parent)
{
    WatchPlacesDialog dialog(WatchedPlace::load(), completer, parent);
    dialog.propose(proposed);
    if (dialog.exec() == QDialog::Accepted)
        WatchedPlace::save(dialog.places());
}
