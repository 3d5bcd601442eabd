#include "app/RecentFolders.h"

#include "platform/PhotoFiles.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QStorageInfo>

QStringList InsertRecentFolder(QStringList folders, const QString &folder)
{
    const qsizetype existing = folders.indexOf(folder);
    if (existing >= 0)
        folders.removeAt(existing);
    else if (folders.size() >= SettingsStore::RecentFolderCount)
        folders.resize(SettingsStore::RecentFolderCount - 1);
    folders.prepend(folder);
    return folders;
}

QString AbsoluteFolderPath(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    // QDir::absoluteFilePath joins without cleaning, so "." and ".." stay as typed.
    return QDir::current().absoluteFilePath(path);
}

QString WithoutVolumeRootSlash(const QString &path)
{
    if (path.size() < 2 || !path.endsWith(u'/'))
        return path;
    const QString bare = path.chopped(1);
    return QStorageInfo(path).rootPath() == bare ? bare : path;
}


QList<RecentMenuEntry> RecentMenuEntries(const QStringList &folders)
{
    QList<RecentMenuEntry> entries;
    if (folders.isEmpty()) {
        entries.push_back({QStringLiteral("Recent Folder"), QString(), false, 0});
        return entries;
    }
    int n = 0;
    for (const QString &folder : folders) {
        if (folder.isEmpty() || n == SettingsStore::RecentFolderCount)
            continue;
        ++n;
        // A "&" in a folder name is shown as itself, not taken for a mnemonic.
        QString shown = CompactPath(folder, 60);
        shown.replace(u'&', QStringLiteral("&&"));
        entries.push_back({QStringLiteral("&%1 %2").arg(n).arg(shown),
                           n == 1 ? QStringLiteral("Show this folder") : QStringLiteral("Open this document"), true, n});
    }
    return entries;
}
