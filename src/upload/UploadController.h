#pragma once

#include "platform/Settings.h"
#include "platform/Worker.h"
#include "upload/UploadJob.h"
#include "upload/UploadWorker.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class Prompts;
class QWidget;
class UploadDialogModel;
class UploadFailedDialog;

// What the upload dialog's run uses, lent by its creator.
struct UploadControllerContext {
    Settings settings; // a copy, taken when the upload starts
    Prompts *prompts = nullptr;
    QWidget *promptParent = nullptr; // the upload dialog: the failure prompt is its child
    // The failure prompt on the UI thread; empty: the "Upload failed" dialog.
    std::function<std::optional<FailureAnswer>(const UploadFailure &failure, QWidget *parent)> askAfterFailure;
    // On the UI thread: clears the held NotifyIfUploadFails and saves the settings.
    std::function<void()> stopNotifying;
    // On the UI thread: the main window forward, maximized, and the upload dialog with it.
    std::function<void()> bringToFront;
    // Called on the run's thread before it starts: tests put their seams in.
    std::function<void(UploadRun &run)> prepareRun;
};

// The upload dialog's side of an upload: runs the upload worker and the tray progress
// worker on the one worker model and carries their reports to the dialog's model on the UI
// thread; the failure prompt and the messages are asked there while the worker waits. The
// user's confirmed Stop (the model's `stopRequested`) stops the run before its next block, and
// answers a failure prompt that is waiting with "Stop Upload".
// Destroying the controller ends the run (nothing more is asked or shown, no half record is
// left) and does not wait for a network call that is stuck.
class UploadController : public QObject
{
    Q_OBJECT
public:
    UploadController(UploadDialogModel &model, UploadControllerContext context, QObject *parent = nullptr);
    ~UploadController() override;

    void Start(UploadJob job);
    bool running() const { return worker_.isPending(upload_); }

signals:
    // Every 500 ms while an upload runs: show tray frame 0 or 1 (`TrayProgressIcon`), and,
    // while the main window is minimized, the tip.
    void trayProgress(int frame, const QString &tip);
    // The upload is over: the tray goes back to the program icon and the tip "Quillmere".
    void trayProgressEnded();
    // The run has ended (also when it could not connect).
    void finished(const UploadRunResult &result);

private:
    class PostingFrontEnd;
    void startTray();
    void stopTray();

    UploadDialogModel &model_;
    UploadControllerContext context_;
    std::shared_ptr<UploadCancel> cancel_ = std::make_shared<UploadCancel>();
    quint64 upload_ = 0;
    quint64 tray_ = 0;
    bool trayRunning_ = false;
    QPointer<UploadFailedDialog> prompt_; // the failure prompt while it waits for its answer

    // The upload and its tray progress, each on a thread of its own.
    WorkerPool pool_{WorkerPool::Options{"qlm-upload", WorkPriority::Normal, 2}};
    Worker worker_{this, pool_}; // last: it ends first
};
