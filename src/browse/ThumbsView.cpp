#include "browse/ThumbsView.h"

#include "browse/PhotoFolder.h"
#include "photo/ThumbnailTile.h"
#include "platform/DialogColours.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>
#include <functional>
#include <utility>

namespace {
// Each item knows its place on the page, so tiles arriving in any order go in page order.
constexpr int SlotRole = Qt::UserRole;

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}
} // namespace

CThumbsView::CThumbsView(QWidget *parent) : CThumbsView(nullptr, parent) {}

CThumbsView::CThumbsView(WorkerPool &pictures, QWidget *parent) : CThumbsView(&pictures, parent) {}

CThumbsView::CThumbsView(WorkerPool *shared, QWidget *parent)
    : QListWidget(parent),
      ownPool_(shared ? nullptr : std::make_unique<WorkerPool>(WorkerPool::Options{"qlm-tiles", WorkPriority::Low})),
      tiles_(this, shared ? *shared : *ownPool_, WorkPriority::Low),
      cacheWrites_(this, shared ? *shared : *ownPool_, WorkPriority::Background)
{
    setAccessibleName(QStringLiteral("Photo list"));
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setIconSize(QSize(TileWidth, TileHeight));
    setGridSize(QSize(147, 147));
    setSpacing(0);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    ApplyListColours(this);

    tiles_.onStalled([this](quint64 number) {
        // Its file never opened or stopped reading: the empty frame stands in, as for a photo
        // that cannot be decoded, and the page is done without it. Should the read return, its
        // tile still takes the place.
        const int slot = tileSlots_.value(number, -1);
        if (slot < 0)
            return;
        if (!itemInSlot(slot))
            placeTile(slot, slots_[slot].name, {}, false);
        tileDone(slot);
    });
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { ShowPhotoAt(row(item), true); });
}

CThumbsView::~CThumbsView() = default;

void CThumbsView::ListFolder(const QString &folder)
{
    if (folder == folder_)
        return;
    StopThumbnailWorker();
    ClearList();
    folder_ = folder;
    folderPhotos_.clear();
    savedWhileReading_.clear();
    pageIndex_ = 0;
    reading_ = true;
    folders_.start([folder](const WorkerTask &task) { return ScanFolder(folder, task.token()); },
                   [this, folder](quint64, QStringList photos) { folderScanned(folder, std::move(photos)); },
                   Worker::CancelOthers);
    emit pageChanged(pageIndex_, GetPageCount());
}

void CThumbsView::folderScanned(const QString &folder, QStringList photos)
{
    reading_ = false;
    for (const QString &path : std::as_const(savedWhileReading_))
        if (!photos.contains(path))
            photos << path;
    savedWhileReading_.clear();
    folderPhotos_ = photos;
    if (folderPhotos_.isEmpty()) {
        folder_.clear();
        shownIndex_ = -1;
        emit showPhoto(QString());
        emit pageChanged(0, 0);
        emit folderRead(folder, 0);
        return;
    }
    pageIndex_ = 0;
    shownIndex_ = 0;
    shownPage_ = 0;
    StartThumbnailWorker();
    emit showPhoto(folderPhotos_.first());
    emit folderListed(folder);
    emit folderRead(folder, int(folderPhotos_.size()));
    emit pageChanged(pageIndex_, GetPageCount());
}

int CThumbsView::GetPageCount() const
{
    if (folder_.isEmpty())
        return 0;
    return int((folderPhotos_.size() + PhotosPerPage - 1) / PhotosPerPage);
}

void CThumbsView::ClearList()
{
    clear();
}

void CThumbsView::StopThumbnailWorker()
{
    tiles_.cancelAll();
    tileSlots_.clear();
    slots_.clear();
    if (workerRunning_)
        endRun();
}

void CThumbsView::StartThumbnailWorker()
{
    // Only one run at a time, whoever asks for a new one.
    StopThumbnailWorker();
    ClearList();
    userClicked_ = false;
    uploadedOnPage_.clear();
    ++run_;
    const QStringList paths = folderPhotos_.mid(qsizetype(pageIndex_) * PhotosPerPage, PhotosPerPage);
    workerRunning_ = true;
    emit statusMessage(QStringLiteral("Preparing..."));
    tilesAwaited_ = int(paths.size());
    for (int slot = 0; slot < paths.size(); ++slot) {
        slots_.append({fileNameOf(paths[slot])});
        // A kept picture shows at once; its request only checks the file and the record.
        if (const RecentTiles::Entry *kept = recent_.find(paths[slot])) {
            placeTile(slot, slots_[slot].name, kept->picture, kept->uploaded);
            slots_[slot].kept = true;
        }
        tileSlots_.insert(startTile(paths[slot], slot), slot);
    }
    if (paths.isEmpty())
        endRun();
}

quint64 CThumbsView::startTile(const QString &path, int slot)
{
    const RecentTiles::Entry *kept = recent_.find(path);
    const FileStamp known = kept ? kept->stamp : FileStamp{};
    return tiles_.start(
        [path, lookup = uploadedLookup_, cache = cache_, known](const WorkerTask &task) {
            TileResult result;
            if (lookup) {
                const CancelToken::Blocking call = task.token().blocking();
                result.uploaded = lookup({path});
            }
            result.load = LoadTile(path, cache, known, task.token());
            return result;
        },
        [this, run = run_, slot, path, picture = kept ? kept->picture : TilePicture{}](quint64, const TileResult &result) {
            if (run == run_)
                tileLoaded(path, slot, picture, result);
        });
}

void CThumbsView::tileLoaded(const QString &path, int slot, const TilePicture &kept, const TileResult &result)
{
    const TileLoad &load = result.load;
    decodes_ += load.decodes;
    if (load.failed || !load.forCache.isNull()) {
        // Off the tile's path: the pool runs it once nothing more pressing waits.
        cacheWrites_.start([cache = cache_, path, load](const WorkerTask &task) { StoreTileLoad(cache, path, load, task.token()); },
                           [](quint64) {});
    }
    const TilePicture picture = load.unchanged ? kept : load.picture;
    const bool uploaded = result.uploaded.contains(path);
    if (load.stamp.size >= 0)
        recent_.keep(path, {load.stamp, picture, uploaded});
    else
        recent_.forget(path);
    uploadedOnPage_.insert(result.uploaded);
    // A kept picture already shown in the right frame stays as it is.
    const bool current = slot < slots_.size() && slots_[slot].kept && slots_[slot].uploaded == uploaded;
    if (!(current && load.unchanged && itemInSlot(slot)))
        placeTile(slot, fileNameOf(path), picture, uploaded);
    tileDone(slot);
}

QListWidgetItem *CThumbsView::itemInSlot(int slot) const
{
    for (int i = 0; i < count(); ++i)
        if (item(i)->data(SlotRole).toInt() == slot)
            return item(i);
    return nullptr;
}

void CThumbsView::placeTile(int slot, const QString &name, const TilePicture &picture, bool uploaded)
{
    const QIcon tile(QPixmap::fromImage(ComposeTile(picture, frames_[uploaded ? 1 : 0])));
    // The UPLOADED mark is drawn into the frame: a screen reader hears it as the description.
    const QString description = uploaded ? QStringLiteral("Uploaded") : QString();
    if (slot < slots_.size())
        slots_[slot].uploaded = uploaded;
    if (QListWidgetItem *shown = itemInSlot(slot)) {
        shown->setIcon(tile);
        shown->setData(Qt::AccessibleDescriptionRole, description);
        return;
    }
    auto *item = new QListWidgetItem(tile, name);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(Qt::AccessibleTextRole, name);
    item->setData(Qt::AccessibleDescriptionRole, description);
    item->setData(SlotRole, slot);
    item->setForeground(Qt::white);
    int at = 0;
    while (at < count() && this->item(at)->data(SlotRole).toInt() < slot)
        ++at;
    insertItem(at, item);
    if (!userClicked_)
        scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void CThumbsView::tileDone(int slot)
{
    if (slot >= slots_.size() || slots_[slot].done)
        return;
    slots_[slot].done = true;
    if (--tilesAwaited_ == 0)
        endRun();
}

void CThumbsView::endRun()
{
    workerRunning_ = false;
    userClicked_ = false;
    emit statusMessage(QStringLiteral("Ready."));
    emit workerFinished();
}

void CThumbsView::setPage(int page)
{
    pageIndex_ = page;
    StartThumbnailWorker();
    emit pageChanged(pageIndex_, GetPageCount());
}

void CThumbsView::NextPage()
{
    if (pageIndex_ < GetPageCount() - 1)
        setPage(pageIndex_ + 1);
}

void CThumbsView::PrevPage()
{
    if (pageIndex_ > 0)
        setPage(pageIndex_ - 1);
}

void CThumbsView::FirstPage()
{
    if (pageIndex_ > 0)
        setPage(0);
}

void CThumbsView::LastPage()
{
    if (pageIndex_ < GetPageCount() - 1)
        setPage(GetPageCount() - 1);
}

QString CThumbsView::GetItemPath(int index) const
{
    if (index < 0 || index >= count() || folder_.isEmpty())
        return {};
    const QString label = item(index)->text();
    if (label.isEmpty())
        return {};
    return FolderPrefix(folder_) + label;
}

QString CThumbsView::FirstPhotoOfPage() const
{
    // A page being made may lack its first items yet: tiles arrive in any order.
    if (workerRunning_)
        return folderPhotos_.value(qsizetype(pageIndex_) * PhotosPerPage);
    return GetItemPath(0);
}

int CThumbsView::GetSelectedCount() const
{
    const int n = int(selectedItems().size());
    return n == 0 ? -1 : n;
}

void CThumbsView::ShowPhotoAt(int index, bool mustExist)
{
    const QString path = GetItemPath(index);
    if (path.isEmpty() || (mustExist && !QFileInfo::exists(path)))
        return;
    shownIndex_ = index;
    shownPage_ = pageIndex_;
    emit showPhoto(path);
}

bool CThumbsView::ShowPhotoOnItsPage(const QString &path)
{
    const qsizetype position = folderPhotos_.indexOf(path);
    if (position < 0)
        return false;
    const int page = int(position / PhotosPerPage);
    if (page != pageIndex_)
        setPage(page);
    shownIndex_ = int(position % PhotosPerPage);
    shownPage_ = page;
    emit showPhoto(path);
    return true;
}

void CThumbsView::AddOrReplacePhoto(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (folder_.isEmpty() || slash < 0 || FolderPrefix(path.left(slash)) != FolderPrefix(folder_))
        return;
    if (reading_) {
        // The listing may have been taken before the file was written: it joins the folder's
        // photos when they arrive.
        if (!savedWhileReading_.contains(path))
            savedWhileReading_ << path;
        return;
    }
    qsizetype position = folderPhotos_.indexOf(path);
    if (position < 0) {
        folderPhotos_ << path;
        position = folderPhotos_.size() - 1;
        emit pageChanged(pageIndex_, GetPageCount());
    }
    // A photo on another page gets its tile when that page is shown.
    if (position / PhotosPerPage != pageIndex_)
        return;
    if (workerRunning_) {
        // The page is still filling: fill it again, with the photo in its place.
        StartThumbnailWorker();
        return;
    }
    // Its old tile is stale: the empty frame stands until the new one is made.
    const int slot = int(position % PhotosPerPage);
    delete itemInSlot(slot);
    if (slot < slots_.size())
        slots_[slot].kept = false;
    placeTile(slot, fileNameOf(path), {}, false);
    startTile(path, slot);
}

void CThumbsView::mousePressEvent(QMouseEvent *event)
{
    userClicked_ = true;
    QListWidget::mousePressEvent(event);
}

void CThumbsView::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain && state() != EditingState
        && selectionMark() >= 0) {
        ShowPhotoAt(selectionMark(), true);
        return;
    }
    QListWidget::keyPressEvent(event);
}

void CThumbsView::contextMenuEvent(QContextMenuEvent *event)
{
    // From the mouse the menu opens where it was clicked (in the viewport); from the keyboard,
    // on the selection mark's icon. Only an item's icon or label opens it.
    QModelIndex hit;
    QPoint at;
    if (event->reason() == QContextMenuEvent::Mouse) {
        at = event->pos();
        hit = indexAt(at);
    } else if (selectionMark() >= 0) {
        hit = model()->index(selectionMark(), 0);
        // Scrolled out of sight, the item would have its menu open somewhere off the list.
        scrollTo(hit);
        at = visualRect(hit).center();
    }
    if (!hit.isValid() || !visualRect(hit).contains(at))
        return;

    // The place of the photo shown counts on its own page only: on another page the item in
    // that place is another photo, and showing it is no less wanted.
    const int shown = shownPage_ == pageIndex_ ? shownIndex_ : -1;
    const ThumbsMenuStates states = ComputeThumbsMenuStates({selectionMark(), GetSelectedCount(), hit.row(), shown});
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("ThumbsViewPopupMenu"));
    for (const ThumbsMenuEntry &entry : ThumbsMenuEntries()) {
        if (entry.separatorBefore)
            menu.addSeparator();
        QAction *a = menu.addAction(QString::fromUtf8(entry.text));
        a->setData(int(entry.command));
        a->setEnabled(states.isEnabled(entry.command));
        if (states.defaultCommand == entry.command)
            menu.setDefaultAction(a);
    }
    if (QAction *chosen = menu.exec(viewport()->mapToGlobal(at)))
        RunCommand(ThumbsCommand(chosen->data().toInt()));
}

void CThumbsView::RunCommand(ThumbsCommand command)
{
    switch (command) {
    case ThumbsCommand::ShowPhoto:
        if (selectionMark() >= 0)
            ShowPhotoAt(selectionMark(), false);
        break;
    case ThumbsCommand::RenamePhoto: StartRename(); break;
    default: emit commandRequested(command); break;
    }
}

void CThumbsView::StartRename()
{
    if (selectionMark() >= 0)
        editItem(item(selectionMark()));
}

bool CThumbsView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // The edited item is remembered now: by the time the edit ends, a click elsewhere may
    // already have made another item the current one.
    if (!QListWidget::edit(index, trigger, event))
        return false;
    renameOldPath_ = GetItemPath(index.row());
    return true;
}

void CThumbsView::commitData(QWidget *editor)
{
    // The label names the file: it changes only when the file is renamed.
    // The request leaves once the editor has closed: a message box it leads to takes the
    // focus from the editor and runs an event loop of its own, and an editor closed and
    // deleted meanwhile would be used again when the commit returned.
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (line && !renameOldPath_.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, path = std::exchange(renameOldPath_, QString()), text = line->text()] {
                emit renameRequested(path, text);
            },
            Qt::QueuedConnection);
    }
}

QStringList CThumbsView::SelectedPaths() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList paths;
    for (int row : std::as_const(rows))
        paths << GetItemPath(row);
    return paths;
}

void CThumbsView::PhotoRenamed(const QString &oldPath, const QString &newPath)
{
    const qsizetype position = folderPhotos_.indexOf(oldPath);
    if (position >= 0)
        folderPhotos_[position] = newPath;
    const QString name = fileNameOf(newPath);
    for (int i = 0; i < count(); ++i) {
        if (GetItemPath(i) != oldPath)
            continue;
        item(i)->setText(name);
        item(i)->setData(Qt::AccessibleTextRole, name);
        const int slot = item(i)->data(SlotRole).toInt();
        if (slot < slots_.size())
            slots_[slot].name = name;
    }
}

void CThumbsView::RemovePhotos(const QStringList &paths)
{
    const bool photosAfterPage = folderPhotos_.size() > qsizetype(pageIndex_ + 1) * PhotosPerPage;
    QList<qsizetype> positions;
    for (const QString &path : paths) {
        const qsizetype position = folderPhotos_.indexOf(path);
        if (position >= 0 && !positions.contains(position))
            positions << position;
        uploadedOnPage_.remove(path);
    }
    QList<int> goneSlots;
    bool earlierPage = false;
    for (qsizetype position : std::as_const(positions)) {
        if (position / PhotosPerPage == pageIndex_)
            goneSlots << int(position % PhotosPerPage);
        else if (position / PhotosPerPage < pageIndex_)
            earlierPage = true;
    }
    std::sort(positions.begin(), positions.end(), std::greater<>());
    for (qsizetype position : std::as_const(positions))
        folderPhotos_.removeAt(position);
    if (positions.isEmpty())
        return;
    if (pageIndex_ > 0 && pageIndex_ >= GetPageCount()) {
        // The last page went whole: the list shows the page that is last now, rather than an
        // empty page past the end ("Page: 2 of 1").
        setPage(GetPageCount() - 1);
        return;
    }
    if ((workerRunning_ && !goneSlots.isEmpty()) || earlierPage || (photosAfterPage && !goneSlots.isEmpty())) {
        // Tiles still on their way, or photos before the page moved: its places no longer
        // match what is on it, so it is made again. So too when photos after the page move up
        // onto it: left off, they would be on no page (the next one now starts past them, and
        // with the last page gone there is none to go to).
        StartThumbnailWorker();
    } else if (!goneSlots.isEmpty()) {
        // Tiles asked for since (a saved photo's) would land on the wrong item now.
        StopThumbnailWorker();
        for (int i = count() - 1; i >= 0; --i)
            if (goneSlots.contains(item(i)->data(SlotRole).toInt()))
                delete takeItem(i);
        // Each item keeps the place of its photo on the page.
        for (int i = 0; i < count(); ++i) {
            const int slot = item(i)->data(SlotRole).toInt();
            const auto below = std::count_if(goneSlots.begin(), goneSlots.end(), [slot](int gone) { return gone < slot; });
            item(i)->setData(SlotRole, slot - int(below));
        }
    }
    emit pageChanged(pageIndex_, GetPageCount());
}
