// File > Export Events As...: the events of the tree, as they were received.

#include "app/mainappwindow.h"

#include "app/eventexport.h"
#include "quakeml/quakemlreader.h"
#include "service/quakedatamanager.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>

bool MainAppWindow::exportEvents(const QString &path, QString *error)
{
    const std::optional<EventExport::Format> format = EventExport::formatOf(path);
    if (!format) {
        *error = tr("%1: the name must end in .csv, .geojson or .xml").arg(path);
        return false;
    }
    // In the tree's order.
    const std::vector<const RawEvent *> events = m_shownSearch ? QuakeMLReader::alignRaw(m_shownSearch->rawEvents())
                                                               : std::vector<const RawEvent *>();
    // A bar and a Cancel button for an export that takes more than a second.
    QProgressDialog progress(tr("Exporting %1 events...").arg(events.size()), tr("Cancel"), 0, int(events.size()), this);
    progress.setWindowTitle(tr("Export Events"));
    progress.setMinimumDuration(1000);
    progress.setWindowModality(Qt::WindowModal);
    return EventExport::writeFile(path, *format, events, [&progress](qint64 done, qint64) {
        progress.setValue(int(done));
        return !progress.wasCanceled();
    }, error);
}

void MainAppWindow::exportEventsAs()
{
    QString selected;
    QString path = QFileDialog::getSaveFileName(
        this, tr("Export Events As"), QStringLiteral("harvix-events.csv"),
        tr("CSV, GeoNet's quake search columns (*.csv);;GeoJSON (*.geojson);;QuakeML 1.2 (*.xml)"), &selected);
    if (path.isEmpty())
        return;
    if (!EventExport::formatOf(path))
        path += selected.contains(QLatin1String("geojson")) ? QStringLiteral(".geojson")
              : selected.contains(QLatin1String("QuakeML")) ? QStringLiteral(".xml") : QStringLiteral(".csv");
    QString error;
    if (exportEvents(path, &error))
        statusBar()->showMessage(tr("The events were exported to %1 (times in UTC).").arg(path), 0);
    else if (!error.isEmpty())
        QMessageBox::warning(this, tr("Export Events As"), tr("The events were not exported: %1").arg(error));
    else
        statusBar()->showMessage(tr("The export was cancelled; nothing was written."), 0);
}
