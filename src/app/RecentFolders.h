#pragma once

#include <QString>
#include <QStringList>

// The recent-folder list after a folder was shown: the folder goes to the top, an equal
// entry gives up its place (names are compared exactly: Linux file names differ by case),
// and a fifth folder pushes the oldest out.
QStringList InsertRecentFolder(QStringList folders, const QString &folder);

// The path made absolute against the current folder, and otherwise left as it is.
QString AbsoluteFolderPath(const QString &path);

// A volume's mount root given with its trailing "/" (a card at /media/card/) loses the "/":
// the folder tree looks roots up without it. Every other path is returned unchanged.
QString WithoutVolumeRootSlash(const QString &path);

// One entry of the File menu's recent-folder part.
struct RecentMenuEntry {
    QString text;    // "&1 /home/ann/Photos", the path shortened when it is long
    QString prompt;  // status-bar prompt
    bool enabled = true;
    int index = 0;   // 1 to 4; 0 for the disabled placeholder
};

// The entries standing for the list: one per folder, or a disabled "Recent Folder".
QList<RecentMenuEntry> RecentMenuEntries(const QStringList &folders);
