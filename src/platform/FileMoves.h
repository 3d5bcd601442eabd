#pragma once

#include <QString>

// How a file is given a new name without ever replacing what already has that name.
enum class NoReplaceMethod {
    Best,            // the kernel's no-replace rename, else the others as the file system allows
    LinkThenUnlink,  // a second name made by link() (refused when taken), then the old one removed
    CheckThenRename, // for file systems with neither: the name looked up, then renamed
};

// Renames `from` to `to` unless something (a file, a folder, a dangling link) already has that
// name: the check and the rename are one step wherever the file system allows it, so a file
// that appears meanwhile is never overwritten. Returns 0 or the errno of the failure (EEXIST
// when the name is taken). Reads and writes the disk: call it on a worker.
int RenameWithoutReplacing(const QString &from, const QString &to, NoReplaceMethod method = NoReplaceMethod::Best);

// Moves a file or folder to the user's trash (the freedesktop trash: the home trash, or the
// trash at the top of the volume that holds it). False, with the reason in `error`, when it
// stays where it was.
bool MoveToTrash(const QString &path, QString *error = nullptr);
