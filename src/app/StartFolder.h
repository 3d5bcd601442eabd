#pragma once

#include <QString>
#include <QStringList>

#include "platform/Worker.h"

// Depth first through a folder in file-manager order: the folder of the first photo met
// decides. A photo directly in a folder that is met after a subfolder already gave a result
// replaces that result with the containing folder; once a result is known no further
// subfolder is entered. Writes the result into removablePhotoFolder. A cancelled token ends
// the walk at the next entry; each folder read counts as a call that may block.
void FindFirstPhotoFolder(const QString &folder, QString &removablePhotoFolder, const CancelToken &token = {});

// The first folder holding a photo on the first removable drive that has one; empty when
// none has. Drives are given as mount roots without a trailing "/".
QString FindRemovablePhotoFolder(const QStringList &drives, const CancelToken &token = {});

// A result that is a drive itself (a photo in the card's root) gets its trailing "/" back
// before the folder tree is asked for it.
QString TreePathForRemovableFolder(const QString &folder, const QStringList &drives);
