#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QListWidget>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// The photo list: the folder's photos as framed tiles, eight to a page. The folder is read
// off the UI thread and only the newest folder asked for is shown. A page's tiles are made
// by the thumbnail worker, which decodes on every core yet hands the tiles over in page
// order; the UI thread only inserts them.
class CThumbsView : public QListWidget
{
    Q_OBJECT
public:
    static constexpr int PhotosPerPage = 8;

    // Which of a page's photos count as uploaded, each with its recorded date text. Called
    // on the worker thread.
    using UploadedLookup = std::function<QMap<QString, QString>(const QStringList &paths)>;

    explicit CThumbsView(QWidget *parent = nullptr);
    ~CThumbsView() override;

    void SetUploadedLookup(UploadedLookup lookup) { uploadedLookup_ = std::move(lookup); }

    void ListFolder(const QString &folder);
    void ShowFolder(const QString &folder) { ListFolder(folder); }

    // The folder listed or being listed, exactly as passed; empty when the last one listed
    // held no photo.
    QString currentFolder() const { return folder_; }
    QStringList photos() const { return folderPhotos_; }
    int pageIndex() const { return pageIndex_; }
    int GetPageCount() const;
    int shownIndex() const { return shownIndex_; }
    bool userClicked() const { return userClicked_; }
    const QMap<QString, QString> &uploadedOnPage() const { return uploadedOnPage_; }

    bool IsWorkerRunning() const { return workerRunning_; }
    // Asks the worker to stop and waits for it, the UI going on with its events meanwhile.
    void StopThumbnailWorker();
    void StartThumbnailWorker();

    QString GetItemPath(int index) const;
    int GetSelectedCount() const;
    void ShowPhotoAt(int index, bool mustExist);
    void AddOrReplacePhoto(const QString &path);

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
    // The user finished editing a label; the label is kept as the file name until the
    // rename succeeds.
    void renameRequested(int index, const QString &newName);
    void workerFinished();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void commitData(QWidget *editor) override;

private:
    void onScanned();
    void ClearList();
    QListWidgetItem *insertTile(int index, const QString &name, const QImage &tile);
    void tileReady(quint64 run, int index, const QString &name, const QImage &tile);
    void runEnded(quint64 run);
    void setPage(int page);

    QString folder_;
    QStringList folderPhotos_;
    int pageIndex_ = 0;
    int shownIndex_ = 0;
    bool userClicked_ = false;
    QMap<QString, QString> uploadedOnPage_;
    UploadedLookup uploadedLookup_;

    std::unique_ptr<QThread> worker_;
    std::shared_ptr<std::atomic<bool>> keepRunning_;
    bool workerRunning_ = false;
    quint64 run_ = 0;

    QFutureWatcher<QStringList> scan_;
    quint64 request_ = 0;
    quint64 scanning_ = 0;
    QList<QFuture<void>> retiling_;
};
