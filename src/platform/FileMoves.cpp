#include "platform/FileMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file system has no such operation (as opposed to refusing this rename).
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

int linkThenUnlink(const char *from, const char *to)
{
    if (::link(from, to) != 0)
        return errno;
    if (::unlink(from) != 0) {
        const int error = errno;
        ::unlink(to); // the old name stays the only one, as before
        return error;
    }
    return 0;
}

int checkThenRename(const char *from, const char *to)
{
    struct stat st;
    if (::lstat(to, &st) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from, to) == 0 ? 0 : errno;
}

} // namespace

int RenameWithoutReplacing(const QString &from, const QString &to, NoReplaceMethod method)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    // A NUL would cut the name short and rename the file to something else entirely.
    if (source.isEmpty() || target.isEmpty() || source.contains('\0') || target.contains('\0'))
        return EINVAL;

    switch (method) {
    case NoReplaceMethod::LinkThenUnlink: return linkThenUnlink(source.constData(), target.constData());
    case NoReplaceMethod::CheckThenRename: return checkThenRename(source.constData(), target.constData());
    case NoReplaceMethod::Best: break;
    }
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (!unsupported(error))
        return error;
    // Folders cannot be hard-linked, and some file systems (FAT, many FUSE mounts) know no links.
    error = linkThenUnlink(source.constData(), target.constData());
    if (!unsupported(error))
        return error;
    return checkThenRename(source.constData(), target.constData());
}

bool MoveToTrash(const QString &path, QString *error)
{
    // Qt 6.4 moves a file into "files" under the working folder, and calls that a success,
    // when it cannot set the home trash up (the data folder missing, or "Trash" not a folder).
    // So the home trash is made first, and a file that went anywhere but into a trash is put
    // back where it was.
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
    for (const char *sub : {"/files", "/info"}) {
        if (!QDir().mkpath(trash + QLatin1String(sub))) {
            if (error)
                *error = QStringLiteral("The trash folder ") + trash + QStringLiteral(" cannot be made.");
            return false;
        }
    }
    QFile file(path);
    if (!file.moveToTrash()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QString moved = file.fileName();
    if (QDir::isAbsolutePath(moved))
        return true;
    if (error) {
        *error = QStringLiteral("The trash folder ") + trash + QStringLiteral(" cannot be used.");
        if (!QFile::rename(moved, path))
            *error += QStringLiteral(" The file is now ") + QFileInfo(moved).absoluteFilePath() + u'.';
    } else {
        QFile::rename(moved, path);
    }
    return false;
}
