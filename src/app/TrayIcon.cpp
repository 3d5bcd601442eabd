#include "app/TrayIcon.h"

#include "app/MainFrame.h"
#include "app/MediaWatcher.h"
#include "platform/Icons.h"
#include "upload/UploadDialog.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

TrayIcon::TrayIcon(TrayContext context, QObject *parent)
    : QObject(parent), context_(std::move(context)), icon_(new QSystemTrayIcon(ProgramIcon(), this)),
      menu_(new QMenu), progressFrames_{TrayProgressIcon(0), TrayProgressIcon(1)}, trayCheck_(new QTimer(this))
{
    trayCheck_->setInterval(2000);
    connect(trayCheck_, &QTimer::timeout, this, [this] {
        if (!inTray_ || trayAvailable())
            return;
        icon_->hide();
        inTray_ = false;
        trayCheck_->stop();
        context_.frame->showMinimized();
    });
    menu_->setObjectName(QStringLiteral("TrayMenu"));
    open_ = menu_->addAction(QStringLiteral("Open"));
    menu_->addSeparator();
    exit_ = menu_->addAction(QStringLiteral("Exit"));
    icon_->setToolTip(kTip);
    icon_->setContextMenu(menu_);
    connect(open_, &QAction::triggered, this, &TrayIcon::RestoreFromTray);
    connect(exit_, &QAction::triggered, this, &TrayIcon::Exit);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::DoubleClick)
            return;
        context_.frame->activateWindow();
        RestoreFromTray();
    });
    context_.frame->installEventFilter(this);
}

TrayIcon::~TrayIcon()
{
    if (context_.frame)
        context_.frame->removeEventFilter(this);
    // The icon goes before its menu, which has no parent: the icon does not own it.
    delete icon_;
    delete menu_;
}

bool TrayIcon::trayAvailable() const
{
    return context_.trayAvailable ? context_.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

UploadDialog *TrayIcon::activeUploadDialog() const
{
    return context_.activeUploadDialog ? context_.activeUploadDialog() : nullptr;
}

bool TrayIcon::isFrameMinimized() const
{
    return inTray_ || context_.frame->isMinimized();
}

void TrayIcon::StartMinimized()
{
    CMainFrame &frame = *context_.frame;
    if (trayAvailable()) {
        frame.setWindowState(frame.windowState() | Qt::WindowMinimized);
        enterTray();
    } else {
        frame.showMinimized();
    }
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == context_.frame) {
        if (event->type() == QEvent::WindowStateChange) {
            if (!context_.frame->isMinimized()) {
                leftMinimized();
            } else if (!inTray_ && !enterQueued_) {
                // After the frame's own handling of the minimize: hiding the window inside it
                // would be undone by the show that may follow (showMinimized).
                enterQueued_ = true;
                QTimer::singleShot(0, this, [this] {
                    enterQueued_ = false;
                    if (context_.frame->isMinimized() && !inTray_)
                        enterTray();
                });
            }
        } else if (event->type() == QEvent::WindowActivate) {
            // Brought forward by the window system while minimized (not by a click on the
            // window, which a minimized window cannot get), with an upload dialog open.
            if (isFrameMinimized() && activeUploadDialog())
                QTimer::singleShot(0, this, &TrayIcon::RestoreFromTray);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::enterTray()
{
    context_.watcher->Start();
    if (!trayAvailable())
        return; // minimized in the task bar, from where the window system restores it
    icon_->show();
    inTray_ = true;
    trayCheck_->start();
    context_.frame->hide();
}

void TrayIcon::leftMinimized()
{
    icon_->hide();
    inTray_ = false;
    trayCheck_->stop();
    context_.watcher->Stop();
}

void TrayIcon::RestoreFromTray()
{
    CMainFrame &frame = *context_.frame;
    leftMinimized();
    frame.setWindowState(frame.windowState() & ~Qt::WindowMinimized);
    frame.show();
    frame.raise();
    frame.activateWindow();
    if (UploadDialog *dialog = activeUploadDialog())
        dialog->Restore();
}

void TrayIcon::Exit()
{
    if (activeUploadDialog()) {
        RestoreFromTray();
        return;
    }
    // Posted, as the close request of the window system: the menu is still closing. Closing a
    // window hidden in the tray is not the last window closing, so the program is ended here.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (context_.frame->close())
                QCoreApplication::quit();
        },
        Qt::QueuedConnection);
}

void TrayIcon::ShowProgress(int frame, const QString &tip)
{
    icon_->setIcon(progressFrames_[frame & 1]);
    if (!isFrameMinimized() || icon_->toolTip() == tip)
        return;
    setTip(tip);
}

void TrayIcon::setTip(const QString &tip)
{
    icon_->setToolTip(tip);
    // A tip already up is not redrawn by the icon: while the pointer rests on the icon, the
    // percentage would stand still.
    if (QToolTip::isVisible() && icon_->geometry().contains(QCursor::pos()))
        QToolTip::showText(QCursor::pos(), tip);
}

void TrayIcon::EndProgress()
{
    icon_->setIcon(ProgramIcon());
    setTip(kTip);
}
