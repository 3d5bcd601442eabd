#include "photo/ThumbnailTile.h"

#include "photo/ExifReader.h"
#include "platform/DialogColours.h"
#include "platform/WorkerFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {
const QColor FrameGrey(200, 200, 200);
const QColor WellGrey(221, 221, 221);
const QColor WellShadow(128, 128, 128);
const QColor LabelInk(48, 48, 48);

// 5 x 5 capitals, drawn pixel by pixel: a font at that size would smear into grey.
using Glyph = std::array<const char *, 5>;
Glyph glyphFor(char c)
{
    switch (c) {
    case 'U': return {"X...X", "X...X", "X...X", "X...X", ".XXX."};
    case 'P': return {"XXXX.", "X...X", "XXXX.", "X....", "X...."};
    case 'L': return {"X....", "X....", "X....", "X....", "XXXXX"};
    case 'O': return {".XXX.", "X...X", "X...X", "X...X", ".XXX."};
    case 'A': return {".XXX.", "X...X", "XXXXX", "X...X", "X...X"};
    case 'D': return {"XXXX.", "X...X", "X...X", "X...X", "XXXX."};
    case 'E': return {"XXXXX", "X....", "XXXX.", "X....", "XXXXX"};
    default: return {".....", ".....", ".....", ".....", "....."};
    }
}

// The word sits in columns 33 ... 84 and rows 103 ... 107 of the bottom border.
void drawUploaded(QImage &tile)
{
    const QByteArray word = "UPLOADED";
    const int width = int(word.size()) * 6 - 1;
    const int left = 33 + (52 - width) / 2;
    for (int i = 0; i < word.size(); ++i) {
        const Glyph g = glyphFor(word[i]);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x)
                if (g[y][x] == 'X')
                    tile.setPixelColor(left + i * 6 + x, 103 + y, LabelInk);
    }
}

} // namespace

QImage TileFrame(bool uploaded)
{
    QImage tile(TileWidth, TileHeight, QImage::Format_RGB32);
    tile.fill(ListGrey);
    {
        QPainter p(&tile);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(FrameGrey);
        p.drawRoundedRect(QRectF(0.5, 0.5, TileWidth - 1, TileHeight - 1), 8, 8);
        p.setRenderHint(QPainter::Antialiasing, false);
        // The well looks sunk: a darker line above and left of it, a white one below and right.
        p.fillRect(WellLeft - 1, WellTop - 1, WellWidth + 1, 1, WellShadow);
        p.fillRect(WellLeft - 1, WellTop - 1, 1, WellHeight + 1, WellShadow);
        p.fillRect(WellLeft - 1, WellTop + WellHeight, WellWidth + 2, 1, Qt::white);
        p.fillRect(WellLeft + WellWidth, WellTop - 1, 1, WellHeight + 2, Qt::white);
        p.fillRect(WellLeft, WellTop, WellWidth, WellHeight, WellGrey);
    }
    if (uploaded)
        drawUploaded(tile);
    return tile;
}

TilePlacement PlaceInTile(QSize photo)
{
    const qint64 w = photo.width(), h = photo.height();
    if (w <= 0 || h <= 0)
        return {};
    // Integer arithmetic truncates exactly; a double factor times W can land a hair below
    // 100 and lose a column.
    qint64 sw, sh;
    if (w > h) {
        sw = WellWidth;
        sh = WellWidth * h / w;
        if (sh > WellHeight) {
            sh = WellHeight;
            sw = WellHeight * w / h;
        }
    } else {
        sh = WellHeight;
        sw = WellHeight * w / h;
    }
    // A sliver of a panorama still gets one row or column.
    sw = std::max<qint64>(sw, 1);
    sh = std::max<qint64>(sh, 1);
    TilePlacement place;
    place.scaled = QSize(int(sw), int(sh));
    if (sw <= sh || sh == WellHeight)
        place.at = QPoint(WellLeft + (WellWidth - int(sw)) / 2, WellTop);
    else
        place.at = QPoint(WellLeft, WellTop + (WellHeight - int(sh)) / 2);
    return place;
}

namespace {

// Some cameras put a 4:3 thumbnail with black bars into a 3:2 or 16:9 photo: its shape gives it
// away. 1 % allows for thumbnails rounded to whole pixels (160 x 107 for 3:2).
constexpr double kShapeTolerance = 0.01;

bool SameShape(QSize a, QSize b)
{
    const double ra = double(a.width()) / a.height(), rb = double(b.width()) / b.height();
    return std::abs(ra - rb) <= kShapeTolerance * rb;
}

// The placement makes one side span the well; the picture must be at least that large there.
bool FillsWell(QSize picture, const TilePlacement &place)
{
    return place.scaled.width() == WellWidth ? picture.width() >= WellWidth : picture.height() >= WellHeight;
}

// EXIF orientations 5 to 8 store the picture on its side.
QSize UprightSize(QSize stored, int orientation)
{
    return orientation >= 5 ? stored.transposed() : stored;
}

// Turns a picture stored as EXIF orientation 1..8 says upright, as the decoder does for the photo.
QImage TurnUpright(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

// A whole JPEG stream: start of image first, end of image last (some cameras pad with zeros).
// A thumbnail cut short would otherwise decode with its lower part grey.
bool WholeJpeg(const unsigned char *data, size_t size)
{
    while (size > 0 && data[size - 1] == 0)
        --size;
    return size >= 4 && data[0] == 0xFF && data[1] == 0xD8 && data[size - 2] == 0xFF && data[size - 1] == 0xD9;
}

ssize_t ReadDevice(void *cookie, char *buffer, size_t size)
{
    const qint64 n = static_cast<QIODevice *>(cookie)->read(buffer, qint64(size));
    return n < 0 ? -1 : ssize_t(n);
}

struct Embedded {
    QImage image;  // upright; null when there is none or it is not faithful
    QSize upright; // the photo's upright size
};

// The photo's embedded thumbnail, read from the header segments only.
Embedded ReadEmbedded(QIODevice &file)
{
    PhotoInfo info{};
    CExifReader reader(&info);
    FILE *stream = fopencookie(&file, "r", cookie_io_functions_t{ReadDevice, nullptr, nullptr, nullptr});
    if (!stream)
        return {};
    reader.ReadSections(stream);
    std::fclose(stream);

    const CExifReader::Thumbnail thumbnail = reader.embeddedThumbnail();
    const QSize stored(info.width, info.height);
    if (!info.isExif || !thumbnail.data || stored.isEmpty() || !WholeJpeg(thumbnail.data, thumbnail.size))
        return {};
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(thumbnail.data), qsizetype(thumbnail.size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader decoder(&buffer, "jpeg");
    decoder.setAutoTransform(false); // turned by the photo's own orientation below
    // Judged by the size its header gives, before anything is decoded. A thumbnail larger than
    // its photo is none; and a few kilobytes can claim a picture of hundreds of megabytes, so
    // a large one is decoded no larger than the cache's normal entry, all that is ever used.
    const QSize declared = decoder.size();
    if (!declared.isValid() || declared.isEmpty() || declared.width() > stored.width()
        || declared.height() > stored.height() || !SameShape(declared, stored))
        return {};
    const int orientation = reader.primaryOrientation();
    Embedded embedded;
    embedded.upright = UprightSize(stored, orientation);
    if (!FillsWell(UprightSize(declared, orientation), PlaceInTile(embedded.upright)))
        return {};
    if (NormalThumbnailSize(declared) != declared)
        decoder.setScaledSize(NormalThumbnailSize(declared));
    const QImage image = decoder.read();
    if (image.isNull())
        return {};
    embedded.image = TurnUpright(image, orientation);
    return embedded;
}

TilePicture Placed(const QImage &image, QSize photo, TileSource source)
{
    TilePicture picture;
    picture.place = PlaceInTile(photo);
    picture.image = image.size() == picture.place.scaled
        ? image
        : image.scaled(picture.place.scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.source = source;
    return picture;
}

QImage NormalThumbnail(const QImage &image)
{
    const QSize normal = NormalThumbnailSize(image.size());
    return normal == image.size() ? image : image.scaled(normal, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Decodes the photo upright at the tile's size, or at the cache's normal size when `normal` is
// set; `upright` gets the photo's upright size.
QImage DecodeUpright(QIODevice &file, bool normal, const CancelToken &token, QSize *upright)
{
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty() || token.cancelled())
        return {};
    // The reader scales before it turns the picture upright, so a picture stored on its side
    // is asked for at the turned size.
    const bool sideways = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    *upright = sideways ? stored.transposed() : stored;
    const QSize target = normal ? NormalThumbnailSize(*upright) : PlaceInTile(*upright).scaled;
    if (target.isEmpty())
        return {};
    reader.setScaledSize(sideways ? target.transposed() : target);
    QImage image = reader.read();
    if (token.cancelled())
        return {};
    return image;
}

} // namespace

TileLoad LoadTile(const QString &path, const ThumbnailCache &cache, FileStamp known, const CancelToken &token)
{
    RaiseImageAllocationLimit();
    TileLoad load;
    bool readable = false;
    {
        const CancelToken::Blocking call = token.blocking();
        const QFileInfo info(path);
        if (!info.exists())
            return load;
        load.stamp = {info.lastModified().toMSecsSinceEpoch(), info.size()};
        readable = info.isReadable();
    }
    if (known.size >= 0 && load.stamp == known) {
        load.unchanged = true;
        return load;
    }
    // The standard keeps photos the user cannot read out of the cache altogether.
    const bool cached = cache.enabled() && readable;
    if (cached && !token.cancelled()) {
        const ThumbnailCache::Found found = cache.find(path, load.stamp, token);
        if (found.failed)
            return load;
        if (!found.image.isNull()) {
            load.picture = Placed(found.image, found.image.size(), TileSource::Cache);
            if (found.large)
                load.forCache = NormalThumbnail(found.image);
            return load;
        }
    }
    const bool keep = cached && cache.mayWrite(path);

    WorkerFile file(path, token);
    if (token.cancelled() || !file.open(QIODevice::ReadOnly))
        return load;
    const Embedded embedded = ReadEmbedded(file);
    if (!embedded.image.isNull()) {
        load.picture = Placed(embedded.image, embedded.upright, TileSource::Embedded);
        // A thumbnail smaller than a normal entry would be enlarged into it: only the tile uses it.
        if (keep && std::max(embedded.image.width(), embedded.image.height()) >= ThumbnailCache::NormalSize)
            load.forCache = NormalThumbnail(embedded.image);
        return load;
    }
    if (token.cancelled() || !file.seek(0))
        return load;
    load.decodes = 1;
    QSize upright;
    const QImage decoded = DecodeUpright(file, keep, token, &upright);
    if (decoded.isNull()) {
        load.failed = keep && !token.cancelled();
        return load;
    }
    load.picture = Placed(decoded, upright, TileSource::Decoded);
    if (keep)
        load.forCache = decoded;
    return load;
}

void StoreTileLoad(const ThumbnailCache &cache, const QString &path, const TileLoad &load, const CancelToken &token)
{
    if (load.failed)
        cache.storeFailure(path, load.stamp, token);
    else if (!load.forCache.isNull())
        cache.store(path, load.stamp, load.forCache, token);
}

TilePicture LoadTilePicture(const QString &path, const CancelToken &token)
{
    return LoadTile(path, ThumbnailCache(), {}, token).picture;
}

QImage ComposeTile(const TilePicture &picture, const QImage &frame)
{
    QImage tile = frame;
    if (!picture.image.isNull()) {
        QPainter p(&tile);
        p.drawImage(picture.place.at, picture.image, QRect(0, 0, WellWidth, WellHeight));
    }
    return tile;
}

QImage ComposeTile(const TilePicture &picture, bool uploaded)
{
    return ComposeTile(picture, TileFrame(uploaded));
}

QImage MakeThumbnailTile(const QString &path, bool uploaded, const CancelToken &token)
{
    return ComposeTile(LoadTilePicture(path, token), uploaded);
}
