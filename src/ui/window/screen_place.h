#pragma once

#include <QPoint>

class QWidget;

namespace pulsaro {

// Moves the window to at, or as near as keeps it wholly on a screen.
void moveOnScreen(QWidget& window, QPoint at);

// Centres the window on the primary screen: its whole area, or only the part
// that panels leave free.
void centreOnScreen(QWidget& window, bool availableArea);

}  // namespace pulsaro
