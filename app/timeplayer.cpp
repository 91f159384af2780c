#include "app/timeplayer.h"

#include "app/animationdialog.h"
#include "app/eventlistmodel.h"
#include "app/livefollower.h"
#include "app/mapwidget.h"
#include "app/panes.h"
#include "app/shownresult.h"
#include "service/quakedatamanager.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int SliderSteps = 10000;
constexpr int FrameMilliseconds = 33;

} // namespace

TimePlayer::TimePlayer(QMainWindow *window, Panes *panes, ShownResult *shown, LiveFollower *live)
    : QObject(window)
    , m_window(window)
    , m_panes(panes)
    , m_shown(shown)
    , m_live(live)
    , m_action(new QAction(tr("Play Through Time"), window))
    , m_exportAction(new QAction(tr("Export Animation\u2026"), window))
    , m_bar(new QToolBar(tr("Time"), window))
    , m_playButton(new QToolButton(m_bar))
    , m_slider(new QSlider(Qt::Horizontal, m_bar))
    , m_speed(new QComboBox(m_bar))
    , m_label(new QLabel(m_bar))
    , m_frames(new QTimer(this))
{
    setObjectName(QStringLiteral("timePlayer"));
    m_action->setObjectName(QStringLiteral("actionPlayThroughTime"));
    m_action->setCheckable(true);
    m_action->setShortcut(QKeySequence(Qt::Key_Space));
    m_action->setShortcutContext(Qt::WidgetShortcut);
    panes->map()->addAction(m_action);
    connect(m_action, &QAction::toggled, this, &TimePlayer::setOpen);
    m_exportAction->setObjectName(QStringLiteral("actionExportAnimation"));
    m_exportAction->setShortcut(QKeySequence(tr("Ctrl+Shift+E")));
    m_exportAction->setEnabled(false);
    connect(m_exportAction, &QAction::triggered, this, [this] {
        if (!m_events || m_events->empty()) {
            m_window->statusBar()->showMessage(tr("There are no events to animate: search first."), 0);
            return;
        }
        AnimationExport::Options options = defaultOptions();
        QString path;
        if (AnimationDialog::ask(m_window, &options, &path))
            exportAnimation(path, options);
    });

    m_bar->setObjectName(QStringLiteral("timeBar"));
    m_bar->setMovable(false);
    m_playButton->setObjectName(QStringLiteral("playPauseCtrl"));
    m_playButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_slider->setObjectName(QStringLiteral("timeSliderCtrl"));
    m_slider->setRange(0, SliderSteps);
    m_slider->setMinimumWidth(200);
    m_speed->setObjectName(QStringLiteral("playSpeedCtrl"));
    for (const auto &[text, seconds] : speeds())
        m_speed->addItem(text, seconds);
    m_label->setObjectName(QStringLiteral("timeLabelCtrl"));
    m_label->setMinimumWidth(m_label->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00 NZDT")) + 12);
    auto *close = new QToolButton(m_bar);
    close->setText(tr("Close"));
    close->setToolTip(tr("Show every event again"));
    m_bar->addWidget(m_playButton);
    m_bar->addWidget(m_slider);
    m_bar->addWidget(m_label);
    m_bar->addWidget(m_speed);
    m_bar->addWidget(close);
    window->addToolBar(Qt::BottomToolBarArea, m_bar);
    m_bar->hide();
    pause();

    connect(m_playButton, &QToolButton::clicked, this, [this] { isPlaying() ? pause() : play(); });
    connect(close, &QToolButton::clicked, m_action, [this] { m_action->setChecked(false); });
    // A value set from outside (a drag, a click, a key, a screen reader)
    // pauses and shows that time; the player's own moves are not heard.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        pause();
        showTime(m_first + (m_last - m_first) * value / SliderSteps);
    });
    // Play and Pause take the same room, so that the slider stays put.
    int buttonWidth = 0;
    for (const QString &text : { tr("Pause"), tr("Play") }) {
        m_playButton->setText(text);
        buttonWidth = std::max(buttonWidth, m_playButton->sizeHint().width());
    }
    m_playButton->setMinimumWidth(buttonWidth);
    // While the bar is open, Space on the map plays and pauses, as a
    // player's does, and Escape closes it.
    panes->map()->installEventFilter(this);
    m_frames->setTimerType(Qt::PreciseTimer);
    connect(m_frames, &QTimer::timeout, this, &TimePlayer::frame);
    connect(shown, &ShownResult::resultShown, this, &TimePlayer::resultShown);
}

const std::vector<std::pair<QString, double>> &TimePlayer::speeds()
{
    static const std::vector<std::pair<QString, double>> all = {
        { tr("An hour a second"), 3600 },       { tr("6 hours a second"), 6 * 3600 },
        { tr("A day a second"), 86400 },        { tr("A week a second"), 7 * 86400 },
        { tr("A month a second"), 30.4375 * 86400 }, { tr("A year a second"), 365.25 * 86400 },
    };
    return all;
}

int TimePlayer::speedFor(double spanSeconds)
{
    const std::vector<std::pair<QString, double>> &all = speeds();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (spanSeconds / all[i].second <= 60)
            return int(i);
    }
    return int(all.size()) - 1;
}

bool TimePlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_bar->isVisible() || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool space = key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier;
    const bool escape = key->key() == Qt::Key_Escape && !m_panes->map()->isDrawingSection();
    if (!space && !escape)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Taken as a key press, not as the action's shortcut.
        event->accept();
        return true;
    }
    if (space)
        isPlaying() ? pause() : play();
    else
        m_action->setChecked(false);
    return true;
}

double TimePlayer::shownUntil() const
{
    return m_shown->until();
}

bool TimePlayer::isPlaying() const
{
    return m_frames->isActive();
}

void TimePlayer::play()
{
    if (!m_events || !(m_last > m_first))
        return;
    m_live->setHeld(true);
    apply(m_time >= m_last ? m_first : m_time, true);
    m_playButton->setText(tr("Pause"));
    m_playButton->setIcon(m_window->style()->standardIcon(QStyle::SP_MediaPause));
    m_clock.start();
    m_frames->start(FrameMilliseconds);
}

void TimePlayer::pause()
{
    const bool wasPlaying = isPlaying();
    m_frames->stop();
    m_playButton->setText(tr("Play"));
    m_playButton->setIcon(m_window->style()->standardIcon(QStyle::SP_MediaPlay));
    if (wasPlaying)
        apply(m_time, false);
}

void TimePlayer::showTime(double utcSeconds)
{
    apply(std::clamp(utcSeconds, m_first, m_last), false);
}

void TimePlayer::advance(double seconds)
{
    const double time = m_time + seconds * m_speed->currentData().toDouble();
    if (time >= m_last) {
        m_time = m_last;
        pause();   // which shows the end, everything
    } else {
        apply(time, true);
    }
}

void TimePlayer::frame()
{
    advance(m_clock.restart() / 1000.0);
}

void TimePlayer::setOpen(bool open)
{
    m_frames->stop();
    pause();
    m_bar->setVisible(open);
    m_live->setHeld(open);
    if (open) {
        apply(m_last, false);
        return;
    }
    m_shown->setTimeShown(HUGE_VAL);
}

void TimePlayer::resultShown()
{
    m_events = m_shown->events();
    m_first = HUGE_VAL;
    m_last = -HUGE_VAL;
    for (std::size_t i = 0; m_events && i < m_events->size(); ++i) {
        const double t = (*m_events)[i].utcSeconds;
        if (std::isfinite(t)) {
            m_first = std::min(m_first, t);
            m_last = std::max(m_last, t);
        }
    }
    m_timed = m_first <= m_last;
    m_exportAction->setEnabled(m_timed);
    if (!m_timed)
        m_first = m_last = 0;
    m_speed->setCurrentIndex(speedFor(m_last - m_first));
    m_frames->stop();
    pause();
    if (m_action->isChecked())
        apply(m_last, false);
}

void TimePlayer::apply(double time, bool flashing)
{
    m_time = time;
    // At the span's end, everything (events without a time too).
    m_shown->setTimeShown(time >= m_last ? HUGE_VAL : time, flashing ? m_speed->currentData().toDouble() : 0);
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(sliderOf(time));
    m_label->setText(m_timed ? EventListModel::localTime(time) : QString());
}

AnimationExport::Options TimePlayer::defaultOptions() const
{
    AnimationExport::Options options;
    options.seconds = std::clamp(std::ceil((m_last - m_first) / m_speed->currentData().toDouble()) + 1, 2.0, 120.0);
    return options;
}

Outcome TimePlayer::exportAnimation(const QString &path, const AnimationExport::Options &options)
{
    if (!m_events || m_events->empty())
        return Outcome::failed(tr("no events are shown"));
    // The video draws its own copy of the events the map shows (the
    // mainshocks alone when declustered), and following live waits until it
    // is written: the result shown may not change under it meanwhile.
    std::vector<LocatedEvent> events;
    events.reserve(m_events->size());
    for (std::size_t i = 0; i < m_events->size(); ++i) {
        if (!m_shown->isHidden(i))
            events.push_back((*m_events)[i]);
    }
    pause();
    const bool wasHeld = m_live->isHeld();
    m_live->setHeld(true);
    QProgressDialog progress(tr("Writing the video..."), tr("Cancel"), 0, 100, m_window);
    progress.setWindowTitle(tr("Export Animation"));
    progress.setMinimumDuration(500);
    progress.setWindowModality(Qt::WindowModal);
    const Outcome written = AnimationExport::write(path, events, *m_panes->map(), options, [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        return !progress.wasCanceled();
    });
    // Gone before any message, so that nothing stands over it.
    progress.reset();
    progress.hide();
    m_live->setHeld(wasHeld);
    switch (written.kind) {
    case Outcome::Done:
        m_window->statusBar()->showMessage(tr("The animation was written to %1.").arg(path), 0);
        break;
    case Outcome::Failed:
        QMessageBox::warning(m_window, tr("Export Animation"), tr("The animation was not written: %1").arg(written.error));
        break;
    case Outcome::Cancelled:
        m_window->statusBar()->showMessage(tr("The animation was cancelled; no file was written."), 0);
        break;
    }
    return written;
}

int TimePlayer::sliderOf(double time) const
{
    if (!(m_last > m_first))
        return SliderSteps;
    return int(std::lround((time - m_first) / (m_last - m_first) * SliderSteps));
}
