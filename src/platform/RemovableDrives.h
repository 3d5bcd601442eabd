#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The program looks at no more than this many cameras or card readers at once.
inline constexpr int MaxRemovableDrives = 5;

struct MountedVolume {
    QString rootPath; // where the volume is mounted, without a trailing "/"
    QString device;   // the block device, e.g. /dev/sdb1; may be empty
};

// Mount roots of removable media, at most five, in path order. The environment variable
// QUILLMERE_REMOVABLE_ROOTS (folders separated by ":") replaces the scan of the system's
// mounts when it is set, for tests and for systems whose media the scan cannot recognise.
QStringList EnumerateRemovableDrives();

// The pieces of EnumerateRemovableDrives, apart so that they can be checked without media.
QStringList RemovableRootsFromList(const QString &colonSeparated);
QStringList PickRemovableRoots(const QList<MountedVolume> &volumes,
                               const std::function<bool(const MountedVolume &)> &isRemovable);
// Cameras the desktop reaches by their picture-transfer protocols (gphoto2, MTP) are folders
// of its gvfs FUSE mount, one per camera.
QStringList CameraRootsUnder(const QString &gvfsMount);
// Mounted below /media or /run/media (where desktops mount hot-plugged media), or a block
// device on USB or whose disk says "removable" in sysfs.
bool IsRemovableVolume(const MountedVolume &volume, const QString &sysClassBlock = QStringLiteral("/sys/class/block"));
