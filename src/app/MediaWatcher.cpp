#include "app/MediaWatcher.h"

#include "app/RunFlags.h"
#include "platform/PhotoFiles.h"
#include "platform/RemovableDrives.h"
#include "platform/Settings.h"

#include <QFileInfo>

void CollectPhotosUnder(const QString &folder, QStringList &removablePhotos, const CancelToken &token)
{
    QStringList names;
    {
        const auto blocking = token.blocking();
        names = FolderEntryNames(folder);
    }
    // A card's root is given without its "/"; the system's root would give "//name".
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    for (const QString &name : names) {
        if (token.cancelled())
            return;
        const QString path = prefix + name;
        bool isDir = false;
        bool isLink = false;
        {
            const auto blocking = token.blocking();
            const QFileInfo info(path);
            isDir = info.isDir();
            isLink = info.isSymLink();
        }
        if (isDir) {
            if (!isLink)
                CollectPhotosUnder(path, removablePhotos, token);
        } else if (IsPhotoFile(path)) {
            removablePhotos << path;
        }
    }
}

QStringList CollectRemovablePhotos(const QStringList &drives, const CancelToken &token)
{
    QStringList removablePhotos;
    for (const QString &drive : drives)
        CollectPhotosUnder(drive, removablePhotos, token);
    return removablePhotos;
}

bool ShouldStartMediaRun(const MediaWatchState &state)
{
    return state.frameMinimized && state.automaticUpload != 0 && !state.uploadDialogOpen && !state.runUnderWay;
}

MediaWatcher::MediaWatcher(MediaWatchContext context, QObject *parent) : QObject(parent), context_(std::move(context))
{
    if (!context_.removableDrives)
        context_.removableDrives = EnumerateRemovableDrives;
    timer_.setInterval(context_.period);
    connect(&timer_, &QTimer::timeout, this, &MediaWatcher::OnMediaWatchTimer);
}

// A walk stuck on a card that no longer answers is abandoned, never waited for.
MediaWatcher::~MediaWatcher() = default;

MediaWatchState MediaWatcher::state() const
{
    MediaWatchState s;
    s.frameMinimized = context_.frameMinimized && context_.frameMinimized();
    s.automaticUpload = context_.settings->automaticUpload;
    s.uploadDialogOpen = context_.uploadDialogOpen && context_.uploadDialogOpen();
    s.runUnderWay = running_;
    return s;
}

void MediaWatcher::Start()
{
    timer_.start();
}

void MediaWatcher::Stop()
{
    timer_.stop();
    if (running_ && work_.isPending(search_)) {
        work_.cancel(search_);
        endRun(false);
    }
}

void MediaWatcher::OnMediaWatchTimer()
{
    if (!ShouldStartMediaRun(state()))
        return;
    timer_.stop();
    running_ = true;
    context_.flags->autoUploadRunning = true;
    search_ = work_.start(
        [find = context_.removableDrives,
         record = UploadRecord(context_.settings->executablePath)](const WorkerTask &task) {
            Search found;
            QStringList drives;
            {
                const auto blocking = task.token().blocking();
                drives = find();
            }
            found.photos = CollectRemovablePhotos(drives, task.token());
            if (!task.cancelled() && !found.photos.isEmpty()) {
                const auto blocking = task.token().blocking();
                record.CollectUploadCandidates(found.photos, false, found.newFiles, found.knownFiles);
            }
            return found;
        },
        [this](quint64, const Search &found) { searched(found); });
}

void MediaWatcher::searched(const Search &found)
{
    context_.flags->removablePhotos = found.photos;
    // The window was restored, or an upload begun, while the media were walked: the world
    // the tick decided on is gone.
    MediaWatchState now = state();
    now.runUnderWay = false;
    if (found.newFiles.isEmpty() || !ShouldStartMediaRun(now)) {
        endRun(false);
        return;
    }
    context_.runUpload(found.newFiles, found.knownFiles);
    context_.flags->removablePhotos.clear();
    endRun(true);
}

void MediaWatcher::endRun(bool uploaded)
{
    running_ = false;
    context_.flags->autoUploadRunning = false;
    // Restored meanwhile, the window is shown: nothing is watched until it is minimized again.
    if (context_.frameMinimized && context_.frameMinimized())
        timer_.start();
    emit runEnded(uploaded);
}
