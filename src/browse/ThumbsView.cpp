#include "browse/ThumbsView.h"

#include "browse/PhotoFolder.h"
#include "photo/ThumbnailTile.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {
QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}
} // namespace

CThumbsView::CThumbsView(QWidget *parent) : QListWidget(parent)
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
    QPalette p = palette();
    for (auto role : {QPalette::Base, QPalette::Window})
        p.setColor(role, QColor(100, 100, 100));
    for (auto role : {QPalette::Text, QPalette::WindowText})
        p.setColor(role, Qt::white);
    setPalette(p);

    connect(&scan_, &QFutureWatcher<QStringList>::finished, this, &CThumbsView::onScanned);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { ShowPhotoAt(row(item), true); });
}

CThumbsView::~CThumbsView()
{
    // Nothing the scan, the worker or a re-tiling holds may reach this list once it is gone.
    scan_.disconnect(this);
    scan_.waitForFinished();
    if (keepRunning_)
        *keepRunning_ = false;
    if (worker_)
        worker_->wait();
    for (QFuture<void> &f : retiling_)
        f.waitForFinished();
}

void CThumbsView::ListFolder(const QString &folder)
{
    if (folder == folder_)
        return;
    StopThumbnailWorker();
    ClearList();
    folder_ = folder;
    folderPhotos_.clear();
    pageIndex_ = 0;
    ++request_;
    if (scan_.isRunning())
        return; // onScanned starts the newest request when the current scan ends
    scanning_ = request_;
    scan_.setFuture(QtConcurrent::run(ScanFolder, folder));
}

void CThumbsView::onScanned()
{
    if (scanning_ != request_) {
        scanning_ = request_;
        scan_.setFuture(QtConcurrent::run(ScanFolder, folder_));
        return;
    }
    const QString folder = folder_;
    folderPhotos_ = scan_.result();
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
    if (!workerRunning_)
        return;
    *keepRunning_ = false;
    // The worker's last word reaches this thread as a queued call, so the UI must go on
    // processing events while it waits.
    QEventLoop wait;
    connect(this, &CThumbsView::workerFinished, &wait, &QEventLoop::quit);
    if (workerRunning_)
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    if (worker_)
        worker_->wait();
}

void CThumbsView::StartThumbnailWorker()
{
    // Only one worker at a time, whoever asks for a new one.
    StopThumbnailWorker();
    if (worker_)
        worker_->wait();
    ClearList();
    userClicked_ = false;
    const quint64 run = ++run_;
    auto keep = std::make_shared<std::atomic<bool>>(true);
    keepRunning_ = keep;
    const QStringList paths = folderPhotos_.mid(qsizetype(pageIndex_) * PhotosPerPage, PhotosPerPage);
    const UploadedLookup lookup = uploadedLookup_;
    workerRunning_ = true;

    worker_.reset(QThread::create([this, run, keep, paths, lookup] {
        const QMap<QString, QString> uploaded = lookup ? lookup(paths) : QMap<QString, QString>();
        QMetaObject::invokeMethod(this, [this, run, uploaded] {
            if (run == run_)
                uploadedOnPage_ = uploaded;
        }, Qt::QueuedConnection);

        // Every core decodes, each photo of the page once; the tiles are handed over in page
        // order, so the items appear in order however the decodes finish.
        QThreadPool pool;
        pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        pool.setThreadPriority(QThread::LowPriority);
        QList<QFuture<QImage>> tiles;
        for (const QString &path : paths) {
            const bool isUploaded = uploaded.contains(path);
            tiles << QtConcurrent::run(&pool, [keep, path, isUploaded] {
                return *keep ? MakeThumbnailTile(path, isUploaded) : QImage();
            });
        }
        for (qsizetype i = 0; i < paths.size() && *keep; ++i) {
            QMetaObject::invokeMethod(this, [this, run] {
                if (run == run_)
                    emit statusMessage(QStringLiteral("Preparing..."));
            }, Qt::QueuedConnection);
            const QImage tile = tiles[i].result();
            if (!*keep)
                break;
            QMetaObject::invokeMethod(this, [this, run, i, name = fileNameOf(paths[i]), tile] {
                tileReady(run, int(i), name, tile);
            }, Qt::QueuedConnection);
        }
        pool.clear();
        pool.waitForDone();
        QMetaObject::invokeMethod(this, [this, run] { runEnded(run); }, Qt::QueuedConnection);
    }));
    worker_->start(QThread::LowPriority);
}

void CThumbsView::tileReady(quint64 run, int index, const QString &name, const QImage &tile)
{
    if (run != run_)
        return;
    QListWidgetItem *item = insertTile(index, name, tile);
    if (!userClicked_)
        scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void CThumbsView::runEnded(quint64 run)
{
    if (run != run_)
        return;
    workerRunning_ = false;
    userClicked_ = false;
    emit statusMessage(QStringLiteral("Ready."));
    emit workerFinished();
}

QListWidgetItem *CThumbsView::insertTile(int index, const QString &name, const QImage &tile)
{
    auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(tile)), name);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(Qt::AccessibleTextRole, name);
    item->setForeground(Qt::white);
    insertItem(std::clamp(index, 0, count()), item);
    return item;
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
    emit showPhoto(path);
}

void CThumbsView::AddOrReplacePhoto(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (folder_.isEmpty() || slash < 0 || FolderPrefix(path.left(slash)) != FolderPrefix(folder_))
        return;
    const QString name = path.mid(slash + 1);
    const bool known = folderPhotos_.contains(path);
    if (!known) {
        folderPhotos_ << path;
        emit pageChanged(pageIndex_, GetPageCount());
    }
    if (workerRunning_) {
        // The page is still filling: fill it again, with the new photo in its place.
        StartThumbnailWorker();
        return;
    }
    int index = -1;
    if (known) {
        // Exactly the file's own item: a prefix match would take b.jpg.jpg for b.jpg.
        for (int i = 0; i < count() && index < 0; ++i)
            if (item(i)->text() == name)
                index = i;
        if (index < 0)
            return; // on another page: its tile is made when that page is shown
        delete takeItem(index);
    } else {
        // Appended photos join the list here only when they fall on the page shown.
        if ((folderPhotos_.size() - 1) / PhotosPerPage != pageIndex_)
            return;
        index = count();
    }
    scrollToItem(insertTile(index, name, TileFrame(false)));

    // The tile is decoded off the UI thread and put in place when it is ready.
    const UploadedLookup lookup = uploadedLookup_;
    const quint64 run = run_;
    retiling_.removeIf([](const QFuture<void> &f) { return f.isFinished(); });
    retiling_ << QtConcurrent::run([this, path, name, lookup, run] {
        const bool uploaded = lookup && lookup({path}).contains(path);
        const QImage tile = MakeThumbnailTile(path, uploaded);
        QMetaObject::invokeMethod(this, [this, name, tile, run] {
            if (run != run_)
                return;
            for (int i = 0; i < count(); ++i)
                if (item(i)->text() == name)
                    item(i)->setIcon(QIcon(QPixmap::fromImage(tile)));
        }, Qt::QueuedConnection);
    });
}

void CThumbsView::mousePressEvent(QMouseEvent *event)
{
    userClicked_ = true;
    QListWidget::mousePressEvent(event);
}

void CThumbsView::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState
        && currentRow() >= 0) {
        ShowPhotoAt(currentRow(), true);
        return;
    }
    QListWidget::keyPressEvent(event);
}

void CThumbsView::commitData(QWidget *editor)
{
    // The label names the file: it changes only when the file is renamed.
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (line && currentRow() >= 0 && line->text() != currentItem()->text())
        emit renameRequested(currentRow(), line->text());
}
