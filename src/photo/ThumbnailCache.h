#pragma once

#include "photo/PhotoImage.h"
#include "platform/Worker.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The thumbnails a user's programs share (the freedesktop Thumbnail Managing Standard): PNG
// files named after the MD5 of the photo's URI, in `normal` (128 pixels) and `large` (256),
// each saying which file and which version of it (`Thumb::URI`, `Thumb::MTime`,
// `Thumb::Size`) it shows. File managers fill it, and so does the photo list, so that a photo
// is decoded once for all of them.

// The absolute canonical URI of a local file: "file://" and its absolute path (".", ".." and
// doubled slashes resolved, links not followed), every byte of the path's file-system name that
// RFC 2396 does not allow in a path percent-encoded in upper-case hexadecimal.
QByteArray ThumbnailUri(const QString &path);
// The name of a file's entries: the MD5 of its URI in lower-case hexadecimal, then ".png".
QString ThumbnailFileName(const QByteArray &uri);
// A normal thumbnail's size for a picture of `size`: its longer side 128, never enlarged.
QSize NormalThumbnailSize(QSize size);

class ThumbnailCache
{
public:
    static constexpr int NormalSize = 128;
    static constexpr int LargeSize = 256;

    struct Options
    {
        QString root;               // the thumbnails folder; empty: no cache at all
        QStringList privateFolders; // nothing is written for a photo below one of these
        QString program;            // names the folder of our own failures under fail/
    };

    ThumbnailCache() = default; // none: finds nothing, writes nothing
    explicit ThumbnailCache(Options options);
    // The user's: $XDG_CACHE_HOME/thumbnails (~/.cache/thumbnails when unset), writing nothing
    // for photos in the temporary folder, whose entries would outlive them.
    static ThumbnailCache Standard();

    bool enabled() const { return !options_.root.isEmpty(); }
    const Options &options() const { return options_; }
    // Entries may be written for this photo: it lies neither below a private folder nor in the
    // cache itself.
    bool mayWrite(const QString &path) const;

    struct Found
    {
        QImage image;       // the entry's picture, upright; null when no entry is valid
        bool large = false; // it came from `large`
        bool failed = false; // our own record that the photo cannot be decoded
    };
    // The valid entry of `path` as it is now (`stamp`): `normal` first, then `large`, then our
    // failure record. An entry is valid when it is a PNG no larger than its folder's size, whose
    // URI is the photo's, whose MTime is the photo's modification time in seconds, and whose
    // Size, when it has one, is the photo's size. Anything else is ignored and replaced at the
    // next store. Reads only.
    Found find(const QString &path, FileStamp stamp, const CancelToken &token = {}) const;

    // Writes the normal entry (mode 0600; folders made 0700) through a temporary file in the
    // same folder renamed into place, so that no reader ever sees half an entry. False when
    // nothing was written: no cache, a private photo, a folder that cannot be written.
    bool store(const QString &path, FileStamp stamp, const QImage &normal, const CancelToken &token = {}) const;
    // Records that `path` cannot be decoded, under fail/<program>/, so that it is not tried
    // again until it changes.
    bool storeFailure(const QString &path, FileStamp stamp, const CancelToken &token = {}) const;

    QString normalFolder() const;
    QString largeFolder() const;
    QString failFolder() const;

private:
    bool write(const QString &folder, const QString &path, FileStamp stamp, const QImage &image,
               const CancelToken &token) const;

    Options options_;
};
