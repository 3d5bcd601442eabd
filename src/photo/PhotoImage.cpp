#include "photo/PhotoImage.h"

#include "photo/ClampToInt.h"
#include "platform/WorkerFile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMutexLocker>
#include <QPainter>
#include <QSaveFile>

#include <climits>
#include <cmath>
#include <mutex>

namespace {

// A size whose request the JPEG reader meets by decoding at 1/denominator scale (it picks the
// scale from the whole ratio of the sizes, so the size must not round up).
QSize JpegScaledSize(QSize stored, int denominator)
{
    return QSize(stored.width() / denominator, stored.height() / denominator);
}

QImage OverBlack(QImage image)
{
    if (!image.hasAlphaChannel())
        return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    QImage out(image.size(), QImage::Format_RGB32);
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    out.fill(Qt::black);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

} // namespace

void RaiseImageAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(1024); });
}

DisplaySize ComputeDisplaySize(int zoomRequest, int photoWidth, int photoHeight, int clientWidth, int clientHeight)
{
    DisplaySize d;
    const double W = photoWidth, H = photoHeight;
    if (zoomRequest != 0) {
        d.zoom = zoomRequest;
        const double factor = zoomRequest * double(0.01f);
        d.width = ClampToInt(W * factor);
        d.height = ClampToInt(H * factor);
        return d;
    }
    if (photoWidth <= 0 || photoHeight <= 0) {
        d.zoom = 100;
        return d;
    }
    const double cw = clientWidth, ch = clientHeight;
    double r;
    if (W > H) {
        r = cw / W;
        const int off = r > 1.0 ? (clientHeight - photoHeight) / 2 : ClampToInt((ch - H * r) * 0.5);
        if (off < 0)
            r = ch / H;
    } else {
        r = ch / H;
        const int off = r > 1.0 ? (clientWidth - photoWidth) / 2 : ClampToInt((cw - W * r) * 0.5);
        if (off < 0)
            r = cw / W;
    }
    if (r > 1.0) {
        d.zoom = 100;
        d.width = photoWidth;
        d.height = photoHeight;
    } else {
        d.zoom = ClampToInt(r * 100);
        d.width = ClampToInt(W * r);
        d.height = ClampToInt(H * r);
    }
    return d;
}

int QuarterTurnsFor(int rotationSteps)
{
    const int s = rotationSteps % 4; // -3..3, the sign of rotationSteps
    return s < 0 ? s + 4 : s;
}

QImage TurnImage(const QImage &image, int quarterTurns)
{
    const int q = ((quarterTurns % 4) + 4) % 4;
    if (q == 0 || image.isNull())
        return image;
    return image.transformed(QTransform().rotate(90.0 * q));
}

FileStamp StampOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.lastModified().toMSecsSinceEpoch(), info.size()};
}

QImage DecodedPhotoCache::find(const QString &path, FileStamp stamp, QSize atLeast) const
{
    QMutexLocker lock(&mutex_);
    if (image_.isNull() || path != path_ || stamp != stamp_)
        return {};
    if (image_.width() < atLeast.width() || image_.height() < atLeast.height())
        return {};
    return image_;
}

void DecodedPhotoCache::keep(const QString &path, FileStamp stamp, const QImage &decoded)
{
    QMutexLocker lock(&mutex_);
    if (decoded.sizeInBytes() > budget_) {
        // Holding two pictures of different photos would break the budget; drop the old one.
        if (path != path_)
            image_ = QImage();
        return;
    }
    path_ = path;
    stamp_ = stamp;
    image_ = decoded;
}

void DecodedPhotoCache::clear()
{
    QMutexLocker lock(&mutex_);
    image_ = QImage();
    path_.clear();
}

int DecodedPhotoCache::decodeCount() const
{
    QMutexLocker lock(&mutex_);
    return decodes_;
}

void DecodedPhotoCache::countDecode()
{
    QMutexLocker lock(&mutex_);
    ++decodes_;
}

UprightPicture DecodeUprightAt(const QString &path, const std::function<QSize(QSize upright)> &sizeFor,
                               DecodedPhotoCache *cache, const CancelToken &token)
{
    RaiseImageAllocationLimit();
    UprightPicture result;
    if (path.isEmpty())
        return result;

    WorkerFile file(path, token);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    FileStamp stamp;
    {
        const CancelToken::Blocking call = token.blocking();
        stamp = StampOf(path);
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty() || token.cancelled())
        return result;
    const bool sideways = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize upright = sideways ? stored.transposed() : stored;

    const QSize target = sizeFor(upright);
    if (target.width() <= 0 || target.height() <= 0)
        return result; // nothing to show at this size; refusing is better than a null-sized picture

    QImage decoded = cache ? cache->find(path, stamp, target) : QImage();
    if (decoded.isNull()) {
        // A JPEG decodes fastest at 1/2, 1/4 or 1/8 of its size: take the smallest of those
        // that is still no smaller than the target, and keep it, so later zoom steps up to that
        // size need no decoding.
        QSize decodeSize = stored;
        if (reader.format() == "jpeg") {
            const QSize storedTarget = sideways ? target.transposed() : target;
            for (int den : {8, 4, 2}) {
                const QSize s = JpegScaledSize(stored, den);
                if (s.width() >= storedTarget.width() && s.height() >= storedTarget.height()) {
                    decodeSize = s;
                    break;
                }
            }
        } else if (target.width() < upright.width() && target.height() < upright.height()) {
            decodeSize = sideways ? target.transposed() : target;
        }
        if (decodeSize != stored)
            reader.setScaledSize(decodeSize);
        decoded = reader.read();
        if (cache)
            cache->countDecode();
        if (decoded.isNull() || token.cancelled())
            return result;
        if (cache)
            cache->keep(path, stamp, decoded);
    }
    if (token.cancelled())
        return result;

    QImage picture = decoded.size() == target
        ? decoded
        : decoded.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    result.picture = OverBlack(std::move(picture));
    result.photoSize = upright;
    return result;
}

RenderResult RenderPhoto(const RenderRequest &request, DecodedPhotoCache *cache, const CancelToken &token)
{
    RenderResult result;
    result.rotationSteps = request.rotationSteps;
    const UprightPicture decoded = DecodeUprightAt(
        request.path,
        [&](QSize upright) {
            const DisplaySize ds = ComputeDisplaySize(request.zoomRequest, upright.width(), upright.height(),
                                                      request.client.width(), request.client.height());
            result.currentZoom = ds.zoom;
            return QSize(ds.width, ds.height);
        },
        cache, token);
    if (decoded.picture.isNull())
        return result;

    const QImage picture = TurnImage(decoded.picture, QuarterTurnsFor(request.rotationSteps));
    result.picture = picture;
    result.photoWidth = decoded.photoSize.width();
    result.photoHeight = decoded.photoSize.height();
    result.displayWidth = picture.width();
    result.displayHeight = picture.height();
    return result;
}

int FindEncoderByMimeType(const QByteArray &mimeType, QByteArray *format)
{
    const QList<QByteArray> types = QImageWriter::supportedMimeTypes();
    const int index = int(types.indexOf(mimeType));
    if (index >= 0 && format) {
        // The writer is chosen by format name; the first name that maps to this type.
        *format = mimeType == "image/jpeg" ? QByteArray("jpeg") : mimeType.mid(mimeType.indexOf('/') + 1);
    }
    return index;
}

bool SaveDisplayedImage(const QImage &picture, const QString &path, QString *error, const CancelToken &token)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QByteArray format;
    if (FindEncoderByMimeType("image/jpeg", &format) < 0)
        return fail(QStringLiteral("No JPEG encoder is available."));
    if (picture.isNull())
        return fail(QStringLiteral("There is no picture to save."));
    // Encoded first, so that only the file's own calls count as blocking ones.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(picture))
            return fail(writer.errorString());
    }
    if (token.cancelled())
        return fail(QStringLiteral("The save was cancelled."));
    const CancelToken::Blocking call = token.blocking();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

void ClearReadOnly(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return;
    const QFileDevice::Permissions perms = file.permissions();
    if (!(perms & QFileDevice::WriteOwner))
        file.setPermissions(perms | QFileDevice::WriteOwner);
}
