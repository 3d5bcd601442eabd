#include "upload/UploadController.h"

#include "platform/Prompts.h"
#include "upload/UploadDialogModel.h"
#include "upload/UploadFailedDialog.h"

#include <chrono>

// The run's front end on the worker's thread: every report is handed to the UI thread in
// order, every question asked there while the run waits. Nothing here touches the dialog
// from the worker's thread.
class UploadController::PostingFrontEnd : public UploadFrontEnd
{
public:
    PostingFrontEnd(const WorkerTask &task, UploadController *ui) : task_(task), ui_(ui) {}

    void UploadBegan() override
    {
        post([](UploadController &c) {
            c.startTray();
            c.model_.UploadBegan();
        });
    }
    void SetPhotoName(const QString &text) override
    {
        post([text](UploadController &c) { c.model_.SetPhotoName(text); });
    }
    void SetPhotoStatus(const QString &text) override
    {
        post([text](UploadController &c) { c.model_.SetPhotoStatus(text); });
    }
    void SetPhotoProgress(int percent) override
    {
        post([percent](UploadController &c) { c.model_.SetPhotoProgress(percent); });
    }
    void SetTotalStatus(const QString &text) override
    {
        post([text](UploadController &c) { c.model_.SetTotalStatus(text); });
    }
    void SetTotalProgress(int percent) override
    {
        post([percent](UploadController &c) { c.model_.SetTotalProgress(percent); });
    }
    void PhotoUploaded(int uploadedCount, const QString &, bool) override
    {
        post([uploadedCount](UploadController &c) { c.model_.PhotoUploaded(uploadedCount); });
    }
    void PhotoLeft(const QString &, const QString &) override {}
    void RunEnding() override
    {
        post([](UploadController &c) { c.stopTray(); });
    }
    void UploadEnded(bool completed) override
    {
        post([completed](UploadController &c) { c.model_.UploadEnded(completed); });
    }

    void Tell(const QString &text, const QString &caption) override
    {
        task_.ask([ui = ui_, text, caption] {
            ui->context_.prompts->tell(text, caption, PromptIcon::Error);
            return true;
        });
    }
    std::optional<FailureAnswer> AskAfterFailure(const UploadFailure &failure) override
    {
        const auto answer = task_.ask([ui = ui_, failure]() -> std::optional<FailureAnswer> {
            QWidget *parent = ui->context_.promptParent;
            if (ui->context_.askAfterFailure)
                return ui->context_.askAfterFailure(failure, parent);
            // A fresh prompt for each failure, gone once answered.
            UploadFailedDialog prompt(failure.message, failure.reason, parent);
            ui->prompt_ = &prompt;
            return prompt.Ask();
        });
        return answer ? *answer : std::nullopt;
    }
    void StopNotifying() override
    {
        post([](UploadController &c) {
            if (c.context_.stopNotifying)
                c.context_.stopNotifying();
        });
    }
    void BringToFront() override
    {
        post([](UploadController &c) {
            if (c.context_.bringToFront)
                c.context_.bringToFront();
        });
    }

private:
    template <typename F> void post(F f)
    {
        task_.post([ui = ui_, f = std::move(f)]() mutable { f(*ui); });
    }

    const WorkerTask &task_;
    UploadController *ui_; // reached only from calls handed to the UI thread
};

UploadController::UploadController(UploadDialogModel &model, UploadControllerContext context, QObject *parent)
    : QObject(parent), model_(model), context_(std::move(context))
{
    connect(&model_, &UploadDialogModel::stopRequested, this, [this] {
        cancel_->request();
        // The Stop is the answer: the prompt left waiting would hold the run, and with it the
        // dialog, until someone found it behind the dialog.
        if (prompt_)
            prompt_->done(UploadFailedDialog::StopCode);
    });
}

// The worker ends first (the last member): the run stops before its next block, and a call
// stuck on the network is left behind, touching nothing of this.
UploadController::~UploadController() = default;

void UploadController::Start(UploadJob job)
{
    if (running())
        return;
    upload_ = worker_.start(
        [this, job = std::move(job), settings = context_.settings, prepare = context_.prepareRun,
         cancel = cancel_](const WorkerTask &task) {
            PostingFrontEnd frontEnd(task, this);
            UploadRun run(settings, frontEnd, cancel, task.token());
            if (prepare)
                prepare(run);
            return run.Run(job);
        },
        [this](quint64, UploadRunResult result) {
            stopTray();
            emit finished(result);
        });
}

void UploadController::startTray()
{
    if (trayRunning_)
        return;
    trayRunning_ = true;
    tray_ = worker_.start(
        [this](const WorkerTask &task) {
            // The tip reads the model's latest percentage on the UI thread.
            for (int frame = 0; !task.cancelled(); frame ^= 1) {
                task.post([this, frame] {
                    if (trayRunning_)
                        emit trayProgress(frame, TrayProgressTip(model_.totalPercent()));
                });
                task.token().sleepFor(std::chrono::milliseconds(500));
            }
        },
        [](quint64) {});
}

void UploadController::stopTray()
{
    if (!trayRunning_)
        return;
    // A frame already on its way is dropped by the flag: the program icon comes last.
    trayRunning_ = false;
    worker_.cancel(tray_);
    emit trayProgressEnded();
}
