#pragma once

#include <QString>
#include <QStringList>

// The photo files directly inside a folder, in file-manager order, as full paths. A name
// of two characters or fewer never counts, whatever its extension. Reads the disk: call it
// off the UI thread.
QStringList ListPhotoFiles(const QString &folder);
