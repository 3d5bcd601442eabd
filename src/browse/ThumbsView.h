#pragma once

#include <QFutureWatcher>
#include <QListWidget>
#include <QString>
#include <QStringList>

// The photo list pane. For now it lists the names of the folder's photos; the paged
// thumbnail tiles take its place without changing this interface. The folder is read off
// the UI thread; only the newest folder asked for is shown.
class CThumbsView : public QListWidget
{
    Q_OBJECT
public:
    explicit CThumbsView(QWidget *parent = nullptr);
    ~CThumbsView() override;

    void ShowFolder(const QString &folder);

    // The folder the list shows, or empty before any was chosen.
    QString currentFolder() const { return folder_; }
    QStringList photos() const { return photos_; }

signals:
    // The folder has been read; a count above zero means it holds photos.
    void folderRead(const QString &folder, int photoCount);

private:
    void onScanned();

    QString folder_;
    QStringList photos_;
    QFutureWatcher<QStringList> scan_;
    quint64 request_ = 0;
    quint64 scanning_ = 0;
};
