#include "app/StartFolder.h"

#include "platform/PhotoFiles.h"

#include <QFileInfo>

void FindFirstPhotoFolder(const QString &folder, QString &removablePhotoFolder, const std::atomic<bool> *stop)
{
    for (const QString &name : FolderEntryNames(folder)) {
        if (stop && stop->load())
            return;
        const QString path = folder + u'/' + name;
        const QFileInfo info(path);
        if (info.isDir()) {
            // A link to a folder may lead back up the tree; a camera's card has none.
            if (info.isSymLink())
                continue;
            if (removablePhotoFolder.isEmpty())
                FindFirstPhotoFolder(path, removablePhotoFolder, stop);
        } else if (IsPhotoFile(path)) {
            removablePhotoFolder = folder;
            return;
        }
    }
}

QString FindRemovablePhotoFolder(const QStringList &drives, const std::atomic<bool> *stop)
{
    QString removablePhotoFolder;
    for (const QString &drive : drives) {
        FindFirstPhotoFolder(drive, removablePhotoFolder, stop);
        if (!removablePhotoFolder.isEmpty())
            break;
    }
    return removablePhotoFolder;
}

QString TreePathForRemovableFolder(const QString &folder, const QStringList &drives)
{
    return drives.contains(folder) ? folder + u'/' : folder;
}
