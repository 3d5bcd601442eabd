#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>

class CMainFrame;
class MediaWatcher;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class UploadDialog;

// What the tray works with, lent by the application object for the whole run.
struct TrayContext {
    CMainFrame *frame = nullptr;
    MediaWatcher *watcher = nullptr;
    std::function<UploadDialog *()> activeUploadDialog;
    std::function<bool()> trayAvailable; // empty: whether the desktop has a system tray now
};

// The program's life in the system tray while its window is minimized: minimizing puts the
// icon (tip "Quillmere") into the tray, hides the window from the task bar and starts the
// camera and card watcher; double-clicking the icon or its "Open" brings the window back,
// with an open upload dialog, and stops the watcher; "Exit" closes the window, unless an
// upload dialog is open, which it brings back instead. While an upload runs the icon blinks,
// and while the window is minimized its tip gives the percentage. Where the desktop has no
// tray, minimizing leaves the window in the task bar (never hidden with no way back) and the
// watcher runs all the same; a tray that appears later is used at the next minimize, and a
// tray that goes away while the window hides in it gives the window back to the task bar.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    static inline const QString kTip = QStringLiteral("Quillmere");

    explicit TrayIcon(TrayContext context, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Start-up with RunMinimized: straight into the tray, the window never shown; without a
    // tray, minimized in the task bar.
    void StartMinimized();
    // The icon's "Open", and its double-click.
    void RestoreFromTray();
    // The icon's "Exit".
    void Exit();

    // The window is minimized, in the task bar or hidden in the tray.
    bool isFrameMinimized() const;
    bool inTray() const { return inTray_; }

    // The upload's progress: frame 0 or 1 of the blinking icon, and the tip while minimized.
    void ShowProgress(int frame, const QString &tip);
    // The upload is over: the program icon and the tip "Quillmere".
    void EndProgress();

    QSystemTrayIcon *icon() const { return icon_; }
    QMenu *menu() const { return menu_; }
    QAction *openAction() const { return open_; }
    QAction *exitAction() const { return exit_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool trayAvailable() const;
    void enterTray();
    void leftMinimized();
    void setTip(const QString &tip);
    UploadDialog *activeUploadDialog() const;

    TrayContext context_;
    QSystemTrayIcon *icon_;
    QMenu *menu_;
    QAction *open_ = nullptr;
    QAction *exit_ = nullptr;
    QIcon progressFrames_[2];
    bool inTray_ = false;
    bool enterQueued_ = false;
    // While the window hides in the tray: a tray that goes away (its panel ended) would leave
    // the window with no way back, so it is put back into the task bar, minimized.
    QTimer *trayCheck_;
};
