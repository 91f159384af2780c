#include "app/panes.h"

#include "app/eventexport.h"
#include "app/eventlinks.h"
#include "app/eventlist.h"
#include "app/eventlistmodel.h"
#include "app/mapwidget.h"
#include "app/picturefile.h"
#include "app/plotswidget.h"
#include "app/regionbar.h"
#include "app/sectionplot.h"
#include "app/sequenceaction.h"
#include "app/shownresult.h"
#include "app/watchplacesdialog.h"
#include "geo/places.h"
#include "geo/shippeddata.h"
#include "quakeml/storeorder.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QDockWidget>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>

namespace {

const char *const showMapKey = "view/showMap";
const char *const showPlotsKey = "view/showPlots";
const char *const tabKey = "view/tab";
constexpr int MapWidth = 560;
constexpr int PlotsHeight = 260;

} // namespace

Panes::Panes(QMainWindow *window, QTreeWidget *tree, ShownResult *shown)
    : QObject(window)
    , m_window(window)
    , m_shown(shown)
    , m_map(new MapWidget(shown))
    , m_plots(new PlotsWidget(shown))
    , m_list(new EventList(shown))
{
    m_map->setObjectName(QStringLiteral("mapWidget"));
    m_mapDock = addPane(tr("Map"), QStringLiteral("mapDock"), m_map, showMapKey);
    // The window grows by the map's width when the map is shown.
    if (m_mapDock->isVisibleTo(window)) {
        window->resize(window->width() + MapWidth, window->height() + 100);
        window->resizeDocks({ m_mapDock }, { MapWidth }, Qt::Horizontal);
    }

    m_plots->setObjectName(QStringLiteral("plotsWidget"));
    m_plotsDock = addPane(tr("Plots"), QStringLiteral("plotsDock"), m_plots, showPlotsKey);
    // The list first, then the plots.
    m_list->setObjectName(QStringLiteral("eventList"));
    m_plots->insertTab(0, m_list, tr("List"));
    m_plots->setCurrentIndex(0);
    window->splitDockWidget(m_mapDock, m_plotsDock, Qt::Vertical);
    m_links = new EventLinks(tree, shown, m_map, m_plots, m_list, window->statusBar(), this);
    connect(m_map, &MapWidget::pointMenuRequested, this, &Panes::showPointMenu);
    connect(m_map, &MapWidget::sectionDrawn, this, [this](const GeoPoint &a, const GeoPoint &b) {
        emit sectionDrawn(a, b);
        m_plots->showPlot(PlotsWidget::Section);
        emit plotsWanted();
        m_window->statusBar()->clearMessage();
    });
    if (m_plotsDock->isVisibleTo(window)) {
        window->resize(window->width(), window->height() + PlotsHeight);
        window->resizeDocks({ m_plotsDock }, { PlotsHeight }, Qt::Vertical);
    }
}

void Panes::addSequence(SequenceAction *sequence)
{
    m_plots->addTab(sequence->page(), tr("Sequence"));
    sequence->offerOn(m_list->table());
    m_eventAction = sequence->action();
    // The tab that was shown last, once every page is there.
    m_plots->setCurrentIndex(QSettings().value(QLatin1String(tabKey), 0).toInt());
    connect(m_plots, &QTabWidget::currentChanged, this, [](int index) { QSettings().setValue(QLatin1String(tabKey), index); });
}

void Panes::linkRegion(RegionBar *region)
{
    connect(region, &RegionBar::outlineChanged, m_map, &MapWidget::setRegion);
    connect(region, &RegionBar::sectionChanged, this, &Panes::setSection);
    connect(m_map, &MapWidget::boxDrawn, region, &RegionBar::setDrawnBox);
    connect(this, &Panes::sectionDrawn, region, &RegionBar::setSectionEnds);
    connect(this, &Panes::searchAroundWanted, region, &RegionBar::searchAround);
    connect(this, &Panes::watchWanted, this, [this, region](const GeoPoint &point) {
        WatchPlacesDialog::edit(region->placeField()->completer(), RegionBar::pointText(point), m_window);
    });
}

QDockWidget *Panes::addPane(const QString &title, const QString &name, QWidget *content, const char *shownKey)
{
    auto *dock = new QDockWidget(title, m_window);
    dock->setObjectName(name);
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock->setTitleBarWidget(new QWidget(dock));   // no title: a pane, not a tool window
    dock->setWidget(content);
    m_window->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->setVisible(QSettings().value(QLatin1String(shownKey), true).toBool());
    return dock;
}

void Panes::showPointMenu(const GeoPoint &point, const QPoint &at)
{
    // To a thousandth of a degree, about a pixel at the closest zoom.
    const auto rounded = [](double degrees) { return std::round(degrees * 1000) / 1000; };
    const GeoPoint roundedPoint { rounded(point.latitude), rounded(Geo::periodicLongitude(point.longitude)) };
    QMenu menu(m_window);
    // Over an event, first what is done with it.
    const int event = m_map->eventAt(m_map->mapFromGlobal(at));
    QAction *forEvent = event >= 0 && m_eventAction ? menu.addAction(m_eventAction->text()) : nullptr;
    if (forEvent)
        menu.addSeparator();
    QAction *around = menu.addAction(tr("Search Around Here"));
    around->setObjectName(QStringLiteral("actionSearchAroundHere"));
    QAction *watch = menu.addAction(tr("Watch Here\u2026"));
    watch->setObjectName(QStringLiteral("actionWatchHere"));
    QAction *chosen = menu.exec(at);
    if (chosen && chosen == forEvent) {
        // The event becomes the current one, then its action runs.
        m_links->showInTree(event);
        m_eventAction->trigger();
    } else if (chosen == around)
        emit searchAroundWanted(roundedPoint);
    else if (chosen == watch)
        emit watchWanted(roundedPoint);
}

bool Panes::isMapVisible() const
{
    return m_mapDock->isVisible();
}

bool Panes::isMapShown() const
{
    return m_mapDock->isVisibleTo(m_window);
}

bool Panes::arePlotsShown() const
{
    return m_plotsDock->isVisibleTo(m_window);
}

void Panes::setMapShown(bool shown)
{
    m_mapDock->setVisible(shown);
    QSettings().setValue(QLatin1String(showMapKey), shown);
}

void Panes::setPlotsShown(bool shown)
{
    m_plotsDock->setVisible(shown);
    QSettings().setValue(QLatin1String(showPlotsKey), shown);
}

void Panes::setSection(const CrossSection &section)
{
    m_shown->setSection(section);
}

void Panes::prepareFor(const std::vector<QuakeLocation> &events) const
{
    if (m_mapDock->isVisible())
        m_map->prepareFor(events);
}

void Panes::drawSection()
{
    emit mapWanted();
    m_map->startSection();
    m_window->statusBar()->showMessage(tr("Drag on the map from A to A\u2032 to draw a section; Escape leaves it."));
}

void Panes::saveMapAs()
{
    const QString path = PictureFile::ask(m_window, tr("Save Map As"), QStringLiteral("harvix-map.png"));
    QString error;
    if (path.isEmpty())
        return;
    if (!m_map->save(path, &error))
        QMessageBox::warning(m_window, tr("Save Map As"), tr("The map was not saved: %1").arg(error));
    else
        m_window->statusBar()->showMessage(tr("The map was saved as %1.").arg(path), 0);
}

void Panes::savePlotAs()
{
    if (!m_plots->showsPicture()) {
        QMessageBox::information(m_window, tr("Save Plot As"), tr("Show one of the plots first: it is the plot saved."));
        return;
    }
    const QString path = PictureFile::ask(m_window, tr("Save Plot As"), QStringLiteral("harvix-plot.png"));
    if (path.isEmpty())
        return;
    // As big on paper as on a screen of 96 dots to the inch, at first.
    const std::optional<PictureFile::PrintSize> print = PictureFile::askPrintSize(
        m_window, tr("Save Plot As"), { QSizeF(m_plots->shownPictureSize()) / 96 * 2.54, 300 });
    if (!print)
        return;
    QString error;
    if (!m_plots->saveShown(path, *print, &error))
        QMessageBox::warning(m_window, tr("Save Plot As"), tr("The plot was not saved: %1").arg(error));
    else
        m_window->statusBar()->showMessage(tr("The plot was saved as %1.").arg(path), 0);
}

void Panes::goToPlace(const QString &typed, QCompleter *completer)
{
    QInputDialog dialog(m_window);
    dialog.setWindowTitle(tr("Go to Place"));
    dialog.setLabelText(tr("A town or city, or a latitude and longitude:"));
    dialog.setTextValue(typed);
    if (auto *field = dialog.findChild<QLineEdit *>())
        field->setCompleter(completer);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString name;
    const std::optional<GeoPoint> point = ShippedData::places().pointNamed(dialog.textValue(), &name);
    if (!point) {
        QMessageBox::critical(m_window, tr("Go to Place"),
                              tr("No place is called \"%1\".").arg(dialog.textValue().trimmed()));
        return;
    }
    emit mapWanted();
    m_map->showPlace(*point, name);
}

Outcome Panes::exportEvents(const QString &path)
{
    const QuakeDataManager *search = m_shown->search();
    const std::optional<EventExport::Format> format = EventExport::formatOf(path);
    if (!format)
        return Outcome::failed(tr("%1: the name must end in .csv, .geojson or .xml").arg(path));
    // In the tree's order.
    const std::vector<const RawEvent *> events = search ? StoreOrder::alignRaw(search->rawEvents())
                                                        : std::vector<const RawEvent *>();
    // A bar and a Cancel button for an export that takes more than a second.
    QProgressDialog progress(tr("Exporting %1 events...").arg(events.size()), tr("Cancel"), 0, int(events.size()),
                             m_window);
    progress.setWindowTitle(tr("Export Events"));
    progress.setMinimumDuration(1000);
    progress.setWindowModality(Qt::WindowModal);
    // Declustered, each event's cluster and mainshock too (in the store's order).
    std::vector<EventExport::Cluster> clusters;
    if (search && m_shown->isDeclustered() && m_shown->clusters().size() == events.size()) {
        const std::vector<LocatedEvent> &located = *m_shown->events();
        clusters.reserve(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            const std::int32_t mainshock = m_shown->mainshocks()[i];
            clusters.push_back({ m_shown->clusters()[i],
                                 mainshock < 0 ? std::string() : std::string(located[std::size_t(mainshock)].reference()) });
        }
    }
    return EventExport::writeFile(path, *format, events, [&progress](qint64 done, qint64) {
        progress.setValue(int(done));
        return !progress.wasCanceled();
    }, clusters.empty() ? nullptr : &clusters);
}

void Panes::exportEventsAs()
{
    QString selected;
    QString path = QFileDialog::getSaveFileName(
        m_window, tr("Export Events As"), QStringLiteral("harvix-events.csv"),
        tr("CSV, GeoNet's quake search columns (*.csv);;GeoJSON (*.geojson);;QuakeML 1.2 (*.xml)"), &selected);
    if (path.isEmpty())
        return;
    if (!EventExport::formatOf(path))
        path += selected.contains(QLatin1String("geojson")) ? QStringLiteral(".geojson")
              : selected.contains(QLatin1String("QuakeML")) ? QStringLiteral(".xml") : QStringLiteral(".csv");
    const Outcome exported = exportEvents(path);
    switch (exported.kind) {
    case Outcome::Done:
        m_window->statusBar()->showMessage(tr("The events were exported to %1 (times in UTC).").arg(path), 0);
        break;
    case Outcome::Failed:
        QMessageBox::warning(m_window, tr("Export Events As"), tr("The events were not exported: %1").arg(exported.error));
        break;
    case Outcome::Cancelled:
        m_window->statusBar()->showMessage(tr("The export was cancelled; nothing was written."), 0);
        break;
    }
}
