#pragma once

#include "Platform/capture/CaptureError.h"

#include <QImage>
#include <QRect>

namespace platform {

// What full-screen overlays need from the X screen: one still picture of it,
// and whether windows can be translucent over what lies below them.

// One picture of `rect` (root coordinates) read now, with this call's own
// connection; no pointer drawn in. Format_RGB32. Throws CaptureError when no X
// display answers or `rect` is empty or reaches beyond the screen.
QImage grabScreen(const QRect& rect);

// Whether a compositing manager runs on the default X screen (the
// _NET_WM_CM_S<n> selection has an owner). Without one, a window with an alpha
// channel is drawn opaque: nothing can be dimmed while it stays live. False
// when no X display answers.
bool compositingManagerRunning();

} // namespace platform
