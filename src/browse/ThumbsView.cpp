#include "browse/ThumbsView.h"

#include "browse/PhotoFolder.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

CThumbsView::CThumbsView(QWidget *parent) : QListWidget(parent)
{
    setAccessibleName(QStringLiteral("Photo list"));
    connect(&scan_, &QFutureWatcher<QStringList>::finished, this, &CThumbsView::onScanned);
}

CThumbsView::~CThumbsView()
{
    // The scan holds no pointer to this list, but it must not outlive its owner.
    scan_.disconnect(this);
    scan_.waitForFinished();
}

void CThumbsView::ShowFolder(const QString &folder)
{
    folder_ = folder;
    photos_.clear();
    clear();
    ++request_;
    if (scan_.isRunning())
        return; // onScanned starts the newest request when the current scan ends
    scanning_ = request_;
    scan_.setFuture(QtConcurrent::run(ListPhotoFiles, folder));
}

void CThumbsView::onScanned()
{
    if (scanning_ != request_) {
        scanning_ = request_;
        scan_.setFuture(QtConcurrent::run(ListPhotoFiles, folder_));
        return;
    }
    photos_ = scan_.result();
    for (const QString &photo : std::as_const(photos_))
        addItem(QFileInfo(photo).fileName());
    emit folderRead(folder_, int(photos_.size()));
}
