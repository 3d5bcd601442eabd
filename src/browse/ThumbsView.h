#pragma once

#include "browse/ThumbsMenu.h"
#include "browse/RecentTiles.h"
#include "photo/ThumbnailCache.h"
#include "photo/ThumbnailTile.h"
#include "platform/Worker.h"

#include <QHash>
#include <QImage>
#include <QListWidget>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

// The photo list: the folder's photos as framed tiles, eight to a page. The folder is read
// off the UI thread and only the newest folder asked for is shown. A page's tiles are made
// by the thumbnail worker, one low-priority request per photo on every core (on the pool it
// shares with the image view, which goes first); each tile takes its place in page order as
// it arrives, and a photo whose file never opens (a FIFO, a stalled network mount) gets an
// empty frame instead of holding up the page. A tile's picture comes from the shared
// thumbnail cache, else from the photo's embedded thumbnail, else from decoding; what was
// decoded goes into the cache afterwards, at background priority. The pictures of the last
// pages are kept: a page shown again appears at once and is only checked for changes.
class CThumbsView : public QListWidget
{
    Q_OBJECT
public:
    static constexpr int PhotosPerPage = 8;

    // Which of a page's photos count as uploaded, each with its recorded date text. Called
    // on a worker thread, with its own copy of the lookup.
    using UploadedLookup = std::function<QMap<QString, QString>(const QStringList &paths)>;

    // Ten pages' worth of pictures are kept.
    static constexpr int KeptTiles = 10 * PhotosPerPage;

    // On a pool of its own.
    explicit CThumbsView(QWidget *parent = nullptr);
    // On the pool the image view shares.
    explicit CThumbsView(WorkerPool &pictures, QWidget *parent = nullptr);
    ~CThumbsView() override;

    void SetUploadedLookup(UploadedLookup lookup) { uploadedLookup_ = std::move(lookup); }
    // The user's shared cache unless told otherwise; a default-made cache means none.
    void SetThumbnailCache(const ThumbnailCache &cache) { cache_ = cache; }

    void ListFolder(const QString &folder);
    void ShowFolder(const QString &folder) { ListFolder(folder); }

    // The folder listed or being listed, exactly as passed; empty when the last one listed
    // held no photo.
    QString currentFolder() const { return folder_; }
    // The folder asked for is still being read: its photos and pages are not known yet.
    bool isReadingFolder() const { return reading_; }
    QStringList photos() const { return folderPhotos_; }
    int pageIndex() const { return pageIndex_; }
    int GetPageCount() const;
    int shownIndex() const { return shownIndex_; }
    // The page on which `shownIndex` counts.
    int shownPage() const { return shownPage_; }
    bool userClicked() const { return userClicked_; }
    const QMap<QString, QString> &uploadedOnPage() const { return uploadedOnPage_; }
    // Photos decoded so far and cache writes not yet done, for tests and benchmarks.
    int decodeCount() const { return decodes_; }
    int pendingCacheWrites() const { return cacheWrites_.pendingCount(); }

    // The page's tiles are being made; a photo whose read is stuck no longer counts.
    bool IsWorkerRunning() const { return workerRunning_; }
    // Ends the run at once: its requests are cancelled and whatever they still hand over is
    // dropped, so nothing waits for a photo whose read is stuck.
    void StopThumbnailWorker();
    void StartThumbnailWorker();

    QString GetItemPath(int index) const;
    // The first photo of the page shown, also while its tiles are still on their way; empty
    // when the page holds none.
    QString FirstPhotoOfPage() const;
    int GetSelectedCount() const;
    void ShowPhotoAt(int index, bool mustExist);
    // Shows the folder's photo at `path` (spelled as `photos()` spells it) as if it had been
    // chosen in the list: the page holding it comes up, and it is the photo shown from the
    // list. False, and nothing changes, when the list does not hold it.
    bool ShowPhotoOnItsPage(const QString &path);
    void AddOrReplacePhoto(const QString &path);

    // The item last selected with the mouse or keyboard; -1 when there is none.
    int selectionMark() const { return currentRow(); }
    // The paths of the selected items, in index order.
    QStringList SelectedPaths() const;
    // A command of the pop-up menu: the list shows and renames photos itself and hands the
    // others on (`commandRequested`).
    void RunCommand(ThumbsCommand command);
    // Starts editing the selection mark's label (nothing without a selection mark).
    void StartRename();
    // A photo of the folder has a new name: its entry and its label follow, in place.
    void PhotoRenamed(const QString &oldPath, const QString &newPath);
    // Photos gone from the folder (moved to the trash): their items and entries are removed.
    // The page keeps what remains; it is made again only when it was still being made, or when
    // photos of an earlier page went.
    void RemovePhotos(const QStringList &paths);

public slots:
    void NextPage();
    void PrevPage();
    void FirstPage();
    void LastPage();

signals:
    // The folder has been read; a count above zero means it holds photos and was listed.
    void folderRead(const QString &folder, int photoCount);
    // A folder with photos was listed: it belongs in the recent-folder list.
    void folderListed(const QString &folder);
    void pageChanged(int pageIndex, int pageCount);
    void statusMessage(const QString &text);
    // The image view is to show this photo; empty clears it.
    void showPhoto(const QString &path);
    // The user finished editing the label of the photo at `path`; the label is kept as the
    // file name until the rename succeeds.
    void renameRequested(const QString &path, const QString &newName);
    // A command of the pop-up menu that is not the list's own.
    void commandRequested(ThumbsCommand command);
    void workerFinished();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    using QListWidget::edit;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void commitData(QWidget *editor) override;

private:
    CThumbsView(WorkerPool *shared, QWidget *parent);

    struct TileResult
    {
        TileLoad load;
        QMap<QString, QString> uploaded;
    };
    struct Slot
    {
        QString name;
        bool done = false;
        bool kept = false;     // shows a kept picture, placed before its request answered
        bool uploaded = false; // the frame it shows
    };

    void folderScanned(const QString &folder, QStringList photos);
    void ClearList();
    quint64 startTile(const QString &path, int slot);
    void tileLoaded(const QString &path, int slot, const TilePicture &kept, const TileResult &result);
    void placeTile(int slot, const QString &name, const TilePicture &picture, bool uploaded);
    QListWidgetItem *itemInSlot(int slot) const;
    void tileDone(int slot);
    void endRun();
    void setPage(int page);

    QString folder_;
    QStringList folderPhotos_;
    int pageIndex_ = 0;
    int shownIndex_ = 0;
    int shownPage_ = 0;
    bool userClicked_ = false;
    QString renameOldPath_; // the photo whose label is being edited
    QMap<QString, QString> uploadedOnPage_;
    UploadedLookup uploadedLookup_;

    bool reading_ = false;
    QStringList savedWhileReading_; // photos saved into the folder while it was being read
    bool workerRunning_ = false;
    quint64 run_ = 0;
    QVector<Slot> slots_;           // the page's photos in the current run
    QHash<quint64, int> tileSlots_; // tile request number -> slot
    int tilesAwaited_ = 0;
    int decodes_ = 0;
    ThumbnailCache cache_ = ThumbnailCache::Standard();
    RecentTiles recent_{KeptTiles};
    const QImage frames_[2] = {TileFrame(false), TileFrame(true)};

    std::unique_ptr<WorkerPool> ownPool_; // when no pool is shared
    WorkerPool folderPool_{WorkerPool::Options{"qlm-folder", WorkPriority::Normal, 1}};
    Worker folders_{this, folderPool_};
    Worker tiles_;
    Worker cacheWrites_;
};
