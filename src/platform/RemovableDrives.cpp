#include "platform/RemovableDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace {

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QStringList firstInPathOrder(QStringList roots)
{
    std::sort(roots.begin(), roots.end());
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    if (roots.size() > MaxRemovableDrives)
        roots.resize(MaxRemovableDrives);
    return roots;
}

bool readsOne(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && f.read(1) == "1";
}

} // namespace

QStringList RemovableRootsFromList(const QString &colonSeparated)
{
    QStringList roots;
    for (const QString &part : colonSeparated.split(u':', Qt::SkipEmptyParts)) {
        // A root that is not there now is a drive that is not attached.
        if (QFileInfo(part).isDir())
            roots << withoutTrailingSlash(part);
    }
    return firstInPathOrder(roots);
}

QStringList PickRemovableRoots(const QList<MountedVolume> &volumes,
                               const std::function<bool(const MountedVolume &)> &isRemovable)
{
    QStringList roots;
    for (const MountedVolume &v : volumes) {
        const QString root = withoutTrailingSlash(v.rootPath);
        // The system's own root is never a camera, whatever its device says.
        if (root.isEmpty() || root == u"/")
            continue;
        if (isRemovable(v))
            roots << root;
    }
    return firstInPathOrder(roots);
}

bool IsRemovableVolume(const MountedVolume &volume, const QString &sysClassBlock)
{
    const QString root = withoutTrailingSlash(volume.rootPath);
    // Desktops mount hot-plugged media below these folders.
    if (root.startsWith(u"/media/") || root.startsWith(u"/run/media/"))
        return true;
    if (!volume.device.startsWith(u"/dev/"))
        return false;
    const QString name = QFileInfo(QFileInfo(volume.device).canonicalFilePath()).fileName();
    if (name.isEmpty())
        return false;
    // A partition (sdb1) has no "removable" of its own: its disk (sdb) holds it, one folder up.
    const QString entry = sysClassBlock + u'/' + name;
    // A disk on USB is a camera, a card reader or a stick even when it calls itself fixed,
    // as many readers do.
    if (QFileInfo(entry).canonicalFilePath().contains(QStringLiteral("/usb")))
        return true;
    if (QFile::exists(entry + QStringLiteral("/removable")))
        return readsOne(entry + QStringLiteral("/removable"));
    const QString disk = QFileInfo(QFileInfo(entry).canonicalFilePath()).path();
    return readsOne(disk + QStringLiteral("/removable"));
}

QStringList CameraRootsUnder(const QString &gvfsMount)
{
    QStringList roots;
    const QStringList names = QDir(gvfsMount).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        if (name.startsWith(QStringLiteral("gphoto2:")) || name.startsWith(QStringLiteral("mtp:")))
            roots << gvfsMount + u'/' + name;
    }
    return roots;
}

QStringList EnumerateRemovableDrives()
{
    const QByteArray overrideRoots = qgetenv("QUILLMERE_REMOVABLE_ROOTS");
    if (!overrideRoots.isNull())
        return RemovableRootsFromList(QString::fromLocal8Bit(overrideRoots));

    const QString camera = QStringLiteral("camera");
    QList<MountedVolume> volumes;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid() || !info.isReady())
            continue;
        if (info.fileSystemType().startsWith("fuse.gvfsd-fuse")) {
            for (const QString &root : CameraRootsUnder(info.rootPath()))
                volumes.push_back({root, camera});
            continue;
        }
        volumes.push_back({info.rootPath(), QString::fromLocal8Bit(info.device())});
    }
    return PickRemovableRoots(volumes,
                              [&camera](const MountedVolume &v) { return v.device == camera || IsRemovableVolume(v); });
}
