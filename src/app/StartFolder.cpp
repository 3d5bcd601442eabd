#include "app/StartFolder.h"

#include "platform/PhotoFiles.h"

#include <QFileInfo>

void FindFirstPhotoFolder(const QString &folder, QString &removablePhotoFolder, const CancelToken &token)
{
    QStringList names;
    {
        const auto blocking = token.blocking();
        names = FolderEntryNames(folder);
    }
    for (const QString &name : names) {
        if (token.cancelled())
            return;
        const QString path = folder + u'/' + name;
        QFileInfo info;
        {
            const auto blocking = token.blocking();
            info = QFileInfo(path);
            info.isDir();
        }
        if (info.isDir()) {
            // A link to a folder may lead back up the tree; a camera's card has none.
            if (info.isSymLink())
                continue;
            if (removablePhotoFolder.isEmpty())
                FindFirstPhotoFolder(path, removablePhotoFolder, token);
        } else if (IsPhotoFile(path)) {
            removablePhotoFolder = folder;
            return;
        }
    }
}

QString FindRemovablePhotoFolder(const QStringList &drives, const CancelToken &token)
{
    QString removablePhotoFolder;
    for (const QString &drive : drives) {
        FindFirstPhotoFolder(drive, removablePhotoFolder, token);
        if (!removablePhotoFolder.isEmpty())
            break;
    }
    return removablePhotoFolder;
}

QString TreePathForRemovableFolder(const QString &folder, const QStringList &drives)
{
    return drives.contains(folder) ? folder + u'/' : folder;
}
