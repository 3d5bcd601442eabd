#include "app/PhotoCommands.h"

#include "app/AdvancedSettingsDlg.h"
#include "app/AutostartEntry.h"
#include "app/MainFrame.h"
#include "app/RecentFolders.h"
#include "app/RunFlags.h"
#include "browse/ImageView.h"
#include "browse/PhotoFolder.h"
#include "browse/PhotoListCommands.h"
#include "browse/ShellTree.h"
#include "browse/SlideShowDlg.h"
#include "browse/ThumbsView.h"
#include "platform/PhotoFiles.h"
#include "platform/Prompts.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "services/LiveUpdate.h"
#include "services/PhotoMailer.h"

#include <QDir>
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QScopedValueRollback>

#include <utility>

PhotoCommands::PhotoCommands(CMainFrame &frame, CommandContext context, QObject *parent)
    : QObject(parent), frame_(frame), context_(std::move(context)),
      listCommands_(new PhotoListCommands(*frame_.GetPhotoList(), *frame_.GetImageView(), *context_.prompts, this)),
      mailer_(new PhotoMailer(*context_.prompts, frame_.GetPhotoList(), this)),
      printOrder_(new PrintOrder(context_.openUrl, this)),
      liveUpdate_(new LiveUpdate(LiveUpdateContext{context_.settings, context_.store, context_.prompts, &frame_,
                                                   &context_.flags->noNewVersion, context_.updaterProgram},
                                 this))
{
    CThumbsView *list = frame_.GetPhotoList();
    connect(&frame_, &CMainFrame::commandRequested, this, &PhotoCommands::Run);
    connect(&frame_, &CMainFrame::recentFolderChosen, this, &PhotoCommands::OpenRecentFolder);
    connect(list, &CThumbsView::folderListed, this, &PhotoCommands::AddRecentFolder);
    connect(list, &CThumbsView::folderRead, this, &PhotoCommands::onFolderRead);
    connect(frame_.GetFolderTree(), &CShellTree::walkFinished, this, &PhotoCommands::onWalkFinished);
    connect(list, &CThumbsView::renameRequested, this, &PhotoCommands::RenamePhoto);
    connect(list, &CThumbsView::commandRequested, this, &PhotoCommands::RunListCommand);
    // The keyboard goes back to the main window once the mail program is done.
    connect(mailer_, &PhotoMailer::finished, &frame_, [this] { frame_.activateWindow(); });
    connect(liveUpdate_, &LiveUpdate::finished, this, [this](UpdateOutcome outcome) {
        if (outcome == UpdateOutcome::InstallStarted)
            QMetaObject::invokeMethod(&frame_, [this] { frame_.close(); }, Qt::QueuedConnection);
        else if (context_.flags->noNewVersion)
            context_.prompts->tell(QStringLiteral("There is no new version."), QStringLiteral("Quillmere"),
                                   PromptIcon::Information, &frame_);
    });

    // The thumbnail worker looks the record up on its own thread: it gets a record of its
    // own, not the settings.
    list->SetUploadedLookup([record = UploadRecord(context_.settings->executablePath)](const QStringList &paths) {
        PathDates uploaded;
        record.FindUploadedFiles(paths, uploaded);
        return uploaded;
    });

    recent_ = context_.store->ReadRecentFolders();
    frame_.SetRecentFolders(recent_);

    // The upload dialog goes away when it is minimized, and comes back with the main window.
    frame_.installEventFilter(this);
}

bool PhotoCommands::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &frame_ && event->type() == QEvent::WindowStateChange && !frame_.isMinimized()
        && activeUploadDialog_)
        activeUploadDialog_->Restore();
    return QObject::eventFilter(watched, event);
}

void PhotoCommands::Run(FrameCommand id)
{
    using C = FrameCommand;
    switch (id) {
    case C::SlideShow: ShowSlideShow(); break;
    case C::UploadPhoto: UploadThisPhoto(); break;
    case C::UploadFolder: UploadAllPhotos(); break;
    case C::BuyPhoto: BuyThisPhoto(); break;
    case C::BuyFolder: BuyAllPhotos(); break;
    case C::AdvancedSettings: ShowAdvancedSettings(); break;
    case C::LiveUpdate: OnLiveUpdate(); break;
    default: break; // the frame carries out the others itself
    }
}

void PhotoCommands::AddRecentFolder(const QString &path)
{
    recent_ = InsertRecentFolder(recent_, AbsoluteFolderPath(path));
    context_.store->WriteRecentFolders(recent_);
    frame_.SetRecentFolders(recent_);
}

void PhotoCommands::OpenRecentFolder(int n)
{
    // The store is read, not the list in memory: an entry changed by hand since start-up
    // is honoured.
    const QString path = context_.store->ReadRecentFolder(n);
    const QString shown = frame_.GetPhotoList()->currentFolder();
    if (!path.isEmpty() && path != shown) {
        const QFileInfo entry(path);
        if (entry.isDir()) {
            frame_.GetFolderTree()->SelectPath(WithoutVolumeRootSlash(path));
        } else if (entry.exists()) {
            // An entry naming a file: the walk down the tree ends on the folder holding it.
            if (entry.absolutePath() != shown)
                frame_.GetFolderTree()->SelectPath(entry.absolutePath());
        } else if (!context_.flags->quietRecentOpen) {
            reportFolderNotFound(path);
        }
    }
    context_.flags->quietRecentOpen = false;
}

void PhotoCommands::reportFolderNotFound(const QString &path)
{
    ReportFolderNotFound(*context_.prompts, path, &frame_);
}

bool PhotoCommands::OpenPath(const QString &path)
{
    const QFileInfo entry(path);
    if (!entry.exists()) {
        reportFolderNotFound(path);
        return false;
    }
    const QString folder = QDir::cleanPath(entry.isDir() ? entry.absoluteFilePath() : entry.absolutePath());
    pendingPhoto_ = !entry.isDir() && IsPhotoFile(path) ? QDir::cleanPath(entry.absoluteFilePath()) : QString();
    // The folder listed or being listed is not asked for again: its reading is all there is
    // to wait for.
    CThumbsView *list = frame_.GetPhotoList();
    if (QDir::cleanPath(list->currentFolder()) == folder) {
        if (!list->photos().isEmpty())
            showPendingPhoto(list->currentFolder());
        return true;
    }
    walkTarget_ = folder;
    CShellTree *tree = frame_.GetFolderTree();
    tree->SelectPath(folder);
    if (!tree->isWalking() && !walkTarget_.isEmpty()) // no place of the tree holds it
        onWalkFinished(QString());
    return true;
}

void PhotoCommands::onWalkFinished(const QString &reached)
{
    if (walkTarget_.isEmpty())
        return;
    const QString target = std::exchange(walkTarget_, QString());
    // The tree stops short of a hidden folder, and of one made after it read the folder
    // above: the folder asked for is listed all the same. A walk that ended elsewhere was
    // asked for later, and stands.
    const QString above = reached.endsWith(u'/') ? reached : reached + u'/';
    if (reached != target && (reached.isEmpty() || target.startsWith(above)))
        frame_.GetPhotoList()->ShowFolder(target);
}

void PhotoCommands::onFolderRead(const QString &folder)
{
    // While the tree still walks to the photo's folder, a folder read is one asked for before.
    if (!frame_.GetFolderTree()->isWalking())
        showPendingPhoto(folder);
}

void PhotoCommands::showPendingPhoto(const QString &listedFolder)
{
    if (pendingPhoto_.isEmpty())
        return;
    const QString photo = std::exchange(pendingPhoto_, QString());
    const QFileInfo info(photo);
    if (QDir::cleanPath(listedFolder) != info.path() || !info.isFile())
        return;
    // The list comes to the photo's page, as if the user had paged there and chosen it.
    CThumbsView *list = frame_.GetPhotoList();
    if (!list->ShowPhotoOnItsPage(FolderPrefix(list->currentFolder()) + info.fileName()))
        frame_.GetImageView()->SetFile(photo);
}

void PhotoCommands::UploadThisPhoto()
{
    const QString shown = frame_.GetImageView()->path();
    UploadPhotos(shown.isEmpty() ? QStringList() : QStringList{shown});
}

void PhotoCommands::UploadAllPhotos()
{
    UploadPhotos(frame_.GetPhotoList()->photos());
}

void PhotoCommands::UploadPhotos(const QStringList &sources)
{
    // The window is usable while an automatic upload runs hidden: a second dialog would take
    // the place of the first as the open one.
    if (sources.isEmpty() || uploadCommandRunning_ || activeUploadDialog_)
        return;
    const QScopedValueRollback running(uploadCommandRunning_, true);
    if (!ShowAccountSettings())
        return;
    const bool onlyNew = context_.flags->uploadOnlyNew;
    const std::optional<Candidates> found = collectCandidates(sources, onlyNew, buyMode_);
    if (!found)
        return;
    QStringList selection = sources;
    if (onlyNew) {
        newFiles_ = found->newFiles;
        knownFiles_ = found->knownFiles;
        selection = newFiles_.keys();
    }
    if (buyMode_)
        printOrderMap_ = found->printOrder;
    if (buyMode_ && selection.isEmpty()) {
        PlacePrintOrder();
        return;
    }
    const bool uploaded = RunUploadDialog(selection, false);
    if (buyMode_ && uploaded)
        PlacePrintOrder();
}

std::optional<PhotoCommands::Candidates> PhotoCommands::collectCandidates(const QStringList &sources, bool onlyNew,
                                                                          bool forPrintOrder)
{
    if (!onlyNew && !forPrintOrder)
        return Candidates{};
    std::optional<Candidates> found;
    QEventLoop loop;
    const quint64 request = work_.start(
        [record = UploadRecord(context_.settings->executablePath), sources, onlyNew,
         forPrintOrder](const WorkerTask &task) {
            Candidates c;
            const CancelToken::Blocking call = task.token().blocking();
            if (onlyNew)
                record.CollectUploadCandidates(sources, false, c.newFiles, c.knownFiles);
            if (forPrintOrder)
                for (const QString &path : sources)
                    if (const QString date = FileDateString(path); !date.isEmpty())
                        c.printOrder.insert(path, date);
            return c;
        },
        [&found, &loop](quint64, Candidates c) {
            found = std::move(c);
            loop.quit();
        });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    loop.exec();
    QApplication::restoreOverrideCursor();
    // The loop also ends when the program does: the answer must not come later.
    if (!found)
        work_.cancel(request);
    return found;
}

bool PhotoCommands::RunUploadDialog(const QStringList &selection, bool automatic)
{
    UploadDialogContext c;
    c.settings = context_.settings;
    c.prompts = context_.prompts;
    c.albumList = &albumList_;
    c.autoUploadRunning = &context_.flags->autoUploadRunning;
    c.automatic = automatic;
    c.showAccountSettings = [this] { return ShowAccountSettings(); };
    c.startUpload = [this](UploadDialog &dialog, UploadJob job) { StartUpload(dialog, std::move(job)); };
    c.showMainWindow = [this] {
        if (frame_.isMinimized())
            frame_.BringToFront();
    };
    c.minimizeMainWindow = [this] { frame_.showMinimized(); };
    c.parent = &frame_;
    UploadDialog dialog(c, selection);
    activeUploadDialog_ = &dialog;
    dialog.Run();
    activeUploadDialog_ = nullptr;
    // The run has ended by now (the dialog closes at its end), or the program is ending: then
    // it stops before its next block.
    upload_.reset();
    // Photos were recorded as uploaded: the list draws their marks anew.
    CThumbsView *list = frame_.GetPhotoList();
    if (dialog.model().recordChanged() && !list->isReadingFolder() && !list->currentFolder().isEmpty())
        list->StartThumbnailWorker();
    return dialog.uploadedSomething();
}

bool PhotoCommands::RunAutomaticUpload(const PathDates &newFiles, const PathDates &knownFiles)
{
    newFiles_ = newFiles;
    knownFiles_ = knownFiles;
    return RunUploadDialog(newFiles_.keys(), true);
}

void PhotoCommands::StartUpload(UploadDialog &dialog, UploadJob job)
{
    UploadControllerContext c;
    c.settings = *context_.settings;
    c.prompts = context_.prompts;
    c.promptParent = &dialog;
    c.stopNotifying = [this] {
        context_.settings->notifyIfUploadFails = 0;
        context_.store->SaveSettings(*context_.settings);
    };
    c.bringToFront = [this] {
        frame_.BringToFront();
        if (activeUploadDialog_)
            activeUploadDialog_->Restore();
    };
    upload_ = std::make_unique<UploadController>(dialog.model(), std::move(c));
    connect(upload_.get(), &UploadController::trayProgress, this, &PhotoCommands::uploadTrayProgress);
    connect(upload_.get(), &UploadController::trayProgressEnded, this, &PhotoCommands::uploadTrayProgressEnded);
    upload_->Start(std::move(job));
}

void PhotoCommands::PlacePrintOrder()
{
    printOrder_->PlacePrintOrder(*context_.settings, printOrderMap_);
}

void PhotoCommands::runBuy(const std::function<void()> &upload)
{
    buyMode_ = true;
    printOrderMap_.clear();
    upload();
    buyMode_ = false;
}

void PhotoCommands::BuyThisPhoto()
{
    runBuy([this] { UploadThisPhoto(); });
}

void PhotoCommands::BuyAllPhotos()
{
    runBuy([this] { UploadAllPhotos(); });
}

void PhotoCommands::BuyPhotos(const QStringList &sources)
{
    runBuy([this, &sources] { UploadPhotos(sources); });
}

bool PhotoCommands::ShowAccountSettings()
{
    AccountContext account;
    account.settings = context_.settings;
    account.store = context_.store;
    account.prompts = context_.prompts;
    account.albumList = &albumList_;
    account.uploadOnlyNew = &context_.flags->uploadOnlyNew;
    if (context_.verifyAccount)
        account.verify = context_.verifyAccount;
    account.parent = &frame_;
    return ::ShowAccountSettings(account);
}

void PhotoCommands::ShowAdvancedSettings()
{
    const AutostartEntry autostart(context_.autostartFolder.isEmpty() ? AutostartEntry::defaultFolder()
                                                                       : context_.autostartFolder);
    RunAdvancedSettings(*context_.settings, *context_.store, *context_.prompts, autostart,
                        QCoreApplication::applicationFilePath(), &frame_);
}

int PhotoCommands::SlideShowStart() const
{
    const CThumbsView *list = frame_.GetPhotoList();
    const QStringList photos = list->photos();
    const qsizetype shown = photos.indexOf(frame_.GetImageView()->path());
    if (shown >= 0)
        return int(shown);
    // The photo last shown from the list, counted from the first photo of its page.
    const int start = list->shownPage() * CThumbsView::PhotosPerPage + list->shownIndex();
    return start >= 0 && start < photos.size() ? start : 0;
}

void PhotoCommands::ShowSlideShow()
{
    const QStringList photos = frame_.GetPhotoList()->photos();
    if (photos.isEmpty())
        return;
    CSlideShowDlg slideShow(photos, SlideShowStart(), &frame_);
    slideShow.exec();
}

void PhotoCommands::SendPhotosByMail(const QStringList &paths)
{
    mailer_->SendPhotosByMail(paths);
}

void PhotoCommands::RenamePhoto(const QString &path, const QString &newName)
{
    listCommands_->RenamePhoto(path, newName);
}

void PhotoCommands::RunListCommand(ThumbsCommand command)
{
    const CThumbsView *list = frame_.GetPhotoList();
    // Uploading, buying and mailing want a selection mark.
    const bool marked = list->selectionMark() >= 0;
    switch (command) {
    case ThumbsCommand::UploadPhotos: if (marked) UploadPhotos(list->SelectedPaths()); break;
    case ThumbsCommand::BuyPhotos: if (marked) BuyPhotos(list->SelectedPaths()); break;
    case ThumbsCommand::SendAsEmail: if (marked) SendPhotosByMail(list->SelectedPaths()); break;
    case ThumbsCommand::DeletePhotos: listCommands_->DeletePhotos(); break;
    case ThumbsCommand::ExtendedPhotoInfo: listCommands_->ShowExtendedPhotoInfo(); break;
    case ThumbsCommand::ShowPhoto:
    case ThumbsCommand::RenamePhoto: break; // the list's own
    }
}

void PhotoCommands::OnLiveUpdate()
{
    if (liveUpdate_->running())
        return;
    context_.flags->noNewVersion = false;
    liveUpdate_->Start();
}
