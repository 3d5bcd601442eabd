#pragma once

#include "photo/PhotoImage.h"
#include "photo/ThumbnailCache.h"
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

// Where a tile's picture came from.
enum class TileSource { None, Cache, Embedded, Decoded };

// A photo's picture for its tile, upright as its EXIF orientation says, with where it goes in
// the well.
struct TilePicture {
    QImage image; // null when the photo cannot be shown
    TilePlacement place;
    TileSource source = TileSource::None;
};

// The photo's own embedded EXIF thumbnail when it is faithful (it decodes, it fills the well on
// the side that fills it, and it has the photo's shape within 1 %), else the photo decoded at
// the tile's size (never the full size). Null when the photo cannot be decoded or the request
// was cancelled.
TilePicture LoadTilePicture(const QString &path, const CancelToken &token = {});

// What making one tile found, and what is to go into the shared thumbnail cache afterwards.
struct TileLoad {
    TilePicture picture;
    FileStamp stamp;        // the file's as it was read; size -1 when there is no such file
    bool unchanged = false; // the file still has the stamp it was asked about: nothing was read
    int decodes = 0;        // decodes of the photo itself (0 or 1)
    QImage forCache;        // a normal-size thumbnail to store; null for none
    bool failed = false;    // the photo can be read but not decoded: the failure is to be stored
};

// A tile's picture by the quickest way there is: nothing at all when the file still has the
// stamp `known` of a picture already at hand (size -1 for none); else a valid entry of the
// shared cache (or its record of a failure); else the embedded thumbnail; else decoding. It
// only reads: what is to be written comes back, so that filling the cache never slows a page.
TileLoad LoadTile(const QString &path, const ThumbnailCache &cache, FileStamp known = {}, const CancelToken &token = {});
// Writes what a load left to store.
void StoreTileLoad(const ThumbnailCache &cache, const QString &path, const TileLoad &load, const CancelToken &token = {});

// A copy of the frame with the picture in its well (at most 100 x 90 pixels of it).
QImage ComposeTile(const TilePicture &picture, bool uploaded);
QImage ComposeTile(const TilePicture &picture, const QImage &frame);

// The tile of a photo file; a photo that cannot be decoded gives the frame with an empty
// well. Safe on any thread.
QImage MakeThumbnailTile(const QString &path, bool uploaded, const CancelToken &token = {});
