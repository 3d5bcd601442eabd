#pragma once

#include "app/FrameCommands.h"
#include "platform/Worker.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <array>

class CQuillmereNewClientView;
class CShellTree;
class CThumbsView;
class Prompts;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

// The program's only top-level window: the folder tree above the photo list on the left, the
// image view on the right, the menus and toolbar built from the command table, and the status
// bar with its six panes. It is a switchboard: it wires the panes to each other, hands each
// pane its own commands, and announces every other command through `commandRequested` and
// `recentFolderChosen`, for the command controller to carry out.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr const char *kWebSite = "https://quillmere.example/";

    explicit CMainFrame(Prompts &prompts, QWidget *parent = nullptr);

    CShellTree *GetFolderTree() const { return tree_; }
    CThumbsView *GetPhotoList() const { return list_; }
    CQuillmereNewClientView *GetImageView() const { return view_; }

    // Rebuilds the recent-folder entries of the File menu.
    void SetRecentFolders(const QStringList &folders);

    // Foreground, on top, maximized: how a second start of the program finds this window.
    void BringToFront();

    QAction *action(FrameCommand id) const { return actions_[size_t(id)]; }
    // Carries out a command as its menu entry would (nothing when it is disabled).
    void Execute(FrameCommand id);
    FrameSnapshot snapshot() const;
    // Recomputes every command state and status pane from the current state.
    void UpdateCommandUi();
    QLabel *statusPane(int index) const { return panes_[size_t(index)]; }
    QToolBar *toolbar() const { return toolbar_; }

signals:
    void recentFolderChosen(int index);
    // A command whose work lives outside the frame (slideshow, upload, buy, settings, update).
    void commandRequested(FrameCommand id);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void onTriggered(FrameCommand id);
    void saveAs();
    void showAbout();
    void openWebSite();
    void focusPane(int step);
    void scheduleUpdate();

    Prompts &prompts_;
    // The image view's renders and the photo list's tiles share one pool: the shown photo first.
    WorkerPool pictures_{WorkerPool::Options{"qlm-pictures"}};
    CShellTree *tree_;
    CThumbsView *list_;
    CQuillmereNewClientView *view_;
    QToolBar *toolbar_ = nullptr;
    std::array<QAction *, kFrameCommandCount> actions_{};
    std::array<QLabel *, 6> panes_{};
    QMenu *fileMenu_ = nullptr;
    QAction *exitSeparator_ = nullptr;
    QList<QAction *> recentActions_;
    QTimer idleUpdate_;
    bool updateQueued_ = false;
};
