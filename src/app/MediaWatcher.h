#pragma once

#include "platform/Worker.h"
#include "upload/UploadRecord.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

struct RunFlags;
struct Settings;

// Appends every photo below `folder` to `removablePhotos`: depth first, a subfolder walked
// the moment it is met, every depth, in file-manager order, hidden entries included.
// Links to folders are not followed (a link back up the card would make the walk endless).
// A folder that cannot be listed adds nothing. A cancelled token ends the walk at the next
// entry; each folder read and each entry's look-up count as calls that may block.
void CollectPhotosUnder(const QString &folder, QStringList &removablePhotos, const CancelToken &token = {});

// The photos on the given media (mount roots, already at most five, in path order), the
// media in the order given.
QStringList CollectRemovablePhotos(const QStringList &drives, const CancelToken &token = {});

// What a tick of the watcher reads.
struct MediaWatchState {
    bool frameMinimized = false;
    int automaticUpload = 0;
    bool uploadDialogOpen = false; // an upload dialog is open, shown or hidden, or an upload command runs
    bool runUnderWay = false;      // this watcher's own run has not ended
};

// True when a tick starts a run: the window is minimized, the option is on, and no upload
// of any kind is under way.
bool ShouldStartMediaRun(const MediaWatchState &state);

// What the watcher uses, lent by its owner for its lifetime.
struct MediaWatchContext {
    const Settings *settings = nullptr; // AutomaticUpload at every tick; the data folder of the record
    RunFlags *flags = nullptr;          // autoUploadRunning and removablePhotos
    std::function<QStringList()> removableDrives; // run on the worker; empty: the system's media
    std::function<bool()> frameMinimized;
    std::function<bool()> uploadDialogOpen;
    // Runs the hidden, self-starting upload dialog on the new photos and returns once it has
    // closed.
    std::function<void(const PathDates &newFiles, const PathDates &knownFiles)> runUpload;
    std::chrono::milliseconds period{10000};
};

// The camera and card watcher: while the main window is minimized, every ten seconds, the
// photos on the removable media that the uploaded-files record does not hold as uploaded
// and unchanged are uploaded by the upload dialog, hidden, each into the album named after
// its folder. The media are walked and the record read on a worker, so that a big card
// freezes neither the tray nor the window; the timer is stopped for the length of a run.
class MediaWatcher : public QObject
{
    Q_OBJECT
public:
    explicit MediaWatcher(MediaWatchContext context, QObject *parent = nullptr);
    ~MediaWatcher() override;

    // Starts the timer, or restarts its period when it runs.
    void Start();
    // Stops the timer; a walk of the media still going is abandoned. An upload already
    // running goes on to its end.
    void Stop();
    bool isActive() const { return timer_.isActive(); }
    // Watching: the timer runs, or a tick's walk is under way (the timer rests meanwhile).
    bool isWatching() const { return timer_.isActive() || running_; }
    bool isRunning() const { return running_; }

    // The timer's tick.
    void OnMediaWatchTimer();

signals:
    // A run has ended: nothing new was found (false), or the upload dialog has closed (true).
    void runEnded(bool uploaded);

private:
    struct Search {
        QStringList photos;
        PathDates newFiles;
        PathDates knownFiles;
    };
    MediaWatchState state() const;
    void searched(const Search &found);
    void endRun(bool uploaded);

    MediaWatchContext context_;
    QTimer timer_;
    bool running_ = false;
    quint64 search_ = 0;

    WorkerPool pool_{WorkerPool::Options{"qlm-cardwalk", WorkPriority::Normal, 1}};
    Worker work_{this, pool_}; // last: it ends first
};
