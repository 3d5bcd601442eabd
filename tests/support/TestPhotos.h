#pragma once

#include "support/TiffWriter.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>

// JPEG bytes of `image`.
inline QByteArray encodedJpeg(const QImage &image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

// A JPEG file's bytes: `image` encoded, with `orientation` an EXIF block saying how to turn it
// upright.
inline QByteArray jpegOf(const QImage &image, int orientation = 0)
{
    QByteArray bytes = encodedJpeg(image, 95);
    if (orientation) {
        const QByteArray tiff = QByteArray("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19)
                                + char(orientation) + QByteArray("\0\0\0\0\0\0", 6);
        const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
        const int length = int(body.size()) + 2;
        bytes.insert(2, QByteArray("\xff\xe1", 2) + char(length >> 8) + char(length & 0xff) + body);
    }
    return bytes;
}

// A JPEG of one colour.
inline QByteArray jpeg(QSize size, QColor colour, int orientation = 0)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return jpegOf(image, orientation);
}

// A picture whose top-left quarter is red and the rest `rest`, to tell how it was turned.
inline QImage markedImage(QSize size, QColor rest = Qt::blue)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(rest);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height() / 2, Qt::red);
    return image;
}

// A JPEG whose top-left quarter is red and the rest blue.
inline QByteArray markedJpeg(QSize size, int orientation = 0)
{
    return jpegOf(markedImage(size), orientation);
}

// A camera's JPEG made of the JPEG file `photo`: an EXIF block holding `orientation` and, as
// IFD1's thumbnail, the bytes `thumbnail` (normally a small JPEG) go in after its start.
inline QByteArray withExifThumbnail(QByteArray photo, const QByteArray &thumbnail, int orientation = 1,
                                    bool bigEndian = false)
{
    const testexif::TiffWriter w(bigEndian);
    const testexif::Bytes block = w.exifBlockWithThumbnail({w.shortTag(0x0112, uint32_t(orientation))}, {}, {},
                                                           testexif::Bytes(thumbnail.begin(), thumbnail.end()));
    const std::string segment = testexif::Segment(0xE1, block);
    photo.insert(2, QByteArray(segment.data(), qsizetype(segment.size())));
    return photo;
}

inline QByteArray jpegWithThumbnail(const QImage &photo, const QByteArray &thumbnail, int orientation = 1,
                                    bool bigEndian = false)
{
    return withExifThumbnail(encodedJpeg(photo, 95), thumbnail, orientation, bigEndian);
}
