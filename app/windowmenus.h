#pragma once

// The window's menu bar: File, Search, View and Help, each action joined
// to the window's slot or the part that does its job.

class Panes;
class QAction;
class QMainWindow;
class QMenu;
class RegionBar;
class TimePlayer;

namespace WindowMenus {

// Fills the window's menu bar; Show Map and Show Plots are checked as
// their panes are shown. Search → Decluster and View → Play Through Time
// come from the parts that do them (app/declusteraction.h,
// app/timeplayer.h), which the window makes.
void fill(QMainWindow *window, Panes *panes, RegionBar *region, QAction *showSequence, QMenu *decluster,
          TimePlayer *player);

} // namespace WindowMenus
