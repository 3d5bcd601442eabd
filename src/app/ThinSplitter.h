#pragma once

#include <QWidget>

#include <vector>

// The sizes of one direction of a splitter: each row or column has an ideal, a minimum and a
// current size.
struct SplitterTrack
{
    int ideal = 0;
    int minimum = 0;
    int current = 0;
};

// Lays the tracks out over `insideSize` pixels with `gap` pixels between two of them: every
// track but the last gets its ideal size while room lasts, the last takes the rest, a track
// below its minimum gives its room to the one before it, and a track left with no room is 0.
void LayoutSplitterTracks(std::vector<SplitterTrack> &tracks, int insideSize, int gap);

// Where each track starts, given the first start, the current sizes and the gap.
std::vector<int> SplitterTrackStarts(const std::vector<SplitterTrack> &tracks, int first, int gap);

// A static splitter with thin geometry: 5-pixel bars and gaps and a 1-pixel sunken border.
// Panes are placed in a grid of rows x columns; dragging a bar sets the ideal size of the pane
// before it.
class CThinSplitterWnd : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBar = 5;
    static constexpr int kGap = 5;
    static constexpr int kBorder = 1;

    CThinSplitterWnd(int rows, int columns, QWidget *parent = nullptr);

    // Puts `pane` into the slot; a nested splitter is placed one pixel larger on every side so
    // that its own border meets this one's.
    void SetPane(int row, int column, QWidget *pane);
    void SetColumnInfo(int column, int ideal, int minimum);
    void SetRowInfo(int row, int ideal, int minimum);
    void RecalcLayout();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // The bar under `pos`: its direction and the index of the track before it; -1 for none.
    int barAt(QPoint pos, Qt::Orientation *orientation) const;

    std::vector<SplitterTrack> rows_, columns_;
    std::vector<QWidget *> panes_;
    int dragBar_ = -1;
    Qt::Orientation dragOrientation_ = Qt::Horizontal;
};
