#include "browse/PhotoFolder.h"

#include "platform/PhotoFiles.h"

QString FolderPrefix(const QString &folder)
{
    QString prefix = folder;
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    return prefix + u'/';
}

QStringList ScanFolder(const QString &folder, const CancelToken &token)
{
    QStringList names;
    {
        const CancelToken::Blocking call = token.blocking();
        names = FolderEntryNames(folder);
    }
    if (token.cancelled())
        return {};
    const QString prefix = FolderPrefix(folder);
    QStringList photos;
    for (const QString &name : std::as_const(names)) {
        if (name.size() > 2 && IsPhotoFile(name))
            photos << prefix + name;
    }
    return photos;
}
