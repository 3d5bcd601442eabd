#pragma once

#include <QMainWindow>
#include <QStringList>

class CQuillmereNewClientView;
class CShellTree;
class CThumbsView;
class Prompts;
class QMenu;

// The program's only top-level window: the folder tree above the photo list on the left,
// the image view on the right, and the File menu.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    explicit CMainFrame(Prompts &prompts, QWidget *parent = nullptr);

    CShellTree *GetFolderTree() const { return tree_; }
    CThumbsView *GetPhotoList() const { return list_; }
    CQuillmereNewClientView *GetImageView() const { return view_; }

    // Rebuilds the recent-folder entries of the File menu.
    void SetRecentFolders(const QStringList &folders);

    // Foreground, on top, maximized: how a second start of the program finds this window.
    void BringToFront();

signals:
    void recentFolderChosen(int index);

private:
    void buildMenus();

    CShellTree *tree_;
    CThumbsView *list_;
    CQuillmereNewClientView *view_;
    QMenu *fileMenu_ = nullptr;
    QAction *exitSeparator_ = nullptr;
    QList<QAction *> recentActions_;
};
