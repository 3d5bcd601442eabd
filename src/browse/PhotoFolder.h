#pragma once

#include "platform/Worker.h"

#include <QString>
#include <QStringList>

// The photo entries directly inside a folder, in file-manager order, as full paths: the
// folder with its trailing slashes removed, one slash, the name. An entry counts when its
// name is longer than 2 characters and ends in a photo extension; the listing has just named
// it, so it is not looked up again. Entries are not tested for being folders, so a folder
// named trip.jpg is listed like a photo. An unreadable or missing folder, or a cancelled
// request, gives an empty list. Reads the disk: call it on a worker.
QStringList ScanFolder(const QString &folder, const CancelToken &token = {});

// The prefix ScanFolder puts before each name: trailing slashes removed, then one slash.
QString FolderPrefix(const QString &folder);
