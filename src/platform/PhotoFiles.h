#pragma once

#include <QString>
#include <QStringList>

// True when the extension (from the last dot of the last path component) is one of the
// photo types the program handles, whatever its case: x.JPG counts, x.jpe and x.png do not.
bool IsPhotoFile(const QString &path);

// Orders names the way a file manager shows them: numbers by value (IMG_2 before IMG_10),
// letters without regard to case, and exact order only to settle ties. Every folder walk of
// the program uses this order, because the file system itself returns names in hash order.
void SortLikeFileManager(QStringList &names);

// `text` shortened to at most `maxChars` characters by putting "..." in place of a middle
// part, keeping what follows the last "/" (or, when even that does not fit, its beginning).
// Every path shown in a narrow place goes through it: menus, panes, progress texts.
QString CompactPath(const QString &text, int maxChars);

// The names in a folder, files and folders alike, hidden ones included, in the order above.
// "." and ".." are never listed. An unreadable or missing folder gives an empty list.
QStringList FolderEntryNames(const QString &folder);
