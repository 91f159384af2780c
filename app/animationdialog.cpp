#include "app/animationdialog.h"

#include "app/videowriter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>

namespace AnimationDialog {

namespace {

// The choices of the last video made, offered again.
const char sizeKey[] = "video/size";
const char rateKey[] = "video/framesPerSecond";
const char plotKey[] = "video/withPlot";
const char titleKey[] = "video/title";

} // namespace

bool ask(QWidget *parent, AnimationExport::Options *options, QString *path)
{
    QSettings settings;
    options->size = settings.value(QLatin1String(sizeKey), options->size).toSize();
    options->framesPerSecond = settings.value(QLatin1String(rateKey), options->framesPerSecond).toInt();
    options->withPlot = settings.value(QLatin1String(plotKey), options->withPlot).toBool();
    options->title = settings.value(QLatin1String(titleKey), options->title).toString();
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("animationDialog"));
    dialog.setWindowTitle(QObject::tr("Export Animation"));
    auto *form = new QFormLayout(&dialog);
    auto *size = new QComboBox(&dialog);
    size->setObjectName(QStringLiteral("videoSizeCtrl"));
    for (const QSize &choice : { QSize(1280, 720), QSize(1920, 1080), QSize(3840, 2160), QSize(1080, 1080), QSize(854, 480) })
        size->addItem(QObject::tr("%1 \u00d7 %2").arg(choice.width()).arg(choice.height()), choice);
    size->setCurrentIndex(std::max(0, size->findData(options->size)));
    auto *rate = new QSpinBox(&dialog);
    rate->setObjectName(QStringLiteral("videoRateCtrl"));
    rate->setRange(10, 60);
    rate->setSuffix(QObject::tr(" frames a second"));
    rate->setValue(options->framesPerSecond);
    auto *seconds = new QDoubleSpinBox(&dialog);
    seconds->setObjectName(QStringLiteral("videoSecondsCtrl"));
    seconds->setRange(2, 600);
    seconds->setDecimals(0);
    seconds->setSuffix(QObject::tr(" s"));
    seconds->setValue(options->seconds);
    auto *plot = new QCheckBox(QObject::tr("The magnitude\u2013time plot beside the map"), &dialog);
    plot->setObjectName(QStringLiteral("videoPlotCtrl"));
    plot->setChecked(options->withPlot);
    auto *title = new QLineEdit(options->title, &dialog);
    title->setObjectName(QStringLiteral("videoTitleCtrl"));
    title->setPlaceholderText(QObject::tr("None"));
    title->setToolTip(QObject::tr("Written at the top of every frame"));
    form->addRow(QObject::tr("Title:"), title);
    form->addRow(QObject::tr("Size:"), size);
    form->addRow(QObject::tr("Frame rate:"), rate);
    form->addRow(QObject::tr("Length:"), seconds);
    form->addRow(plot);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options->size = size->currentData().toSize();
    options->framesPerSecond = rate->value();
    options->seconds = seconds->value();
    options->withPlot = plot->isChecked();
    options->title = title->text().trimmed();
    settings.setValue(QLatin1String(sizeKey), options->size);
    settings.setValue(QLatin1String(rateKey), options->framesPerSecond);
    settings.setValue(QLatin1String(plotKey), options->withPlot);
    settings.setValue(QLatin1String(titleKey), options->title);

    QString selected;
    QString chosen = QFileDialog::getSaveFileName(parent, QObject::tr("Export Animation"), QStringLiteral("harvix-events.webm"),
                                                  QObject::tr("WebM, VP9 (*.webm);;MP4, H.264 (*.mp4)"), &selected);
    if (chosen.isEmpty())
        return false;
    if (!VideoWriter::formatOf(chosen))
        chosen += selected.contains(QLatin1String("mp4")) ? QStringLiteral(".mp4") : QStringLiteral(".webm");
    *path = chosen;
    return true;
}

} // namespace AnimationDialog
