#pragma once

#include "app/FrameCommands.h"
#include "browse/ThumbsMenu.h"
#include "platform/Worker.h"
#include "services/PrintOrder.h"
#include "upload/AccountSettings.h"
#include "upload/UploadController.h"
#include "upload/UploadDialog.h"
#include "upload/UploadJob.h"
#include "upload/UploadRecord.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CMainFrame;
class LiveUpdate;
class PhotoListCommands;
class PhotoMailer;
class Prompts;
class SettingsStore;
struct RunFlags;
struct Settings;

// What the command controller works with, lent by the application object for the whole run.
struct CommandContext {
    Settings *settings = nullptr; // the held settings: UI thread only, a worker gets a copy
    RunFlags *flags = nullptr;
    SettingsStore *store = nullptr;
    Prompts *prompts = nullptr;
    AccountVerifier verifyAccount; // empty: the album service named by the settings
    UrlOpener openUrl = {};        // shows the print-order page; empty: the desktop's browser
    QString updaterProgram = {};   // empty: quillmere-updater beside the program
    QString autostartFolder = {};  // empty: the user's XDG autostart folder
};

// Where the commands of the main frame and the requests of the photo list meet the rest of the
// program. The frame only says which command was chosen (`commandRequested`, the recent-folder
// entries); the list says what it wants done to which photo. This runs each with what it owns:
// the recent-folder list and the fields that the upload, buy and tray commands share. Anything
// it starts on a worker gets a copy of what that worker reads.
class PhotoCommands : public QObject
{
    Q_OBJECT
public:
    PhotoCommands(CMainFrame &frame, CommandContext context, QObject *parent = nullptr);

    // A command of the frame whose work is not a pane's own.
    void Run(FrameCommand id);

    const QStringList &recentFolders() const { return recent_; }
    // A folder with photos was listed: it goes to the top of the recent folders.
    void AddRecentFolder(const QString &path);
    // Entry n (1 to 4) of the recent folders, as the store holds it now.
    void OpenRecentFolder(int n);
    // A folder or photo named on the command line, by this start or a later one: the folder
    // is listed, and the photo shown on its page of the list once it is. Where nothing is,
    // "Folder not found" is reported and false returned.
    bool OpenPath(const QString &path);

    // The upload commands. Each entry point gathers its source paths and hands them on to
    // UploadPhotos: the account dialog, the candidates (only the new photos when the user
    // asked for that), then the upload dialog; in buy mode the print order too. Nothing
    // happens without a source path, or while an upload command is already under way.
    void UploadThisPhoto();
    void UploadAllPhotos();
    virtual void UploadPhotos(const QStringList &sources);
    // Runs the upload dialog on these photos until it closes, as `activeUploadDialog`;
    // automatic: hidden, starting by itself. True when it uploaded something.
    bool RunUploadDialog(const QStringList &selection, bool automatic);
    // The camera and card watcher's run: the new photos it found, uploaded by the dialog in
    // automatic mode, with the account held in memory.
    bool RunAutomaticUpload(const PathDates &newFiles, const PathDates &knownFiles);
    // An upload command is between its account dialog and the end of its upload dialog.
    bool uploadCommandRunning() const { return uploadCommandRunning_; }
    // Start Upload passed its checks: the upload worker takes the job and reports to the
    // dialog's model.
    virtual void StartUpload(UploadDialog &dialog, UploadJob job);
    // The print order of the photos in the print-order map, in buy mode: at once when none
    // needed uploading, else after the dialog uploaded something.
    virtual void PlacePrintOrder();
    // The buy commands: the matching upload command, run in buy mode.
    void BuyThisPhoto();
    void BuyAllPhotos();
    void BuyPhotos(const QStringList &sources);

    // The account dialog: true when confirmed with a valid account, which is then held, with
    // its albums in `albumList` and the dialog's choice in `uploadOnlyNew`.
    bool ShowAccountSettings();
    virtual void ShowAdvancedSettings();
    virtual void ShowSlideShow();
    virtual void SendPhotosByMail(const QStringList &paths);
    virtual void RenamePhoto(const QString &path, const QString &newName);
    // A command of the photo list's pop-up menu that is not the list's own.
    void RunListCommand(ThumbsCommand command);
    // Where the slideshow starts: the photo the image view shows, when the list holds it.
    int SlideShowStart() const;
    virtual void OnLiveUpdate();

    // The fields the upload, buy and tray commands share.
    UploadDialog *activeUploadDialog() const { return activeUploadDialog_; }
    const QString &albumList() const { return albumList_; }
    bool buyMode() const { return buyMode_; }
    const PathDates &printOrderMap() const { return printOrderMap_; }
    const PathDates &newFiles() const { return newFiles_; }
    const PathDates &knownFiles() const { return knownFiles_; }

signals:
    // While an upload runs, every 500 ms: the tray shows frame 0 or 1 of its progress icon
    // and, while the main window is minimized, the tip.
    void uploadTrayProgress(int frame, const QString &tip);
    // The upload is over: the program icon and the tip "Quillmere" again.
    void uploadTrayProgressEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Candidates {
        PathDates newFiles;
        PathDates knownFiles;
        PathDates printOrder;
    };

    void runBuy(const std::function<void()> &upload);
    void reportFolderNotFound(const QString &path);
    void onWalkFinished(const QString &reached);
    void onFolderRead(const QString &folder);
    void showPendingPhoto(const QString &listedFolder);
    // Looks the sources up on a worker, the wait cursor showing meanwhile; nothing when the
    // program is ending.
    std::optional<Candidates> collectCandidates(const QStringList &sources, bool onlyNew, bool forPrintOrder);

    CMainFrame &frame_;
    CommandContext context_;
    QStringList recent_;
    QString walkTarget_;   // the folder of OpenPath while the tree walks to it
    QString pendingPhoto_; // shown once its folder has been listed
    PhotoListCommands *listCommands_;
    PhotoMailer *mailer_;
    PrintOrder *printOrder_;
    LiveUpdate *liveUpdate_;
    bool uploadCommandRunning_ = false;

    QPointer<UploadDialog> activeUploadDialog_; // the upload dialog while it is open
    QString albumList_;                         // the account's albums, each followed by ";;;"
    bool buyMode_ = false;                      // the upload command runs for a buy command
    PathDates printOrderMap_;                   // photo path to date text, the photos to buy
    PathDates newFiles_;                        // candidates to upload, with their date texts
    PathDates knownFiles_;                      // candidates uploaded and unchanged since
    std::unique_ptr<UploadController> upload_;  // the upload dialog's run; ends before the dialog

    WorkerPool pool_{WorkerPool::Options{"qlm-commands", WorkPriority::Normal, 1}};
    Worker work_{this, pool_}; // last: it ends first
};
