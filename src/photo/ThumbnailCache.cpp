#include "photo/ThumbnailCache.h"

#include "platform/WorkerFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#ifndef QUILLMERE_VERSION
#error "QUILLMERE_VERSION names the program's version in its failure folder"
#endif

namespace {

const QString UriKey = QStringLiteral("Thumb::URI");
const QString MTimeKey = QStringLiteral("Thumb::MTime");
const QString SizeKey = QStringLiteral("Thumb::Size");

// RFC 2396: a path holds unreserved characters, the segment characters ":@&=+$," and "/".
bool AllowedInPath(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("-_.!~*'()" ":@&=+$," "/", c) != nullptr;
}

// Thumb::MTime is stat's seconds; a stamp keeps milliseconds.
qint64 Seconds(FileStamp stamp)
{
    return stamp.modified >= 0 ? stamp.modified / 1000 : -((-stamp.modified + 999) / 1000);
}

bool IsBelow(const QString &path, const QString &folder)
{
    const QString f = QDir::cleanPath(folder);
    return path == f || path.startsWith(f.endsWith(u'/') ? f : f + u'/');
}

// Makes `folder` and whatever is missing above it, each only for its owner, as the standard and
// the XDG base directories ask. True when the folder is there.
bool MakeFolders(const QString &folder)
{
    QStringList missing;
    for (QString at = folder; !QFileInfo(at).exists();) {
        missing.prepend(at);
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    for (const QString &m : std::as_const(missing))
        if (::mkdir(QFile::encodeName(m).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    return QFileInfo(folder).isDir();
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

// PNG's CRC-32 (ISO 3309), over a chunk's type and data.
quint32 PngCrc(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void AppendBigEndian(QByteArray &to, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        to += char((value >> shift) & 0xFF);
}

// The entry's PNG with each key in a tEXt chunk right after the header. Qt's writer would put a
// value of 40 characters or more, every real URI, into a compressed zTXt chunk, and file
// managers that check entries by their tEXt chunks alone would then take ours as invalid and
// write them again. Empty when the picture cannot be encoded.
QByteArray EncodeEntry(const QImage &image, const QList<std::pair<QString, QString>> &keys)
{
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!QImageWriter(&buffer, "png").write(image))
            return {};
    }
    // The signature, then IHDR: 4 bytes of length, 4 of type, 13 of data, 4 of CRC.
    constexpr qsizetype kAfterHeader = 8 + 4 + 4 + 13 + 4;
    if (png.size() < kAfterHeader || png.mid(12, 4) != "IHDR")
        return {};
    QByteArray chunks;
    for (const auto &[key, value] : keys) {
        const QByteArray body = "tEXt" + key.toLatin1() + '\0' + value.toLatin1();
        AppendBigEndian(chunks, quint32(body.size() - 4));
        chunks += body;
        AppendBigEndian(chunks, PngCrc(body));
    }
    return png.insert(kAfterHeader, chunks);
}

// The entry in `file` when it is a PNG that shows `uri` as it is now; null otherwise.
QImage ReadEntry(const QString &file, int maxSide, const QByteArray &uri, FileStamp stamp, const CancelToken &token)
{
    WorkerFile f(file, token);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&f, "png");
    // No larger than its folder's size: a few kilobytes of PNG can unpack into hundreds of
    // megabytes, and this runs for every tile.
    const QSize declared = reader.size();
    if (!declared.isValid() || std::max(declared.width(), declared.height()) > maxSide)
        return {};
    // Read whole: the reader's header texts split keys at their "::".
    const QImage entry = reader.read();
    if (entry.isNull() || entry.text(UriKey).toLatin1() != uri)
        return {};
    bool ok = false;
    if (entry.text(MTimeKey).toLongLong(&ok) != Seconds(stamp) || !ok)
        return {};
    const QString size = entry.text(SizeKey);
    if (!size.isEmpty() && (size.toLongLong(&ok) != stamp.size || !ok))
        return {};
    return entry;
}

} // namespace

QByteArray ThumbnailUri(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QByteArray uri = "file://";
    uri.reserve(uri.size() + bytes.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (AllowedInPath(c)) {
            uri += ch;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

QString ThumbnailFileName(const QByteArray &uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

QSize NormalThumbnailSize(QSize size)
{
    const int w = size.width(), h = size.height();
    if (w <= 0 || h <= 0 || std::max(w, h) <= ThumbnailCache::NormalSize)
        return size;
    const int n = ThumbnailCache::NormalSize;
    return w >= h ? QSize(n, std::max(1, int((qint64(n) * h + w / 2) / w)))
                  : QSize(std::max(1, int((qint64(n) * w + h / 2) / h)), n);
}

ThumbnailCache::ThumbnailCache(Options options) : options_(std::move(options))
{
    if (!options_.root.isEmpty())
        options_.root = QDir::cleanPath(options_.root);
}

ThumbnailCache ThumbnailCache::Standard()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return ThumbnailCache(Options{base + QStringLiteral("/thumbnails"), {QDir::tempPath()},
                                  QStringLiteral("quillmere-" QUILLMERE_VERSION)});
}

QString ThumbnailCache::normalFolder() const
{
    return options_.root + QStringLiteral("/normal");
}

QString ThumbnailCache::largeFolder() const
{
    return options_.root + QStringLiteral("/large");
}

QString ThumbnailCache::failFolder() const
{
    return options_.root + QStringLiteral("/fail/") + options_.program;
}

bool ThumbnailCache::mayWrite(const QString &path) const
{
    if (!enabled())
        return false;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (IsBelow(clean, options_.root))
        return false;
    return std::none_of(options_.privateFolders.begin(), options_.privateFolders.end(),
                        [&](const QString &folder) { return !folder.isEmpty() && IsBelow(clean, folder); });
}

ThumbnailCache::Found ThumbnailCache::find(const QString &path, FileStamp stamp, const CancelToken &token) const
{
    Found found;
    if (!enabled() || stamp.size < 0)
        return found;
    const QByteArray uri = ThumbnailUri(path);
    const QString name = u'/' + ThumbnailFileName(uri);
    found.image = ReadEntry(normalFolder() + name, NormalSize, uri, stamp, token);
    if (found.image.isNull()) {
        found.image = ReadEntry(largeFolder() + name, LargeSize, uri, stamp, token);
        found.large = !found.image.isNull();
    }
    if (found.image.isNull() && !options_.program.isEmpty())
        found.failed = !ReadEntry(failFolder() + name, NormalSize, uri, stamp, token).isNull();
    return found;
}

bool ThumbnailCache::store(const QString &path, FileStamp stamp, const QImage &normal, const CancelToken &token) const
{
    return !normal.isNull() && write(normalFolder(), path, stamp, normal, token);
}

bool ThumbnailCache::storeFailure(const QString &path, FileStamp stamp, const CancelToken &token) const
{
    if (options_.program.isEmpty())
        return false;
    // The standard's "empty PNG": one transparent pixel, carrying the keys.
    QImage blank(1, 1, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    return write(failFolder(), path, stamp, blank, token);
}

bool ThumbnailCache::write(const QString &folder, const QString &path, FileStamp stamp, const QImage &image,
                           const CancelToken &token) const
{
    if (!mayWrite(path) || stamp.size < 0 || token.cancelled())
        return false;
    const QByteArray uri = ThumbnailUri(path);
    // 8-bit RGBA, as the standard asks of every thumbnail.
    const QByteArray png = EncodeEntry(image.convertToFormat(QImage::Format_ARGB32),
                                       {{UriKey, QString::fromLatin1(uri)},
                                        {MTimeKey, QString::number(Seconds(stamp))},
                                        {SizeKey, QString::number(stamp.size)}});
    if (png.isEmpty())
        return false;

    const CancelToken::Blocking call = token.blocking();
    if (!MakeFolders(folder))
        return false;
    const QByteArray target = QFile::encodeName(folder + u'/' + ThumbnailFileName(uri));
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // mode 0600
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, png);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.constData(), target.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}
