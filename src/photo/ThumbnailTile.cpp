#include "photo/ThumbnailTile.h"

#include "platform/DialogColours.h"
#include "platform/WorkerFile.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <array>

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

TilePicture LoadTilePicture(const QString &path, const CancelToken &token)
{
    WorkerFile file(path, token);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty() || token.cancelled())
        return {};
    // The reader scales before it turns the picture upright, so a picture stored on its side
    // is asked for at the turned size.
    const bool sideways = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    TilePicture picture;
    picture.place = PlaceInTile(sideways ? stored.transposed() : stored);
    if (picture.place.scaled.isEmpty())
        return {};
    reader.setScaledSize(sideways ? picture.place.scaled.transposed() : picture.place.scaled);
    QImage image = reader.read();
    if (image.isNull() || token.cancelled())
        return {};
    if (image.size() != picture.place.scaled)
        image = image.scaled(picture.place.scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.image = image;
    return picture;
}

QImage ComposeTile(const TilePicture &picture, bool uploaded)
{
    QImage tile = TileFrame(uploaded);
    if (!picture.image.isNull()) {
        QPainter p(&tile);
        p.drawImage(picture.place.at, picture.image, QRect(0, 0, WellWidth, WellHeight));
    }
    return tile;
}

QImage MakeThumbnailTile(const QString &path, bool uploaded, const CancelToken &token)
{
    return ComposeTile(LoadTilePicture(path, token), uploaded);
}
