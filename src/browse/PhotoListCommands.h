#pragma once

#include "platform/Prompts.h"
#include "platform/Worker.h"

#include <QObject>
#include <QString>
#include <QStringList>

class CQuillmereNewClientView;
class CThumbsView;

// The photo list's commands on files: rename, delete to the trash, and the camera report. The
// checks of a new name are plain functions; everything that touches the disk runs on a worker
// and its outcome comes back to the list on the UI thread.

// A photo's extension: from the last dot of its file name, dot included; empty without a dot.
QString PhotoExtension(const QString &path);

enum class RenameCheck {
    Accepted,
    RejectedSilently, // cancelled, empty, or nothing before the extension
    InvalidName,      // a character no name may hold
    ExtensionChanged,
};
struct RenamePlan
{
    RenameCheck check = RenameCheck::RejectedSilently;
    QString newPath; // set when accepted
};
// What the edited label `newText` of the photo at `oldPath` asks for, before the disk is asked.
RenamePlan PlanPhotoRename(const QString &oldPath, const QString &newText);

// The photo at `oldPath` renamed to `newPath` unless something other than a folder has that
// name; never replaces anything, also when a file appears meanwhile. 0 or an errno; EEXIST
// when the name is taken. Reads and writes the disk.
int RenamePhotoFile(const QString &oldPath, const QString &newPath, const CancelToken &token = {});

// The question asked before photos are moved to the trash.
QString DeleteQuestion(int selectionMark, int selectedCount);

struct TrashOutcome
{
    QStringList trashed;
    QStringList failed; // "name: reason" of each photo that was kept
};
// Moves each photo to the user's trash. Reads and writes the disk.
TrashOutcome MovePhotosToTrash(const QStringList &paths, const CancelToken &token = {});

class PhotoListCommands : public QObject
{
    Q_OBJECT
public:
    PhotoListCommands(CThumbsView &list, CQuillmereNewClientView &view, Prompts &prompts, QObject *parent = nullptr);
    ~PhotoListCommands() override;

    // The label of the photo at `path` was edited to `newText`.
    void RenamePhoto(const QString &path, const QString &newText);
    // The selected photos, after the user says yes.
    void DeletePhotos();
    // The camera report of the selection mark's photo.
    void ShowExtendedPhotoInfo();

signals:
    // A command has run its course, messages included.
    void finished();

private:
    void tell(const QString &text, const QString &caption, PromptIcon icon);
    void endBusy();

    CThumbsView &list_;
    CQuillmereNewClientView &view_;
    Prompts &prompts_;
    bool busy_ = false; // the wait cursor is up for a delete

    // One thread: commands reach the disk in the order they were given.
    WorkerPool pool_{WorkerPool::Options{"qlm-listcmd", WorkPriority::Normal, 1}};
    Worker worker_{this, pool_};
};
