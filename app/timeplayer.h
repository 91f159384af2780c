#pragma once

// "View → Play Through Time": a bar under the window's panes that plays the
// shown result through time. Its slider runs over the result's span (first
// to last event); at its end everything is shown. Played, or with the
// slider moved, the map (its view kept), the plots and the list show only
// the events up to the time in the bar's label; while playing, the events
// whose time comes flash on the map (app/mapflashes.h). The speed is
// catalogue time a second of playing, an hour to a year. Following live is
// held while the bar is open, so that playing and new results do not
// fight. Closing the bar shows everything again; the tree is never cut.

#include "app/animationexport.h"

#include <QElapsedTimer>
#include <QObject>

#include <cmath>
#include <vector>

class LiveFollower;
class Panes;
class QAction;
class QComboBox;
class QLabel;
class QMainWindow;
class QSlider;
class QTimer;
class QToolBar;
class QToolButton;
class QuakeDataManager;
class ShownResult;
struct LocatedEvent;

class TimePlayer : public QObject
{
    Q_OBJECT

public:
    // Plays the shown result on the panes' map, its time written to the
    // result for every view.
    TimePlayer(QMainWindow *window, Panes *panes, ShownResult *shown, LiveFollower *live);

    // Checkable; Space while the map has the focus opens the bar, which
    // Space then plays and pauses, and Escape closes.
    QAction *action() const { return m_action; }
    // "Export Animation...": the result played as a video, at the bar's
    // speed (app/animationexport.h), with a progress dialog that cancels.
    QAction *exportAction() const { return m_exportAction; }
    // Writes the shown result as a video; the outcome also in the status bar.
    Outcome exportAnimation(const QString &path, const AnimationExport::Options &options);
    // The options a video starts from: 720p at 30 frames a second, as long
    // as the result plays at the bar's speed (and a second), 2 to 120 s.
    AnimationExport::Options defaultOptions() const;
    // The catalogue seconds that a second of playing covers, by speed.
    static const std::vector<std::pair<QString, double>> &speeds();
    // The slowest speed that plays a span (seconds) within a minute.
    static int speedFor(double spanSeconds);

    // The time shown (UTC seconds): HUGE_VAL with the bar closed or at the
    // span's end.
    double shownUntil() const;
    // The shown result's events; null for none.
    const std::vector<LocatedEvent> *events() const { return m_events; }
    bool isPlaying() const;
    // From where the slider stands, or from the start when at the end.
    void play();
    void pause();
    // Shows the events up to the time, as the slider does; no flashes.
    void showTime(double utcSeconds);
    // Plays one frame of so many seconds while playing (as the frame timer
    // does).
    void advance(double seconds);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setOpen(bool open);
    void resultShown();
    void apply(double time, bool flashing);
    void frame();
    int sliderOf(double time) const;

    QMainWindow *m_window;
    Panes *m_panes;
    ShownResult *m_shown;
    LiveFollower *m_live;
    QAction *m_action;
    QAction *m_exportAction;
    QToolBar *m_bar;
    QToolButton *m_playButton;
    QSlider *m_slider;
    QComboBox *m_speed;
    QLabel *m_label;
    QTimer *m_frames;
    QElapsedTimer m_clock;
    const std::vector<LocatedEvent> *m_events = nullptr;
    double m_first = 0, m_last = 0;   // the result's span
    bool m_timed = false;             // whether any event of it has a time
    double m_time = 0;                // the time played to
};
