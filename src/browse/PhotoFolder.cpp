#include "browse/PhotoFolder.h"

#include "platform/PhotoFiles.h"

#include <QFileInfo>

QString FolderPrefix(const QString &folder)
{
    QString prefix = folder;
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    return prefix + u'/';
}

QStringList ScanFolder(const QString &folder)
{
    const QString prefix = FolderPrefix(folder);
    QStringList photos;
    for (const QString &name : FolderEntryNames(folder)) {
        if (name.size() > 2 && IsPhotoFile(name) && QFileInfo::exists(prefix + name))
            photos << prefix + name;
    }
    return photos;
}
