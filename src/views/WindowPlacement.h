#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace lumeno {

// One window to tile: outer sizes, frame included.
struct TileItem {
    QSize preferred;     // what it has now, or was built with
    QSize minimum;       // what it needs at least
    bool fixed = false;  // keeps its preferred size exactly
};

// Places the items over area in rows, keeping their order, so that no two overlap: every
// item gets at least its minimum and a fixed one exactly its size; of all ways to break the
// order into rows, the one that changes the items' shapes least. Empty when they cannot all
// fit.
std::vector<QRect> TileRects(const std::vector<TileItem>& items, QRect area);

// The tile of a window: its outer size now, and the least outer size it accepts (minTwips
// where the window keeps one by itself; its fixed size for a fixed window).
TileItem TileOf(const QWidget& window, QSize minTwips);

// Moves and sizes the windows over area as TileRects places them. False (and nothing moved)
// when they cannot all fit.
bool ArrangeWindows(const std::vector<QWidget*>& windows, const std::vector<TileItem>& items,
                    QRect area);

// The screen area windows may use: the available area of the screen that shows window.
QRect AvailableArea(const QWidget& window);

// Moves a window so that all of it, frame included, lies on the available area of its
// screen, and shrinks a resizable one that is larger than that area. A window not shown
// yet has no frame to measure: room for a usual title bar and border is left.
void FitOnScreen(QWidget& window);

// The outer size of a window: its frame, or before the window system has added one, room
// for a usual title bar and border.
QMargins FrameMargins(const QWidget& window);

}  // namespace lumeno
