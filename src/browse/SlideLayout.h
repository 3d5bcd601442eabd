#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// The slideshow's arithmetic, apart from any window: where a photo goes in the area above the
// control panel, and where the panel's controls go in a window of a given size.

// The strip along the bottom of the window that the control panel takes from the pictures.
constexpr int SlidePanelStrip = 63;

struct SlideFit
{
    QPoint at;  // top-left corner in the window
    QSize size{0, 0}; // the size shown; 0 x 0 when nothing is shown
};

// A photo of `photo` pixels (upright) in an area of `area` pixels: as large as fits without
// ever enlarging it, centred across, kept at least 3 pixels from the top (or the left) edge.
// A photo smaller than the area across but larger than it the other way is shrunk until it
// fits, like any photo too large for the area. An empty photo or area shows nothing.
SlideFit FitSlide(QSize photo, QSize area);

// The control panel's places in a window of `window` pixels. The rectangles whose size is
// given are sized too; the others only move (each control keeps its own size).
struct SlideControlsLayout
{
    QRect panelFrame;
    QPoint close, next, previous, position, period, periodLabel, infoFrame, controlFrame;
    QRect fileName, photoSize;
};
SlideControlsLayout LayoutControls(QSize window);
