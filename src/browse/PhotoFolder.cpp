#include "browse/PhotoFolder.h"

#include "platform/PhotoFiles.h"

#include <QDir>
#include <QFileInfo>

QStringList ListPhotoFiles(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    SortLikeFileManager(names);
    QString base = folder;
    if (!base.endsWith(u'/'))
        base += u'/';
    QStringList photos;
    for (const QString &name : std::as_const(names)) {
        if (name.size() > 2 && IsPhotoFile(name))
            photos << base + name;
    }
    return photos;
}
