#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>

// A JPEG file's bytes: `image` encoded, with `orientation` an EXIF block saying how to turn it
// upright.
inline QByteArray jpegOf(const QImage &image, int orientation = 0)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
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

// A JPEG whose top-left quarter is red and the rest blue, to tell how a picture was turned.
inline QByteArray markedJpeg(QSize size, int orientation = 0)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height() / 2, Qt::red);
    return jpegOf(image, orientation);
}
