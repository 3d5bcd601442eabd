#include "browse/SlideLayout.h"

#include <QtGlobal>

namespace {

// No picture starts nearer than this to the top of the window.
constexpr qint64 kEdge = 3;

} // namespace

SlideFit FitSlide(QSize photo, QSize area)
{
    // Exact fractions throughout: a photo scaled to the area's width comes out exactly that wide
    // (1024 / 3000 * 3000 in doubles can be 1023.99...). Every position and size is truncated
    // toward zero, as integer division does.
    const qint64 W = photo.width(), H = photo.height(), Aw = area.width(), Ah = area.height();
    if (W <= 0 || H <= 0 || Aw <= 0 || Ah <= 0)
        return {};
    auto fit = [](qint64 x, qint64 y, qint64 w, qint64 h) { return SlideFit{QPoint(int(x), int(y)), QSize(int(w), int(h))}; };
    // Scaled to the area's height (s = Ah / H), centred across, 3 pixels from the top.
    auto byHeight = [&] { return fit((Aw * H - Ah * W) / (2 * H), kEdge, W * Ah / H, Ah); };
    // Scaled to the area's width (s = Aw / W), centred down.
    auto byWidth = [&] { return fit(0, qMax(kEdge, (Ah * W - Aw * H) / (2 * W)), Aw, H * Aw / W); };
    auto natural = [&] { return fit((Aw - W) / 2, qMax(kEdge, (Ah - H) / 2), W, H); };

    if (W > H) {
        if (Aw <= W) // too wide: scaled to the width, unless that leaves it too tall (y < 0)
            return Ah * W < Aw * H ? byHeight() : byWidth();
        return H <= Ah ? natural() : byHeight();
    }
    if (Ah <= H) // too tall: scaled to the height, unless that leaves it too wide (x < 0)
        return Aw * H < Ah * W ? byWidth() : byHeight();
    return W <= Aw ? natural() : byWidth();
}

SlideControlsLayout LayoutControls(QSize window)
{
    const int Wr = window.width(), Hr = window.height();
    SlideControlsLayout l;
    l.panelFrame = QRect(0, Hr - 60, Wr, 60);
    l.close = QPoint(Wr - 80, Hr - 30);
    l.next = QPoint(Wr - 180, Hr - 33);
    l.previous = QPoint(Wr - 300, Hr - 33);
    l.position = QPoint(Wr - 245, Hr - 32);
    l.period = QPoint(Wr - 410, Hr - 32);
    l.periodLabel = QPoint(Wr - 470, Hr - 28);
    l.infoFrame = QPoint(10, Hr - 45);
    l.controlFrame = QPoint(Wr - 485, Hr - 45);
    l.fileName = QRect(20, Hr - 30, 260, 15);
    l.photoSize = QRect(297, Hr - 30, 87, 15);
    return l;
}
