#pragma once

#include "platform/Settings.h"
#include "platform/Worker.h"
#include "upload/UploadJob.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;
struct ServiceAddress;

// The upload run: the photos of a job sent one after another to the album service, with the
// progress, the failure questions and the record of what arrived. Plain code over small
// interfaces (the album client, the front end that shows and asks, the cancel signal), so
// that the upload dialog and `quillmere --upload` run the very same loop.

// False when a reply holds markup: any "<" or ">" (an HTML error page is no reason to show).
bool IsPlainReply(const QString &text);

// The reply without the junk at its end: up to 100 times, the run of one trailing character
// that is a blank or control character, "{", "|", "}", "~" or DEL is cut off. Beyond ASCII only
// blanks, control and format characters and the replacement character count as junk: a
// reason that ends in a letter such as "é" keeps it.
QString TrimReplyText(QString text);

// What the photo status shows for a failed photo's result text: "File upload failed!" for
// an empty text or one with markup; otherwise the trimmed text cut after its last "."
// (its first sentences), which is then also the failure's `reason`.
QString FailedPhotoStatus(const QString &resultText, QString *reason = nullptr);

// The album a photo goes to when none was chosen: the name of the folder that holds it.
QString FolderAlbumName(const QString &photoPath);

// part / whole in percent, truncated, from 0 to 100. Nothing to send counts as all sent.
int UploadPercent(double part, double whole);

// "Quillmere (uploading photos) - 42%", the tray's tip while an upload runs.
QString TrayProgressTip(int percent);

// A user's Stop: the flag, then the auto-reset event. The run tests the flag before each
// photo and the event (consuming it) with the flag before each block. Each side has one
// writer and no lock; every call is async-signal-safe, so a signal handler may stop a run.
class UploadCancel
{
public:
    void request()
    {
        flag_ = true;
        event_ = true;
    }
    bool requested() const { return flag_; }
    // The event, consumed, and the flag: a block is not to be sent.
    bool consume() { return event_.exchange(false) && flag_; }

private:
    std::atomic<bool> flag_{false};
    std::atomic<bool> event_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

// The album client as the run uses it: one object per photo, each call blocking, failures
// thrown as `CQLMException *`.
class AlbumUploader
{
public:
    virtual ~AlbumUploader() = default;
    virtual void startUpload(const QString &email, const QString &password, const QString &album,
                             const QString &path) = 0;
    virtual void uploadChunk(const char *data, int size) = 0;
    virtual void endUpload() = 0;
};

// The album service's own client at `address`.
std::unique_ptr<AlbumUploader> ServiceUploader(const ServiceAddress &address);

// The connection test that comes before any photo: an empty text when the service answers;
// otherwise what went wrong ("Unknown exception!" when nothing says what).
QString ConnectHttpSession(const ServiceAddress &address);

// A photo's attempt failed, and the user may be asked what to do next.
struct UploadFailure {
    QString photoPath;
    QString message; // "The upload of IMG_0042.JPG failed."
    QString reason;  // what the photo status shows: the service's reason, or "File upload failed!"
    int status = 0;  // the service's HTTP status; 0 when no answer came
};

enum class FailureChoice { TryAgain, Continue, Stop };
struct FailureAnswer {
    FailureChoice choice = FailureChoice::TryAgain;
    bool dontShowAgain = false;
};

// Where a run shows its progress and asks its questions: the upload dialog, or standard
// error. Called on the run's thread, in the order the user would see them.
class UploadFrontEnd
{
public:
    virtual ~UploadFrontEnd() = default;

    // The photos are about to go: Close reads "Stop", the selection is locked.
    virtual void UploadBegan() = 0;
    virtual void SetPhotoName(const QString &text) = 0;
    virtual void SetPhotoStatus(const QString &text) = 0;
    virtual void SetPhotoProgress(int percent) = 0;
    virtual void SetTotalStatus(const QString &text) = 0;
    virtual void SetTotalProgress(int percent) = 0;
    // The service filed the photo whole; `recorded` says whether the record took it.
    virtual void PhotoUploaded(int uploadedCount, const QString &photoPath, bool recorded) = 0;
    // The run leaves a photo behind unsent, for `reason`.
    virtual void PhotoLeft(const QString &photoPath, const QString &reason) = 0;
    // The loop is over; the tray stops blinking.
    virtual void RunEnding() = 0;
    // The final status; the dialog then closes.
    virtual void UploadEnded(bool completed) = 0;

    // A message with the error icon.
    virtual void Tell(const QString &text, const QString &caption) = 0;
    // The failure prompt; empty when nobody can answer any more (the program is ending).
    virtual std::optional<FailureAnswer> AskAfterFailure(const UploadFailure &failure) = 0;
    // The user asked for no more failure prompts: the setting is cleared and saved.
    virtual void StopNotifying() = 0;
    // During an automatic upload, before a message: the main window comes forward.
    virtual void BringToFront() = 0;
};

struct UploadRunResult {
    bool connected = false;
    bool completed = false; // "Upload process completed."
    int uploaded = 0;
};

class UploadRun
{
public:
    // Reads of `settings` (a copy): the service, the data folder (the record, the resume
    // record), AutomaticResize, MaxPixelSize and NotifyIfUploadFails. The run stops as the
    // user's Stop says, and also once `token` is cancelled (its owner is ending).
    UploadRun(Settings settings, UploadFrontEnd &frontEnd, std::shared_ptr<UploadCancel> cancel,
              CancelToken token = {});
    ~UploadRun();
    UploadRun(const UploadRun &) = delete;
    UploadRun &operator=(const UploadRun &) = delete;

    // Seams: the client for each photo, the connection test, the pause before the final
    // status (1 s: the last photo's status stays readable for a moment).
    void setClientFactory(std::function<std::unique_ptr<AlbumUploader>()> factory);
    void setConnectionTest(std::function<QString()> test);
    void setPauseBeforeEnd(std::chrono::milliseconds pause) { pause_ = pause; }

    UploadRunResult Run(const UploadJob &job);

    static constexpr int kBlockSize = 65536;

private:
    struct FileResult {
        int code = 1; // 0 sent, 13 cancelled, 1 failed
        QString text;
        int status = 0;
    };
    FileResult uploadFile(const UploadJob &job, const QString &album, const QString &sendPath,
                          const QString &photoPath);
    QString sendPathFor(const QString &photoPath);
    bool stopRequested() const;
    void showTotal(int percent);
    void showPhoto(int percent);

    Settings settings_;
    UploadFrontEnd &ui_;
    std::shared_ptr<UploadCancel> cancel_;
    CancelToken token_;
    std::function<std::unique_ptr<AlbumUploader>()> newClient_;
    std::function<QString()> connectionTest_;
    std::chrono::milliseconds pause_{1000};
    std::unique_ptr<QTemporaryDir> copies_; // the resized copies of this run

    qint64 sentBytes_ = 0;
    double total_ = 0;
    int shownTotal_ = -1;
    int shownPhoto_ = -1;
};
