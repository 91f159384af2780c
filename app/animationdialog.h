#pragma once

// Asks how to export a result played through time: the video's size,
// frame rate and length, and whether the magnitude-time plot goes beside
// the map; then where, as WebM (VP9) or MP4 (H.264).

#include "app/animationexport.h"

class QWidget;

namespace AnimationDialog {

// The options start as given; false when the user cancels.
bool ask(QWidget *parent, AnimationExport::Options *options, QString *path);

} // namespace AnimationDialog
