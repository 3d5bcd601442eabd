#pragma once

#include "platform/Worker.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

// A tile is 118 x 110 pixels: a light grey rounded frame around a 100 x 90 picture well
// whose top-left corner is at (9, 10).
constexpr int TileWidth = 118;
constexpr int TileHeight = 110;
constexpr int WellLeft = 9;
constexpr int WellTop = 10;
constexpr int WellWidth = 100;
constexpr int WellHeight = 90;

// The two frames: plain, or with UPLOADED in the bottom border. Corners show the list's
// grey so that the tile blends into the list.
QImage TileFrame(bool uploaded);

// Where a photo of the given (upright) size goes in the well.
struct TilePlacement {
    QSize scaled; // the photo's size in the tile
    QPoint at;    // its top-left corner in the tile
};

// A landscape photo becomes 100 pixels wide, any other 90 high, centred across the other
// way. A landscape photo nearly square (scaled height over 90) is fitted to the well's
// height instead, so that it never spills over the frame. Empty for an empty size.
TilePlacement PlaceInTile(QSize photo);

// A photo's picture for its tile, upright as its EXIF orientation says, decoded at the
// tile's size (never the full size), with where it goes in the well. Null when the photo
// cannot be decoded or the request was cancelled. This is the step that a photo's embedded
// thumbnail or a tile cached on disk would serve before decoding.
struct TilePicture {
    QImage image;
    TilePlacement place;
};
TilePicture LoadTilePicture(const QString &path, const CancelToken &token = {});

// A copy of the frame with the picture in its well (at most 100 x 90 pixels of it).
QImage ComposeTile(const TilePicture &picture, bool uploaded);

// The tile of a photo file; a photo that cannot be decoded gives the frame with an empty
// well. Safe on any thread.
QImage MakeThumbnailTile(const QString &path, bool uploaded, const CancelToken &token = {});
