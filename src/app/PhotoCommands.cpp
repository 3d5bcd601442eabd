#include "app/PhotoCommands.h"

#include "app/MainFrame.h"
#include "app/RecentFolders.h"
#include "app/RunFlags.h"
#include "browse/ImageView.h"
#include "browse/PhotoListCommands.h"
#include "browse/ShellTree.h"
#include "browse/SlideShowDlg.h"
#include "browse/ThumbsView.h"
#include "platform/PhotoFiles.h"
#include "platform/Prompts.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "services/PhotoMailer.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

PhotoCommands::PhotoCommands(CMainFrame &frame, CommandContext context, QObject *parent)
    : QObject(parent), frame_(frame), context_(std::move(context)),
      listCommands_(new PhotoListCommands(*frame_.GetPhotoList(), *frame_.GetImageView(), *context_.prompts, this)),
      mailer_(new PhotoMailer(*context_.prompts, frame_.GetPhotoList(), this))
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

    // The thumbnail worker looks the record up on its own thread: it gets a record of its
    // own, not the settings.
    list->SetUploadedLookup([record = UploadRecord(context_.settings->executablePath)](const QStringList &paths) {
        PathDates uploaded;
        record.FindUploadedFiles(paths, uploaded);
        return uploaded;
    });

    recent_ = context_.store->ReadRecentFolders();
    frame_.SetRecentFolders(recent_);
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
    if (QDir::cleanPath(listedFolder) == info.path() && info.isFile())
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

void PhotoCommands::UploadPhotos(const QStringList &)
{
    // The upload dialog is not built yet: the command does nothing.
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
    // The Advanced Settings dialog is not built yet: the command does nothing.
}

int PhotoCommands::SlideShowStart() const
{
    const CThumbsView *list = frame_.GetPhotoList();
    const QStringList photos = list->photos();
    const qsizetype shown = photos.indexOf(frame_.GetImageView()->path());
    if (shown >= 0)
        return int(shown);
    // The photo last shown from the list, counted from the first photo of its page.
    const int start = list->pageIndex() * CThumbsView::PhotosPerPage + list->shownIndex();
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
    // The manual version check is not built yet: the command does nothing.
}
