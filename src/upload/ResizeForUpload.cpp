#include "upload/ResizeForUpload.h"

#include "photo/PhotoImage.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

QSize UploadCopySize(QSize upright, int maxPixelSize)
{
    const qint64 w = upright.width(), h = upright.height(), m = maxPixelSize;
    if (m <= 0 || w <= 0 || h <= 0 || (w < m && h < m))
        return {};
    // The longer side is exactly m; the other is scaled in whole numbers, so that no rounding
    // of a floating factor leaves the longer side a pixel short.
    if (w > h)
        return QSize(int(m), int(std::max<qint64>(1, h * m / w)));
    return QSize(int(std::max<qint64>(1, w * m / h)), int(m));
}

QString ResizeForUpload(const QString &photoPath, int maxPixelSize, const QString &folder, const CancelToken &token)
{
    if (maxPixelSize <= 0 || folder.isEmpty())
        return photoPath;
    // The copy carries no EXIF block, so its pixels are written upright: a portrait photo
    // stored on its side would otherwise arrive sideways.
    const UprightPicture copy = DecodeUprightAt(
        photoPath, [maxPixelSize](QSize upright) { return UploadCopySize(upright, maxPixelSize); }, nullptr, token);
    if (copy.picture.isNull() || token.cancelled())
        return photoPath;
    const QString copyPath = QDir(folder).filePath(QFileInfo(photoPath).fileName());
    if (copyPath == QFileInfo(photoPath).absoluteFilePath() || !SaveDisplayedImage(copy.picture, copyPath, nullptr, token))
        return photoPath;
    return copyPath;
}
