#include "app/ThinSplitter.h"

#include <QMouseEvent>
#include <QPainter>

#include <climits>

void LayoutSplitterTracks(std::vector<SplitterTrack> &tracks, int insideSize, int gap)
{
    if (tracks.empty())
        return;
    const size_t n = tracks.size();
    int room = std::max(0, insideSize);
    for (size_t i = 0; i + 1 < n; ++i) {
        if (tracks[i].ideal < tracks[i].minimum)
            tracks[i].ideal = 0; // too small to be worth showing
        tracks[i].current = tracks[i].ideal;
    }
    tracks[n - 1].current = INT_MAX; // the last one takes the rest

    for (size_t i = 0; i < n; ++i) {
        SplitterTrack &t = tracks[i];
        if (room == 0) {
            t.current = 0;
            continue;
        }
        if (room < t.minimum && i != 0) {
            // Too small for this one: its room goes to the one before.
            t.current = 0;
            tracks[i - 1].current += room + 2;
            room = 0;
        } else if (t.current == 0) {
            // stays hidden
        } else if (t.current > room) {
            t.current = room;
            room = 0;
        } else {
            room -= t.current;
        }
        if (i + 1 < n) {
            if (room > gap) {
                room -= gap;
            } else {
                // No room for a bar and a further pane: the rest joins this pane.
                t.current += room;
                if (t.current > gap - 2)
                    t.current -= gap - 2;
                room = 0;
            }
        }
    }
}

std::vector<int> SplitterTrackStarts(const std::vector<SplitterTrack> &tracks, int first, int gap)
{
    std::vector<int> starts;
    int at = first;
    for (const SplitterTrack &t : tracks) {
        starts.push_back(at);
        at += t.current + gap;
    }
    return starts;
}

CThinSplitterWnd::CThinSplitterWnd(int rows, int columns, QWidget *parent)
    : QWidget(parent), rows_(size_t(rows)), columns_(size_t(columns)), panes_(size_t(rows * columns), nullptr)
{
    setMouseTracking(true);
}

void CThinSplitterWnd::SetPane(int row, int column, QWidget *pane)
{
    pane->setParent(this);
    panes_[size_t(row) * columns_.size() + size_t(column)] = pane;
    pane->show();
    RecalcLayout();
}

void CThinSplitterWnd::SetColumnInfo(int column, int ideal, int minimum)
{
    columns_[size_t(column)].ideal = ideal;
    columns_[size_t(column)].minimum = minimum;
}

void CThinSplitterWnd::SetRowInfo(int row, int ideal, int minimum)
{
    rows_[size_t(row)].ideal = ideal;
    rows_[size_t(row)].minimum = minimum;
}

void CThinSplitterWnd::RecalcLayout()
{
    LayoutSplitterTracks(columns_, width() - 2 * kBorder, kGap);
    LayoutSplitterTracks(rows_, height() - 2 * kBorder, kGap);
    const std::vector<int> xs = SplitterTrackStarts(columns_, kBorder, kGap);
    const std::vector<int> ys = SplitterTrackStarts(rows_, kBorder, kGap);
    for (size_t r = 0; r < rows_.size(); ++r) {
        for (size_t c = 0; c < columns_.size(); ++c) {
            QWidget *pane = panes_[r * columns_.size() + c];
            if (!pane)
                continue;
            QRect slot(xs[c], ys[r], columns_[c].current, rows_[r].current);
            if (qobject_cast<CThinSplitterWnd *>(pane))
                slot.adjust(-1, -1, 1, 1);
            if (slot.width() <= 0 || slot.height() <= 0) {
                pane->hide();
                continue;
            }
            if (pane->geometry() != slot)
                pane->setGeometry(slot);
            pane->show();
        }
    }
    update();
}

void CThinSplitterWnd::resizeEvent(QResizeEvent *)
{
    RecalcLayout();
}

void CThinSplitterWnd::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().button());
    // One sunken rectangle: shadow on the top and left, highlight on the bottom and right.
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

int CThinSplitterWnd::barAt(QPoint pos, Qt::Orientation *orientation) const
{
    const std::vector<int> xs = SplitterTrackStarts(columns_, kBorder, kGap);
    for (size_t c = 0; c + 1 < columns_.size(); ++c) {
        const int left = xs[c] + columns_[c].current;
        if (columns_[c + 1].current > 0 && pos.x() >= left && pos.x() < left + kBar) {
            *orientation = Qt::Horizontal;
            return int(c);
        }
    }
    const std::vector<int> ys = SplitterTrackStarts(rows_, kBorder, kGap);
    for (size_t r = 0; r + 1 < rows_.size(); ++r) {
        const int top = ys[r] + rows_[r].current;
        if (rows_[r + 1].current > 0 && pos.y() >= top && pos.y() < top + kBar) {
            *orientation = Qt::Vertical;
            return int(r);
        }
    }
    return -1;
}

void CThinSplitterWnd::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        dragBar_ = barAt(event->position().toPoint(), &dragOrientation_);
}

void CThinSplitterWnd::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (dragBar_ >= 0) {
        std::vector<SplitterTrack> &tracks = dragOrientation_ == Qt::Horizontal ? columns_ : rows_;
        const std::vector<int> starts = SplitterTrackStarts(tracks, kBorder, kGap);
        const int along = dragOrientation_ == Qt::Horizontal ? pos.x() : pos.y();
        tracks[size_t(dragBar_)].ideal = std::max(0, along - starts[size_t(dragBar_)]);
        RecalcLayout();
        return;
    }
    Qt::Orientation o;
    if (barAt(pos, &o) >= 0)
        setCursor(o == Qt::Horizontal ? Qt::SplitHCursor : Qt::SplitVCursor);
    else
        unsetCursor();
}

void CThinSplitterWnd::mouseReleaseEvent(QMouseEvent *)
{
    dragBar_ = -1;
}
