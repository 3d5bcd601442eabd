#pragma once

#include <QString>
#include <QStringList>

// The photo entries directly inside a folder, in file-manager order, as full paths: the
// folder with its trailing slashes removed, one slash, the name. An entry counts when its
// name is longer than 2 characters, ends in a photo extension and exists; entries are not
// tested for being folders, so a folder named trip.jpg is listed like a photo. An
// unreadable or missing folder gives an empty list. Reads the disk: call it off the UI
// thread.
QStringList ScanFolder(const QString &folder);

// The prefix ScanFolder puts before each name: trailing slashes removed, then one slash.
QString FolderPrefix(const QString &folder);
